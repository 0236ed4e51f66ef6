// Window classes of a process: the programs' own (RegisterClassA / RegisterClassExA) and the
// system's (dialog boxes, buttons, statics).  A class is found by name, ignoring case, or by its
// atom; registering a name twice fails, as on Windows.
#pragma once

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace w9x::user32 {

struct WindowClass {
  std::string name;  // code page 932, as registered
  ATOM atom = 0;
  UINT style = 0;
  WNDPROC proc = nullptr;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr;
  HICON small_icon = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  std::string menu_name;
};

class ClassRegistry {
 public:
  ClassRegistry();
  // The new class's atom; 0 when a class of that name exists or the record is unusable.
  ATOM Register(WindowClass c);
  // By name, or by atom when `name` is a MAKEINTATOM value.
  std::optional<WindowClass> Find(LPCSTR name) const;
  bool Unregister(LPCSTR name);

 private:
  mutable std::mutex mutex_;
  std::vector<WindowClass> classes_;
  ATOM next_atom_ = 0xC000;
};

}  // namespace w9x::user32
