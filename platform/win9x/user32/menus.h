// Menus and accelerator tables of a process, made from their resource templates.  An HMENU is a
// handle into this table; a pop-up item holds the handle of its own menu, so the check marks of
// a menu bar's pop-ups are found by command id from the bar (MF_BYCOMMAND searches pop-ups).
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "user32/resource_model.h"

namespace w9x::user32 {

struct MenuItem {
  UINT id = 0;
  std::string text;  // code page 932; "\t" separates the shortcut text
  UINT flags = 0;    // MF_CHECKED, MF_GRAYED, MF_DISABLED, MF_SEPARATOR, MF_POPUP
  HMENU popup = nullptr;
};

class MenuTable {
 public:
  HMENU Create(const MenuTemplate& t);
  bool Destroy(HMENU menu);
  bool Exists(HMENU menu) const;
  std::vector<MenuItem> Items(HMENU menu) const;
  // The item with this command id in the menu or its pop-ups.
  std::optional<MenuItem> FindCommand(HMENU menu, UINT id) const;
  // Sets the check mark of an item (by command or by position); the previous state, or -1 when
  // there is no such item.
  DWORD Check(HMENU menu, UINT item, UINT flags);

  HACCEL CreateAccelerators(std::vector<AcceleratorEntry> entries);
  std::optional<std::vector<AcceleratorEntry>> Accelerators(HACCEL table) const;

 private:
  MenuItem* Locate(HMENU menu, UINT item, bool by_position);

  mutable std::recursive_mutex mutex_;
  std::map<std::uintptr_t, std::vector<MenuItem>> menus_;
  std::map<std::uintptr_t, std::vector<AcceleratorEntry>> accelerators_;
  std::uintptr_t next_ = 0x2000;
};

// A menu as lines of UTF-8 text for the terminal and the journal: "&Setup" / "  [x] &Q:Query".
std::vector<std::string> DescribeMenu(const MenuTable& table, HMENU menu);

}  // namespace w9x::user32
