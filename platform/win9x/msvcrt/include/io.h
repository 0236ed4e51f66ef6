// The C runtime's <io.h> as a kit program sees it on the host: _access over the simulated
// machine's files (msvcrt/msvcrt.h).
#pragma once

#include "../msvcrt.h"

#define _access w9x_access
