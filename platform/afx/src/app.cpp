#include "afx/app.h"

#include <cstring>

namespace {

CWinApp* g_app = nullptr;

char* Copy(const char* s, std::size_t n) {
  char* c = new char[n + 1];
  std::memcpy(c, s, n);
  c[n] = '\0';
  return c;
}

}  // namespace

CWinApp* AfxGetApp() { return g_app; }

CWinApp::CWinApp(LPCSTR app_name) {
  if (app_name) app_name_ = Copy(app_name, std::strlen(app_name));
  m_pszAppName = app_name_;
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
  delete[] app_name_;
  delete[] exe_name_;
  delete[] help_path_;
}

int CWinApp::Run() { return ExitInstance(); }

void CWinApp::SetCurrentHandles(HINSTANCE instance, LPSTR command_line, int show) {
  m_hInstance = instance;
  m_lpCmdLine = command_line;
  m_nCmdShow = show;

  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[n < MAX_PATH ? n : MAX_PATH] = '\0';

  // Last backslash and the last dot after it, found double-byte aware.
  char* name = path;
  char* dot = nullptr;
  for (char* p = path; *p; p = CharNextA(p)) {
    if (*p == '\\') {
      name = p + 1;
      dot = nullptr;
    } else if (*p == '.') {
      dot = p;
    }
  }
  const std::size_t path_end = dot ? static_cast<std::size_t>(dot - path) : std::strlen(path);

  delete[] exe_name_;
  exe_name_ = Copy(name, path + path_end - name);
  m_pszExeName = exe_name_;

  delete[] help_path_;
  help_path_ = new char[path_end + 5];
  std::memcpy(help_path_, path, path_end);
  std::memcpy(help_path_ + path_end, ".HLP", 5);
  m_pszHelpFilePath = help_path_;

  if (!m_pszAppName) m_pszAppName = m_pszExeName;
}
