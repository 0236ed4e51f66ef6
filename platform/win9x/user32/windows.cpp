// Top-level windows as other processes see them: FindWindowA and ShowWindow work across every
// process running on the machine.
#include "kernel32/api_support.h"

using namespace w9x;

namespace {

std::uint32_t Id(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)); }
HWND Handle(std::uint32_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

}  // namespace

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR title) {
  HWND found = nullptr;
  for (const WindowRecord& w : CurrentMachine().Shared().Windows()) {
    // Window names and class names are compared ignoring case, as Windows does.
    if (title && !text::EqualNoCase(w.title, title)) continue;
    if (class_name && !text::EqualNoCase(w.class_name, class_name)) continue;
    found = Handle(w.hwnd);
    break;
  }
  api::Record("FindWindowA", {{"class", api::Utf8(class_name)}, {"title", api::Utf8(title)},
                              {"hwnd", Id(found)}});
  return found;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
  Runtime& shared = CurrentMachine().Shared();
  auto window = shared.ReadWindow(Id(hwnd));
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    api::Record("ShowWindow", {{"hwnd", Id(hwnd)}, {"command", command}, {"result", false}});
    return FALSE;
  }
  const bool was_visible = window->visible;
  window->visible = command != SW_HIDE;
  shared.WriteWindow(*window);
  api::Record("ShowWindow", {{"hwnd", Id(hwnd)}, {"title", api::Utf8(window->title)}, {"owner", window->owner},
                             {"command", command}, {"was_visible", was_visible}, {"visible", window->visible}});
  return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  auto window = CurrentMachine().Shared().ReadWindow(Id(hwnd));
  return window && window->visible ? TRUE : FALSE;
}
