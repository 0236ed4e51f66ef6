// dispfix: a windowless tool that runs once; its exit code is always 1.
#include <windows.h>

#include "display_keys.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return FixDisplayKeys(); }
