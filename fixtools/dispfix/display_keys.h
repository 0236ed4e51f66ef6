// dispfix: removes the root-enumerated display device that names the PCI display adapter
// 102B:0519, and that adapter's PCI enumeration key.
#pragma once

#include <windows.h>

// The whole run of the tool; its exit code, always 1.
int FixDisplayKeys(void);
