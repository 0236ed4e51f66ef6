// The C runtime's <stdio.h> as a kit program sees it on the host: the system's header, with
// fopen opening the simulated machine's files (msvcrt/msvcrt.h).  Only the programs' own
// sources see this header; the platform and the tests call the functions by their own names.
#pragma once

#include_next <stdio.h>

#include "../msvcrt.h"

#define fopen w9x_fopen
