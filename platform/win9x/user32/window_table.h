// The windows of a process.  A top-level window has a machine-wide handle and a record in the
// machine's runtime folder, so that other processes find it (FindWindowA) and reach it (through
// this process's socket); child windows (dialog controls) are known only here.  A window
// belongs to the thread that created it: its procedure runs on that thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace w9x::user32 {

struct Window {
  std::uint32_t id = 0;
  std::string class_name;  // code page 932
  WNDPROC proc = nullptr;
  std::string title;       // code page 932
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT rect{};             // screen coordinates
  std::uint32_t parent = 0;
  HMENU menu = nullptr;    // the menu bar (top-level) ...
  int control_id = 0;      // ... or the control id (child)
  DWORD thread = 0;
  bool visible = false;
  bool destroying = false;
  // Dialog boxes: the dialog procedure, the result once EndDialog was called.
  DLGPROC dialog_proc = nullptr;
  bool dialog_ended = false;
  INT_PTR dialog_result = 0;
  // Static icon controls: the icon shown.
  HICON icon = nullptr;

  bool TopLevel() const { return (style & WS_CHILD) == 0; }
  HWND Handle() const { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }
};

inline std::uint32_t IdOf(HWND h) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(h)); }
inline HWND HandleOf(std::uint32_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id)); }

// The desktop window: not in any table; its rectangle is the display of machine.ini.
constexpr std::uint32_t kDesktopWindow = 0x0001000C;

class WindowTable {
 public:
  void Add(std::shared_ptr<Window> w);
  std::shared_ptr<Window> Get(HWND h) const;
  void Remove(std::uint32_t id);
  std::vector<std::shared_ptr<Window>> Children(std::uint32_t parent) const;
  // Top-level windows, optionally only those of one thread, in creation order.
  std::vector<std::shared_ptr<Window>> TopLevel(DWORD thread = 0) const;
  // Handles for child windows, which need not be unique beyond the process.
  std::uint32_t NextChildId() {
    std::lock_guard lock(mutex_);
    return next_child_ += 4;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::shared_ptr<Window>> windows_;
  std::uint32_t next_child_ = 0x00F00000;
};

}  // namespace w9x::user32
