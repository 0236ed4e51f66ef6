// TALMORIX: takes Windows down (log-off, shutdown, restart or power-off, optionally forced) with
// the flags of its settings, after an optional delay and confirmation; started with "setup" it
// shows a small window whose menu edits and saves those settings.
//
// Two threads.  The main thread runs WinMain, the window procedure, the shutdown sequence and the
// modal query dialog.  The shutdown thread only calls ExitWindowsEx with uExitFlags and then
// posts WM_QUIT to the main window; both values are written before the thread is created, so no
// lock is needed.  The exit code is 0 on every path.
#include "talmorix.h"

// ---------------------------------------------------------------------------------------------
// Settings

BOOL bQueryFlag = 1;
UINT uExitFlags = EWX_SHUTDOWN | EWX_POWEROFF;
int nWait = -1;

const char szSystemIni[11] = "system.ini";
const char szSection[9] = "PowerOff";
const char szYes[4] = "Yes";
const char szNo[3] = "No";

namespace {

// The two words SYSTEM.INI stores by name; every other word is stored bit by bit.
constexpr UINT kStandardFlags = EWX_SHUTDOWN | EWX_POWEROFF;             // 9
constexpr UINT kForcedFlags = EWX_SHUTDOWN | EWX_FORCE | EWX_POWEROFF;   // 13

// True when the key's value, read with the default, equals `value` ignoring case.  The buffer
// holds 7 characters, so only the first 7 of a longer value take part.
bool ProfileIs(LPCSTR lpKey, LPCSTR lpDefault, LPCSTR lpValue) {
  char szBuf[8];
  GetPrivateProfileStringA(szSection, lpKey, lpDefault, szBuf, sizeof szBuf, szSystemIni);
  return lstrcmpiA(szBuf, lpValue) == 0;
}

LPCSTR YesNo(BOOL bSet) { return bSet ? szYes : szNo; }

}  // namespace

void LoadFlags() {
  nWait = static_cast<int>(GetPrivateProfileIntA(szSection, "Wait", -1, szSystemIni));
  bQueryFlag = ProfileIs("QueryUser", szYes, szNo) ? 0 : 1;
  uExitFlags = ProfileIs("DefMood", szYes, szNo) ? kForcedFlags : kStandardFlags;
  if (!ProfileIs("UserSet", szNo, szYes)) return;
  // The four keys toggle bits of the word chosen above; after a save that word is always 9.
  if (ProfileIs("SHUTDOWN", szYes, szNo)) uExitFlags ^= EWX_SHUTDOWN;
  if (ProfileIs("REBOOT", szNo, szYes)) uExitFlags ^= EWX_REBOOT;
  if (ProfileIs("FORCE", szNo, szYes)) uExitFlags ^= EWX_FORCE;
  if (ProfileIs("POWEROFF", szYes, szNo)) uExitFlags ^= EWX_POWEROFF;
}

void SaveFlags() {
  // Every save writes all eight keys; a null value removes its key, so nothing of an earlier save
  // is left over.  "Wait" is never touched.
  LPCSTR lpDefMood = nullptr, lpUserSet = nullptr, lpLogoff = nullptr;
  LPCSTR lpShutdown = nullptr, lpReboot = nullptr, lpForce = nullptr, lpPoweroff = nullptr;
  if (uExitFlags == kForcedFlags) {
    lpDefMood = szNo;
  } else if (uExitFlags != kStandardFlags) {
    lpUserSet = szYes;
    lpLogoff = YesNo(uExitFlags == EWX_LOGOFF);
    lpShutdown = YesNo(uExitFlags & EWX_SHUTDOWN);
    lpReboot = YesNo(uExitFlags & EWX_REBOOT);
    lpForce = YesNo(uExitFlags & EWX_FORCE);
    lpPoweroff = YesNo(uExitFlags & EWX_POWEROFF);
  }
  WritePrivateProfileStringA(szSection, "QueryUser", bQueryFlag ? nullptr : szNo, szSystemIni);
  WritePrivateProfileStringA(szSection, "DefMood", lpDefMood, szSystemIni);
  WritePrivateProfileStringA(szSection, "UserSet", lpUserSet, szSystemIni);
  WritePrivateProfileStringA(szSection, "LOGOFF", lpLogoff, szSystemIni);
  WritePrivateProfileStringA(szSection, "SHUTDOWN", lpShutdown, szSystemIni);
  WritePrivateProfileStringA(szSection, "REBOOT", lpReboot, szSystemIni);
  WritePrivateProfileStringA(szSection, "FORCE", lpForce, szSystemIni);
  WritePrivateProfileStringA(szSection, "POWEROFF", lpPoweroff, szSystemIni);
}

void SetMenuCheck() {
  auto mark = [](UINT uId, bool bChecked) {
    CheckMenuItem(hMenu, uId, MF_BYCOMMAND | (bChecked ? MF_CHECKED : MF_UNCHECKED));
  };
  mark(IDM_QUERY, bQueryFlag != 0);
  mark(IDM_LOGOFF, uExitFlags == EWX_LOGOFF);
  mark(IDM_SHUTDOWN, (uExitFlags & EWX_SHUTDOWN) != 0);
  mark(IDM_REBOOT, (uExitFlags & EWX_REBOOT) != 0);
  mark(IDM_FORCE, (uExitFlags & EWX_FORCE) != 0);
  mark(IDM_POWEROFF, (uExitFlags & EWX_POWEROFF) != 0);
}

// ---------------------------------------------------------------------------------------------
// Start-up

BOOL bSetup = 0;
char szAppName[100];
char szTitle[100];
HINSTANCE hInst;
HMENU hMenu;
HACCEL hAccel;
HWND g_hWndParent = nullptr;

BOOL IsSetupCommandLine(LPCSTR lpCmdLine) { return lpCmdLine && lstrcmpiA(lpCmdLine, "setup") == 0; }

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow) {
  lstrcpyA(szAppName, "TALMORIX");
  LoadStringA(hInstance, IDS_TITLE, szTitle, sizeof szTitle);

  // Only "setup" shows the window; every other start keeps it hidden and shuts down.
  if (IsSetupCommandLine(lpCmdLine))
    bSetup = 1;
  else
    nCmdShow = SW_HIDE;

  if (!InitApplication(hInstance, nCmdShow)) return 0;
  if (!InitInstance(hInstance, nCmdShow)) return 0;

  MSG msg = {};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorA(msg.hwnd, hAccel, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

BOOL InitApplication(HINSTANCE hInstance, int nCmdShow) {
  // One instance at a time: a second start only shows (setup) or hides (plain) the first one's
  // window, even while it is hidden.
  HWND hWnd = FindWindowA(szAppName, szTitle);
  if (hWnd) {
    ShowWindow(hWnd, nCmdShow);
    return 0;
  }

  WNDCLASSA wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WndProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = hInstance;
  wc.hIcon = LoadIconA(hInstance, szAppName);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = szAppName;

  // Windows 95 and later of the 9x family register with a small icon; NT and older 9x plainly.
  const DWORD dwVersion = GetVersion();
  ATOM atom;
  if (!(dwVersion & 0x80000000) || LOBYTE(LOWORD(dwVersion)) < 4)
    atom = RegisterClassA(&wc);
  else
    atom = MyRegisterClass(&wc);
  return static_cast<WORD>(atom);
}

ATOM MyRegisterClass(const WNDCLASSA* lpwc) {
  using RegisterClassExProc = ATOM(WINAPI*)(const WNDCLASSEXA*);
  HMODULE hUser = GetModuleHandleA("USER32");
  FARPROC proc = hUser ? GetProcAddress(hUser, "RegisterClassExA") : nullptr;
  if (!proc) return RegisterClassA(lpwc);

  WNDCLASSEXA wcex;
  wcex.cbSize = sizeof wcex;
  wcex.style = lpwc->style;
  wcex.lpfnWndProc = lpwc->lpfnWndProc;
  wcex.cbClsExtra = lpwc->cbClsExtra;
  wcex.cbWndExtra = lpwc->cbWndExtra;
  wcex.hInstance = lpwc->hInstance;
  wcex.hIcon = lpwc->hIcon;
  wcex.hCursor = lpwc->hCursor;
  wcex.hbrBackground = lpwc->hbrBackground;
  wcex.lpszMenuName = lpwc->lpszMenuName;
  wcex.lpszClassName = lpwc->lpszClassName;
  // There is no icon "SMALL": the system takes the small image from the icon group.
  wcex.hIconSm = LoadIconA(lpwc->hInstance, "SMALL");
  return reinterpret_cast<RegisterClassExProc>(reinterpret_cast<void*>(proc))(&wcex);
}

BOOL InitInstance(HINSTANCE hInstance, int nCmdShow) {
  hInst = hInstance;
  hMenu = LoadMenuA(hInstance, szAppName);
  hAccel = LoadAcceleratorsA(hInstance, szAppName);

  // Frame, title bar and menu bar, no client area.
  int nHeight = 2 * GetSystemMetrics(SM_CYDLGFRAME);
  nHeight += GetSystemMetrics(SM_CYCAPTION);
  nHeight += GetSystemMetrics(SM_CYMENU);

  HWND hWnd = CreateWindowExA(0, szAppName, szTitle, WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, 0, 300, nHeight,
                              nullptr, hMenu, hInstance, nullptr);
  if (!hWnd) return 0;
  ShowWindow(hWnd, nCmdShow);
  UpdateWindow(hWnd);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// The main window

LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      LoadFlags();
      SetMenuCheck();
      if (!bSetup) {
        if (nWait == -1)
          PostMessageA(hWnd, WM_COMMAND, IDM_SHUTDOWN_NOW, 0);
        else if (nWait == 0)
          ShutDownProc(hWnd);  // still inside CreateWindowExA, before the window is shown
        else
          SetTimer(hWnd, 1, static_cast<UINT>(nWait), nullptr);
      }
      return 0;

    case WM_TIMER:
      KillTimer(hWnd, 1);
      ShutDownProc(hWnd);
      return 0;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_DEFAULT:
          bQueryFlag = 1;
          uExitFlags = kStandardFlags;
          break;
        case IDM_SAVE:
          SaveFlags();
          return 0;
        case IDM_QUERY:
          bQueryFlag = bQueryFlag ? 0 : 1;
          break;
        case IDM_LOGOFF:
          uExitFlags = EWX_LOGOFF;
          break;
        case IDM_SHUTDOWN:
          uExitFlags ^= EWX_SHUTDOWN;
          break;
        case IDM_REBOOT:
          uExitFlags ^= EWX_REBOOT;
          break;
        case IDM_FORCE:
          uExitFlags ^= EWX_FORCE;
          break;
        case IDM_POWEROFF:
          uExitFlags ^= EWX_POWEROFF;
          break;
        case IDM_HIDE:
          ShowWindow(hWnd, SW_HIDE);
          return 0;
        case IDM_EXIT:
          DestroyWindow(hWnd);
          return 0;
        case IDM_SHUTDOWN_NOW:
          ShutDownProc(hWnd);
          return 0;
        default:
          return DefWindowProcA(hWnd, message, wParam, lParam);
      }
      SetMenuCheck();
      return 0;

    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;

    default:
      return DefWindowProcA(hWnd, message, wParam, lParam);
  }
}

// ---------------------------------------------------------------------------------------------
// The shutdown

void ShutDownProc(HWND hWnd) {
  INT_PTR nRes = IDOK;
  g_hWndParent = hWnd;
  if (bQueryFlag) {
    const int nTemplate = (uExitFlags & EWX_FORCE) ? IDD_QUERY_FORCE : IDD_QUERY;
    nRes = DialogBoxParamA(hInst, MAKEINTRESOURCEA(nTemplate), nullptr, QueryDlgProc, 0);
  }
  switch (nRes) {
    case IDOK:
      break;
    case IDNO:
      uExitFlags &= ~static_cast<UINT>(EWX_FORCE);  // this run only; the file keeps it
      break;
    default:  // IDCANCEL, or -1 when the dialog could not be made
      DestroyWindow(hWnd);
      return;
  }
  HANDLE hThread = CreateThread(nullptr, 0, ShutdownThread, nullptr, 0, nullptr);
  if (hThread) {
    CloseHandle(hThread);
  } else {
    // Without the thread nothing would ever end this hidden program: end it without a shutdown.
    DestroyWindow(hWnd);
  }
}

DWORD WINAPI ShutdownThread(LPVOID) {
  const BOOL bResult = ExitWindowsEx(uExitFlags, 0);
  if (g_hWndParent) PostMessageA(g_hWndParent, WM_QUIT, 0, 0);
  return static_cast<DWORD>(bResult);
}

INT_PTR CALLBACK QueryDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      // Centred on the desktop (signed halving, toward zero) and above every other window.
      RECT rcDesk, rcDlg;
      GetWindowRect(GetDesktopWindow(), &rcDesk);
      GetWindowRect(hDlg, &rcDlg);
      const int nWidth = rcDlg.right - rcDlg.left;
      const int nHeight = rcDlg.bottom - rcDlg.top;
      const int x = rcDesk.left + (rcDesk.right - rcDesk.left - nWidth) / 2;
      const int y = rcDesk.top + (rcDesk.bottom - rcDesk.top - nHeight) / 2;
      SetWindowPos(hDlg, HWND_TOPMOST, x, y, nWidth, nHeight, 0);
      SendDlgItemMessageA(hDlg, IDC_QUERY_ICON, STM_SETICON,
                          reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_EXCLAMATION)), 0);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDNO:
        case IDCANCEL:
          EndDialog(hDlg, LOWORD(wParam));
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
