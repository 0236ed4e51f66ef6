// kitui: a small Windows program that drives other programs' windows for the Wine acceptance
// tests.  It finds top-level windows by their exact title, reports their texts, presses their
// buttons, and plays the kit launcher: a window that reports whether someone hid it.
//
//   kitui wait TITLE SECONDS         exit 0 once a visible window titled TITLE exists
//   kitui gone TITLE SECONDS         exit 0 once no window titled TITLE exists
//   kitui count TITLE                print how many top-level windows are titled TITLE
//   kitui texts TITLE                print "class<TAB>text" for the window and each child window
//   kitui press TITLE BUTTON         click the button whose text is BUTTON ("&" ignored)
//   kitui launcher TITLE SECONDS     show a window titled TITLE; print "hidden" and exit 0 when it
//                                    gets hidden, or "visible" and exit 1 after SECONDS
//   kitui controls TITLE             print "id<TAB>class<TAB>text" for each child window, in order
//   kitui click TITLE ID             click the child button whose control id is ID
//   kitui menu TITLE ID              choose the menu command ID of the window titled TITLE (shown
//                                    or hidden), as a click on its menu item would
//   kitui openmenu TITLE KEY         open the menu bar's pop-up whose mnemonic letter is KEY
//   kitui key TITLE ESC|ENTER        press and release the key in the visible window titled TITLE
//   kitui rect TITLE                 print "x y width height" of the visible window titled TITLE
//   kitui visible TITLE              print "visible" or "hidden" for the first window titled TITLE
//   kitui observer TITLE SECONDS     show a window titled TITLE that answers the end-session
//                                    messages; print "WM_QUERYENDSESSION lParam=0x..." and
//                                    "WM_ENDSESSION wParam=N lParam=0x..." as they come, and
//                                    "timeout" when SECONDS pass
//
// Output is UTF-8, one record a line; a line break inside a text is written as \n, a
// backslash as \\.  Exit status 2 means a usage error or a missing window.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

void Write(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Escaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\n') out += L"\\n";
    else if (c == L'\r') out += L"\\r";
    else if (c == L'\\') out += L"\\\\";
    else out += c;
  }
  return out;
}

std::wstring TextOf(HWND window) {
  wchar_t buffer[1024] = {};
  // Another process's window: WM_GETTEXT crosses processes, GetWindowText would not for controls.
  DWORD_PTR got = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &got);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  GetClassNameW(window, buffer, 256);
  return buffer;
}

struct Search {
  std::wstring title;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  wchar_t buffer[1024] = {};
  GetWindowTextW(window, buffer, 1024);
  if (search->title == buffer) search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevel(const std::wstring& title) {
  Search search{title, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND VisibleWindow(const std::wstring& title) {
  for (HWND window : TopLevel(title))
    if (IsWindowVisible(window)) return window;
  return nullptr;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

std::wstring WithoutAmpersands(std::wstring text) {
  std::wstring out;
  for (wchar_t c : text)
    if (c != L'&') out += c;
  return out;
}

// Polls `done` every 50 ms for up to `seconds`.
template <typename Done>
bool WaitFor(double seconds, Done done) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

int Texts(const std::wstring& title) {
  HWND window = VisibleWindow(title);
  if (!window) return 2;
  Write(ClassOf(window) + L"\t" + Escaped(TextOf(window)) + L"\n");
  for (HWND child : Children(window)) {
    std::wstring text = TextOf(child);
    if (!text.empty()) Write(ClassOf(child) + L"\t" + Escaped(text) + L"\n");
  }
  return 0;
}

int Press(const std::wstring& title, const std::wstring& button) {
  HWND window = VisibleWindow(title);
  if (!window) return 2;
  for (HWND child : Children(window)) {
    if (WithoutAmpersands(TextOf(child)) != button) continue;
    // Posted: the owner's reaction (closing its box, ending) must not block us.
    PostMessageW(child, BM_CLICK, 0, 0);
    return 0;
  }
  return 2;
}

LRESULT CALLBACK LauncherProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE) return 0;  // only hiding is expected of others
  return DefWindowProcW(window, message, wparam, lparam);
}

int Launcher(const std::wstring& title, double seconds) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = LauncherProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KitLauncherStandIn";
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(window_class.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 400, 200,
                              nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window) return 2;
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  const bool hidden = WaitFor(seconds, [&] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return !IsWindowVisible(window);
  });
  Write(hidden ? L"hidden\n" : L"visible\n");
  DestroyWindow(window);
  return hidden ? 0 : 1;
}

std::wstring Hex(LPARAM value) {
  wchar_t buffer[32];
  swprintf(buffer, 32, L"0x%08llx", static_cast<unsigned long long>(value) & 0xffffffffull);
  return buffer;
}

int Controls(const std::wstring& title) {
  HWND window = VisibleWindow(title);
  if (!window) return 2;
  for (HWND child : Children(window)) {
    const int id = static_cast<short>(GetDlgCtrlID(child));  // -1 for the unnamed statics
    Write(std::to_wstring(id) + L"\t" + ClassOf(child) + L"\t" + Escaped(TextOf(child)) + L"\n");
  }
  return 0;
}

int Click(const std::wstring& title, int id) {
  HWND window = VisibleWindow(title);
  if (!window) return 2;
  HWND button = GetDlgItem(window, id);
  if (!button) return 2;
  PostMessageW(button, BM_CLICK, 0, 0);
  return 0;
}

int Menu(const std::wstring& title, int id) {
  std::vector<HWND> windows = TopLevel(title);
  if (windows.empty()) return 2;
  // What the menu bar sends when an item is chosen: WM_COMMAND, notification 0, no control.
  PostMessageW(windows.front(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
  return 0;
}

int OpenMenu(const std::wstring& title, wchar_t key) {
  HWND window = VisibleWindow(title);
  if (!window) return 2;
  // Alt+KEY: the default window procedure opens the pop-up with that mnemonic.
  PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, key);
  return 0;
}

int Key(const std::wstring& title, const std::wstring& name) {
  HWND window = VisibleWindow(title);
  const WPARAM key = name == L"ESC" ? VK_ESCAPE : name == L"ENTER" ? VK_RETURN : 0;
  if (!window || !key) return 2;
  const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
  PostMessageW(window, WM_KEYDOWN, key, scan | 1);
  PostMessageW(window, WM_KEYUP, key, scan | 1 | (1u << 30) | (1u << 31));
  return 0;
}

LRESULT CALLBACK ObserverProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_QUERYENDSESSION) {
    Write(L"WM_QUERYENDSESSION lParam=" + Hex(lparam) + L"\n");
    return TRUE;
  }
  if (message == WM_ENDSESSION) {
    Write(L"WM_ENDSESSION wParam=" + std::to_wstring(wparam) + L" lParam=" + Hex(lparam) + L"\n");
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int Observer(const std::wstring& title, double seconds) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = ObserverProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KitSessionObserver";
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&window_class);
  HWND window = CreateWindowW(window_class.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 500, 400, 250, 100,
                              nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window) return 2;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  Write(L"ready\n");
  WaitFor(seconds, [&] {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    return false;
  });
  Write(L"timeout\n");
  DestroyWindow(window);
  return 0;
}

int Usage() {
  Write(L"usage: kitui wait|gone|count|texts|press|launcher|controls|click|menu|openmenu|key|rect|visible|observer TITLE "
        L"[SECONDS|BUTTON|ID|KEY]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1], title = argv[2];
  const wchar_t* extra = argc > 3 ? argv[3] : nullptr;
  if (command == L"wait" && extra)
    return WaitFor(std::wcstod(extra, nullptr), [&] { return VisibleWindow(title) != nullptr; }) ? 0 : 2;
  if (command == L"gone" && extra)
    return WaitFor(std::wcstod(extra, nullptr), [&] { return TopLevel(title).empty(); }) ? 0 : 2;
  if (command == L"count") {
    Write(std::to_wstring(TopLevel(title).size()) + L"\n");
    return 0;
  }
  if (command == L"texts") return Texts(title);
  if (command == L"press" && extra) return Press(title, extra);
  if (command == L"launcher" && extra) return Launcher(title, std::wcstod(extra, nullptr));
  if (command == L"controls") return Controls(title);
  if (command == L"click" && extra) return Click(title, static_cast<int>(std::wcstol(extra, nullptr, 10)));
  if (command == L"menu" && extra) return Menu(title, static_cast<int>(std::wcstol(extra, nullptr, 10)));
  if (command == L"openmenu" && extra) return OpenMenu(title, extra[0]);
  if (command == L"key" && extra) return Key(title, extra);
  if (command == L"rect") {
    HWND window = VisibleWindow(title);
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) return 2;
    Write(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " + std::to_wstring(rect.right - rect.left) +
          L" " + std::to_wstring(rect.bottom - rect.top) + L"\n");
    return 0;
  }
  if (command == L"visible") {
    std::vector<HWND> windows = TopLevel(title);
    if (windows.empty()) return 2;
    Write(IsWindowVisible(windows.front()) ? L"visible\n" : L"hidden\n");
    return 0;
  }
  if (command == L"observer" && extra) return Observer(title, std::wcstod(extra, nullptr));
  return Usage();
}
