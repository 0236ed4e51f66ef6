// CWinApp: the application object.  The framework's WinMain finds the one instance, gives it
// the program's name and help-file path, and calls InitInstance; when that returns FALSE the
// program ends at once (no window, no message loop).
#pragma once

#include <windows.h>

class CWinApp {
 public:
  explicit CWinApp(LPCSTR app_name = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return TRUE; }
  virtual int Run();
  virtual int ExitInstance() { return 0; }

  // Fills the values below from the program's module path (the framework does this before
  // InitInstance).
  void SetCurrentHandles(HINSTANCE instance, LPSTR command_line, int show);

  LPCSTR m_pszAppName = nullptr;       // the name given to the constructor, else the program name
  LPCSTR m_pszExeName = nullptr;       // program file name without folder and extension
  LPCSTR m_pszHelpFilePath = nullptr;  // program's full path with ".HLP" for its extension
  HINSTANCE m_hInstance = nullptr;
  LPSTR m_lpCmdLine = nullptr;
  int m_nCmdShow = SW_SHOWNORMAL;

 private:
  char* app_name_ = nullptr;
  char* exe_name_ = nullptr;
  char* help_path_ = nullptr;
};

// The application object of the program (null while there is none).
CWinApp* AfxGetApp();
