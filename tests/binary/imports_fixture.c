/* A program with the three kinds of import the binary check refuses: a wide-character function,
   a function missing from the list of Windows 95 functions, and a DLL outside the system's. */
#include <windows.h>
#include <shellapi.h>

void Start(void) {
  HMODULE self = GetModuleHandleW(NULL);
  DWORD ticks = GetTickCount();
  ShellExecuteA(NULL, "open", "A.TXT", NULL, NULL, SW_SHOWNORMAL);
  ExitProcess(self && ticks ? 0 : 1);
}
