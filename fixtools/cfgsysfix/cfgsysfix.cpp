// cfgsysfix: a windowless tool that runs once and reports only through its exit code.
#include <windows.h>

#include "config_sys.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return FixConfigSys(); }
