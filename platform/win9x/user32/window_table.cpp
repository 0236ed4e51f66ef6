// Window creation and destruction, visibility, position and lookup by class and title.
#include "user32/window_table.h"

#include <algorithm>
#include <cstdio>

#include "user32/user_state.h"

namespace w9x::user32 {

void WindowTable::Add(std::shared_ptr<Window> w) {
  std::lock_guard lock(mutex_);
  windows_[w->id] = std::move(w);
}

std::shared_ptr<Window> WindowTable::Get(HWND h) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(IdOf(h));
  return it == windows_.end() ? nullptr : it->second;
}

void WindowTable::Remove(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  windows_.erase(id);
}

std::vector<std::shared_ptr<Window>> WindowTable::Children(std::uint32_t parent) const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Window>> out;
  for (auto& [id, w] : windows_)
    if (w->parent == parent && !w->TopLevel()) out.push_back(w);
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a->id < b->id; });
  return out;
}

std::vector<std::shared_ptr<Window>> WindowTable::TopLevel(DWORD thread) const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Window>> out;
  for (auto& [id, w] : windows_)
    if (w->TopLevel() && (!thread || w->thread == thread)) out.push_back(w);
  return out;
}

void UpdateRecord(const Window& w) {
  if (!w.TopLevel()) return;
  WindowRecord r;
  r.hwnd = w.id;
  r.title = w.title;
  r.class_name = w.class_name;
  r.visible = w.visible;
  r.host_pid = CurrentProcess().Id();
  r.owner = CurrentProcess().Name();
  CurrentMachine().Shared().WriteWindow(r);
}

bool ShowLocal(const std::shared_ptr<Window>& w, int command, const char* by) {
  const bool was_visible = w->visible;
  w->visible = command != SW_HIDE;
  UpdateRecord(*w);
  nlohmann::ordered_json fields = {{"hwnd", w->id},      {"title", api::Utf8(w->title)}, {"command", command},
                                   {"was_visible", was_visible}, {"visible", w->visible}};
  if (by) fields["by"] = by;
  api::Record("ShowWindow", std::move(fields));
  return was_visible;
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

namespace {

std::string Hex(DWORD v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", v);
  return buffer;
}

RECT DesktopRect() {
  const MachineConfig& c = CurrentMachine().Config();
  return RECT{0, 0, static_cast<LONG>(c.display_width), static_cast<LONG>(c.display_height)};
}

// Where a window goes when the program leaves the position or size to the system: the first
// cascade position, three quarters of the screen.
RECT Place(int x, int y, int cx, int cy, DWORD style, const RECT& parent) {
  const RECT desk = DesktopRect();
  if (x == CW_USEDEFAULT) {
    if (style & (WS_POPUP | WS_CHILD)) {
      x = y = 0;
    } else {
      x = y = 22;  // (y is then the show command for overlapped windows)
    }
  }
  if (cx == CW_USEDEFAULT) {
    cx = (style & (WS_POPUP | WS_CHILD)) ? 0 : (desk.right * 3) / 4;
    cy = (style & (WS_POPUP | WS_CHILD)) ? 0 : (desk.bottom * 3) / 4;
  }
  return RECT{parent.left + x, parent.top + y, parent.left + x + cx, parent.top + y + cy};
}

}  // namespace

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y, int cx,
                            int cy, HWND parent_handle, HMENU menu, HINSTANCE instance, LPVOID param) {
  UserState& user = User();
  auto cls = user.classes.Find(class_name);
  std::shared_ptr<Window> parent = parent_handle ? user.windows.Get(parent_handle) : nullptr;
  const std::string class_text = IS_INTRESOURCE(class_name) ? std::to_string(reinterpret_cast<std::uintptr_t>(class_name))
                                                            : (class_name ? class_name : "");
  auto fail = [&](DWORD error) -> HWND {
    SetLastError(error);
    api::Record("CreateWindowExA", {{"class", api::Utf8(class_text)}, {"title", api::Utf8(title)}, {"result", 0}});
    return nullptr;
  };
  if (!cls) return fail(ERROR_CANNOT_FIND_WND_CLASS);
  if ((style & WS_CHILD) && !parent) return fail(ERROR_INVALID_WINDOW_HANDLE);
  if (menu && !(style & WS_CHILD) && !user.menus.Exists(menu)) return fail(ERROR_INVALID_MENU_HANDLE);

  auto w = std::make_shared<Window>();
  w->class_name = cls->name;
  w->proc = cls->proc;
  w->title = title ? title : "";
  w->style = style & ~WS_VISIBLE;
  w->ex_style = ex_style;
  w->thread = CurrentThreadId();
  w->parent = parent ? parent->id : 0;
  if (style & WS_CHILD) {
    w->control_id = static_cast<int>(reinterpret_cast<std::intptr_t>(menu));
  } else {
    w->menu = menu;
  }
  w->rect = Place(x, y, cx, cy, style, (style & WS_CHILD) && parent ? parent->rect : RECT{});
  if (w->TopLevel()) {
    // The machine-wide handle; the record lets other processes find the window.
    WindowRecord r{.title = w->title, .class_name = w->class_name, .visible = false,
                   .host_pid = CurrentProcess().Id(), .owner = CurrentProcess().Name()};
    w->id = CurrentMachine().Shared().CreateWindowRecord(r);
    user.EnsureSocket();
  } else {
    w->id = user.windows.NextChildId();
  }
  user.windows.Add(w);
  user.CurrentQueue();  // the thread that owns a window has a queue
  if (w->TopLevel())
    api::Record("CreateWindowExA", {{"hwnd", w->id},
                                  {"class", api::Utf8(w->class_name)},
                                  {"title", api::Utf8(w->title)},
                                  {"style", Hex(style)},
                                  {"ex_style", Hex(ex_style)},
                                  {"visible", (style & WS_VISIBLE) != 0}});

  CREATESTRUCTA cs{param, instance, menu, parent_handle, cy, cx, y, x, static_cast<LONG>(style), title, class_name, ex_style};
  const LPARAM lp = reinterpret_cast<LPARAM>(&cs);
  if (!CallProcedure(w, WM_NCCREATE, 0, lp) || CallProcedure(w, WM_CREATE, 0, lp) == -1) {
    DestroyWindow(w->Handle());
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // WM_CREATE may have destroyed the window already.
  if (!user.windows.Get(w->Handle())) return nullptr;
  if (style & WS_VISIBLE) ShowLocal(w, SW_SHOW, nullptr);
  return w->Handle();
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  UserState& user = User();
  auto w = user.windows.Get(hwnd);
  if (!w || w->destroying) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->destroying = true;
  if (w->visible) {
    w->visible = false;
    UpdateRecord(*w);
  }
  api::Record("DestroyWindow", {{"hwnd", w->id}, {"title", api::Utf8(w->title)}});
  CallProcedure(w, WM_DESTROY, 0, 0);
  for (auto& child : user.windows.Children(w->id)) DestroyWindow(child->Handle());
  CallProcedure(w, WM_NCDESTROY, 0, 0);
  if (auto q = user.QueueOf(w->thread)) q->KillTimersOf(hwnd);
  user.windows.Remove(w->id);
  if (w->TopLevel()) CurrentMachine().Shared().DestroyWindowRecord(w->id);
  // A window's menu bar goes with it.
  if (w->menu && w->TopLevel()) user.menus.Destroy(w->menu);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  if (User().windows.Get(hwnd)) return TRUE;
  return CurrentMachine().Shared().ReadWindow(IdOf(hwnd)) ? TRUE : FALSE;
}

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR title) {
  HWND found = nullptr;
  // Hidden windows count too; the search covers every process of the machine.
  for (const WindowRecord& w : CurrentMachine().Shared().Windows()) {
    if (title && !text::EqualNoCase(w.title, title)) continue;
    if (class_name && !text::EqualNoCase(w.class_name, class_name)) continue;
    found = HandleOf(w.hwnd);
    break;
  }
  api::Record("FindWindowA", {{"class", api::Utf8(class_name)}, {"title", api::Utf8(title)}, {"hwnd", IdOf(found)}});
  return found;
}

BOOL WINAPI ShowWindow(HWND hwnd, int command) {
  if (auto w = User().windows.Get(hwnd)) return ShowLocal(w, command, nullptr) ? TRUE : FALSE;
  Runtime& shared = CurrentMachine().Shared();
  auto record = shared.ReadWindow(IdOf(hwnd));
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    api::Record("ShowWindow", {{"hwnd", IdOf(hwnd)}, {"command", command}, {"result", false}});
    return FALSE;
  }
  // A window of another process: its owner shows or hides it.  A window whose owner has no
  // socket (the launcher's) is changed in its record.
  bool was_visible = record->visible;
  auto answer = Messenger::Ask(record->host_pid, {{"op", "show"}, {"hwnd", record->hwnd}, {"command", command}},
                               std::chrono::seconds(5));
  bool reached = answer && answer->is_object() && answer->contains("was_visible");
  if (reached) {
    was_visible = answer->value("was_visible", false);
  } else {
    record->visible = command != SW_HIDE;
    shared.WriteWindow(*record);
  }
  api::Record("ShowWindow", {{"hwnd", IdOf(hwnd)},
                             {"title", api::Utf8(record->title)},
                             {"owner", record->owner},
                             {"command", command},
                             {"was_visible", was_visible},
                             {"visible", command != SW_HIDE}});
  return was_visible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  if (auto w = User().windows.Get(hwnd)) return w->visible ? TRUE : FALSE;
  auto window = CurrentMachine().Shared().ReadWindow(IdOf(hwnd));
  return window && window->visible ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
  // Nothing is painted: the window has no client area to draw on the host.
  if (User().windows.Get(hwnd)) return TRUE;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

HWND WINAPI GetDesktopWindow(void) { return HandleOf(kDesktopWindow); }

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (IdOf(hwnd) == kDesktopWindow) {
    *rect = DesktopRect();
    return TRUE;
  }
  auto w = User().windows.Get(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *rect = w->rect;
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  auto w = User().windows.Get(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  RECT r = w->rect;
  if (!(flags & SWP_NOMOVE)) {
    r.right += x - r.left;
    r.bottom += y - r.top;
    r.left = x;
    r.top = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + cx;
    r.bottom = r.top + cy;
  }
  w->rect = r;
  if (!(flags & SWP_NOZORDER)) {
    if (after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
    if (after == HWND_NOTOPMOST) w->ex_style &= ~static_cast<DWORD>(WS_EX_TOPMOST);
  }
  if (flags & SWP_SHOWWINDOW) ShowLocal(w, SW_SHOW, nullptr);
  if (flags & SWP_HIDEWINDOW) ShowLocal(w, SW_HIDE, nullptr);
  api::Record("SetWindowPos", {{"hwnd", w->id},
                               {"x", r.left},
                               {"y", r.top},
                               {"width", r.right - r.left},
                               {"height", r.bottom - r.top},
                               {"topmost", (w->ex_style & WS_EX_TOPMOST) != 0},
                               {"flags", flags}});
  return TRUE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
  auto w = User().windows.Get(hwnd);
  if (!w || !buffer || size <= 0) return 0;
  const std::size_t n = std::min<std::size_t>(w->title.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, w->title.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR title) {
  auto w = User().windows.Get(hwnd);
  if (!w) return FALSE;
  w->title = title ? title : "";
  UpdateRecord(*w);
  return TRUE;
}

HWND WINAPI GetParent(HWND hwnd) {
  auto w = User().windows.Get(hwnd);
  return w && w->parent ? HandleOf(w->parent) : nullptr;
}

HMENU WINAPI GetMenu(HWND hwnd) {
  auto w = User().windows.Get(hwnd);
  return w && w->TopLevel() ? w->menu : nullptr;
}

int WINAPI GetSystemMetrics(int index) {
  const MachineConfig& c = CurrentMachine().Config();
  // The values of a Windows 98 desktop with the standard scheme and small fonts.
  switch (index) {
    case SM_CXSCREEN: return static_cast<int>(c.display_width);
    case SM_CYSCREEN: return static_cast<int>(c.display_height);
    case SM_CXVSCROLL: case SM_CYHSCROLL: return 16;
    case SM_CYCAPTION: return 19;
    case SM_CXBORDER: case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME: case SM_CYDLGFRAME: return 3;
    case SM_CXICON: case SM_CYICON: case SM_CXCURSOR: case SM_CYCURSOR: return 32;
    case SM_CYMENU: return 19;
    case SM_CXFULLSCREEN: return static_cast<int>(c.display_width);
    case SM_CYFULLSCREEN: return static_cast<int>(c.display_height) - 19 - 28;  // caption, task bar
    case SM_CXMIN: return 112;
    case SM_CYMIN: return 27;
    case SM_CXSIZE: case SM_CYSIZE: return 18;
    case SM_CXFRAME: case SM_CYFRAME: return 4;
    case SM_CXSMICON: case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION: return 15;
    default: return 0;
  }
}
