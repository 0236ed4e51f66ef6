// The update program's application object and its one straight run.
#pragma once

#include <windows.h>

#include "afx/app.h"
#include "afx/string.h"
#include "update_command.h"

// One bit per kind of Windows, so that script masks can name several at once.
enum : int {
  kOsWin32s = 1,
  kOsWin9x = 2,        // Windows 9x other than version 4.10
  kOsWin98 = 4,        // 4.10, any build but 2222
  kOsWinNt = 8,
  kOsWin98Se = 128,    // 4.10 build 2222
};

class UpdateApp : public CWinApp {
 public:
  UpdateApp();
  ~UpdateApp() override;

  BOOL InitInstance() override;

  // Sets AppDir (the program's folder, ending in a backslash) and IniPath.
  int LocateIni();
  // True for one of the two keyboard families; evaluated afresh at every call.
  int KeyboardCheck();
  // Sets OsKind and BuildNumber from what GetVersionExA reported.
  void ClassifyWindows(const OSVERSIONINFOA& version);

  HANDLE InstanceMutex = nullptr;  // never closed: the system releases it when the program ends
  CommandList Commands;
  CString AppDir;
  CString IniPath;
  int OsKind = 0;
  DWORD BuildNumber = 0;  // low 16 bits of the build number, on Windows 9x only
  CString ModelName;

 private:
  void RunFixups();
};

// The program's application object.
UpdateApp& TheApp();

// The title of the kit launcher's window, which the program hides before its closing message.
extern const char kLauncherTitle[];
