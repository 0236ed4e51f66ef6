#include "user32/class_registry.h"

#include "kernel32/api_support.h"
#include "user32/dialogs.h"
#include "user32/user_state.h"

namespace w9x::user32 {
namespace {

bool IsAtom(LPCSTR name) { return IS_INTRESOURCE(name); }

}  // namespace

ClassRegistry::ClassRegistry() {
  // The system's classes, which dialog templates name.
  const std::pair<const char*, WNDPROC> system[] = {
      {"#32770", DialogClassProc}, {"BUTTON", ButtonClassProc}, {"STATIC", StaticClassProc}};
  for (auto& [name, proc] : system) {
    WindowClass c;
    c.name = name;
    c.proc = proc;
    c.atom = next_atom_++;
    classes_.push_back(std::move(c));
  }
}

ATOM ClassRegistry::Register(WindowClass c) {
  std::lock_guard lock(mutex_);
  for (const WindowClass& existing : classes_)
    if (text::EqualNoCase(existing.name, c.name)) return 0;
  c.atom = next_atom_++;
  classes_.push_back(std::move(c));
  return classes_.back().atom;
}

std::optional<WindowClass> ClassRegistry::Find(LPCSTR name) const {
  if (!name) return std::nullopt;
  std::lock_guard lock(mutex_);
  for (const WindowClass& c : classes_) {
    if (IsAtom(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name)) : text::EqualNoCase(c.name, name))
      return c;
  }
  return std::nullopt;
}

bool ClassRegistry::Unregister(LPCSTR name) {
  std::lock_guard lock(mutex_);
  auto before = classes_.size();
  std::erase_if(classes_, [&](const WindowClass& c) {
    return IsAtom(name) ? c.atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name)) : text::EqualNoCase(c.name, name);
  });
  return classes_.size() != before;
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

namespace {

ATOM RegisterRecord(const char* call, WindowClass c, LPCSTR class_name) {
  ATOM atom = 0;
  DWORD error = 0;
  if (!class_name || !c.proc || (!IS_INTRESOURCE(class_name) && !*class_name)) {
    error = ERROR_INVALID_PARAMETER;
  } else if (IS_INTRESOURCE(class_name)) {
    error = ERROR_INVALID_PARAMETER;  // a program's class needs a name
  } else {
    c.name = class_name;
    atom = User().classes.Register(std::move(c));
    if (!atom) error = ERROR_CLASS_ALREADY_EXISTS;
  }
  if (error) SetLastError(error);
  api::Record(call, {{"class", IS_INTRESOURCE(class_name) ? nlohmann::ordered_json(nullptr) : api::Utf8(class_name)},
                     {"result", atom}});
  return atom;
}

// The fields both class records have in common (WNDCLASSA and WNDCLASSEXA).
template <typename Record>
WindowClass ClassOf(const Record& wc) {
  WindowClass c;
  c.style = wc.style;
  c.proc = wc.lpfnWndProc;
  c.instance = wc.hInstance;
  c.icon = wc.hIcon;
  c.cursor = wc.hCursor;
  c.background = wc.hbrBackground;
  if (wc.lpszMenuName && !IS_INTRESOURCE(wc.lpszMenuName)) c.menu_name = wc.lpszMenuName;
  return c;
}

}  // namespace

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (!wc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return RegisterRecord("RegisterClassA", ClassOf(*wc), wc->lpszClassName);
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
  // The record size is checked as Windows does: any other size is refused.
  if (!wc || wc->cbSize != sizeof(WNDCLASSEXA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    api::Record("RegisterClassExA", {{"size", wc ? wc->cbSize : 0}, {"result", 0}});
    return 0;
  }
  WindowClass c = ClassOf(*wc);
  c.small_icon = wc->hIconSm;
  return RegisterRecord("RegisterClassExA", std::move(c), wc->lpszClassName);
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE) {
  if (User().classes.Unregister(name)) return TRUE;
  SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return FALSE;
}
