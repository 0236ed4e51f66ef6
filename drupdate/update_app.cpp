#include "update_app.h"

#include <cstring>

#include "fixups.h"
#include "model_query.h"

const char kLauncherTitle[] = "KVO Unity Pack for Windows(R) 98 Second Edition";

namespace {

const char kClosingMessage[] = "更新処理が終了しました。コンピュータを再起動してください。";
const char kSetupReminder[] = "\n再起動後、Windows(R) 98 Second Edition のセットアップをおこなってください。";
const char kClosingTitle[] = "KVO ユニティパック for Windows(R) 98 Second Edition";

constexpr int kJapaneseKeyboard = 7;
constexpr UINT kSubtypeMissing = 0x7FFF;

}  // namespace

UpdateApp& TheApp() { return *static_cast<UpdateApp*>(AfxGetApp()); }

UpdateApp::UpdateApp() = default;
UpdateApp::~UpdateApp() = default;

void UpdateApp::ClassifyWindows(const OSVERSIONINFOA& version) {
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      OsKind = kOsWin32s;
      break;
    case VER_PLATFORM_WIN32_WINDOWS:
      OsKind = version.dwMajorVersion == 4 && version.dwMinorVersion == 10 ? kOsWin98 : kOsWin9x;
      BuildNumber = version.dwBuildNumber & 0xFFFF;
      if (OsKind == kOsWin98 && BuildNumber == 2222) OsKind = kOsWin98Se;
      break;
    case VER_PLATFORM_WIN32_NT:
      OsKind = kOsWinNt;
      break;
    default:
      OsKind = 0;
      break;
  }
}

int UpdateApp::LocateIni() {
  // The help-file path is the program's full path; its folder is everything up to the last
  // backslash.
  const char* path = m_pszHelpFilePath ? m_pszHelpFilePath : "";
  const char* end = path;
  for (const char* p = path; *p; p = CharNextA(p))
    if (*p == '\\') end = p + 1;
  AppDir = CString(path, static_cast<int>(end - path));
  IniPath = AppDir + "DRUPDATE.INI";
  return 1;
}

int UpdateApp::KeyboardCheck() {
  if (GetKeyboardType(0) != kJapaneseKeyboard) return 1;
  const int subtype_family = (GetKeyboardType(1) >> 8) & 0xFF;
  if (subtype_family != 0) return subtype_family == 0x0D ? 0 : 1;
  char windows[260] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  CString system_ini = windows;
  if (!EndsWithBackslash(system_ini)) system_ini += '\\';
  system_ini += "SYSTEM.INI";
  return GetPrivateProfileIntA("keyboard", "subtype", kSubtypeMissing, system_ini) == kSubtypeMissing ? 0 : 1;
}

void UpdateApp::RunFixups() {
  if (OsKind == kOsWin98Se) {
    if (KeyboardCheck()) RemoveInt0800Keys();
    if (KeyboardCheck()) AppendAutoexecFlashLine();
  } else if (OsKind == kOsWin9x) {
    if (KeyboardCheck()) RemoveNetOverrideKey();
    if (!KeyboardCheck()) RemoveKeyboardSubtype();
    RemovePadInfFiles();
  }
}

BOOL UpdateApp::InitInstance() {
  InstanceMutex = CreateMutexA(nullptr, FALSE, m_pszExeName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) return FALSE;

  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return FALSE;
  ClassifyWindows(version);

  LocateIni();
  const int target = static_cast<int>(GetPrivateProfileIntA("General", "Target", -1, IniPath));
  if (target != -1 && (target & OsKind) == 0) return FALSE;

  if (!Commands.Load()) return FALSE;
  Commands.RunPass(0);

  char model[512];
  std::memset(model, 0, sizeof model);
  if (KeyboardCheck()) QueryModelName(model);
  if (model[0]) {
    for (char* p = model; *p; p = CharNextA(p)) {
      if (*p == ' ') {
        *p = '\0';
        break;
      }
    }
    ModelName = model;
  }

  Commands.RunPass(1);
  RunFixups();

  Sleep(2500);
  if (HWND launcher = FindWindowA(nullptr, kLauncherTitle)) ShowWindow(launcher, SW_HIDE);

  CString message = kClosingMessage;
  if (!KeyboardCheck() && OsKind != kOsWin98Se) message += kSetupReminder;
  MessageBoxA(nullptr, message, kClosingTitle, MB_OK | MB_ICONINFORMATION);
  return FALSE;
}
