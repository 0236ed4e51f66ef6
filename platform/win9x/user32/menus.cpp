#include "user32/menus.h"

#include "user32/user_state.h"

namespace w9x::user32 {

HMENU MenuTable::Create(const MenuTemplate& t) {
  std::lock_guard lock(mutex_);
  std::vector<MenuItem> items;
  for (const MenuItemTemplate& it : t) {
    MenuItem item{it.id, it.text, it.flags, nullptr};
    if (it.flags & MF_POPUP) item.popup = Create(it.children);
    items.push_back(std::move(item));
  }
  const std::uintptr_t h = next_ += 4;
  menus_[h] = std::move(items);
  return reinterpret_cast<HMENU>(h);
}

bool MenuTable::Destroy(HMENU menu) {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end()) return false;
  std::vector<MenuItem> items = std::move(it->second);
  menus_.erase(it);
  for (const MenuItem& item : items)
    if (item.popup) Destroy(item.popup);
  return true;
}

bool MenuTable::Exists(HMENU menu) const {
  std::lock_guard lock(mutex_);
  return menus_.count(reinterpret_cast<std::uintptr_t>(menu)) > 0;
}

std::vector<MenuItem> MenuTable::Items(HMENU menu) const {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  return it == menus_.end() ? std::vector<MenuItem>{} : it->second;
}

MenuItem* MenuTable::Locate(HMENU menu, UINT item, bool by_position) {
  auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end()) return nullptr;
  if (by_position) return item < it->second.size() ? &it->second[item] : nullptr;
  for (MenuItem& m : it->second) {
    if (!(m.flags & (MF_POPUP | MF_SEPARATOR)) && m.id == item) return &m;
    if (m.popup)
      if (MenuItem* found = Locate(m.popup, item, false)) return found;
  }
  return nullptr;
}

std::optional<MenuItem> MenuTable::FindCommand(HMENU menu, UINT id) const {
  std::lock_guard lock(mutex_);
  MenuItem* m = const_cast<MenuTable*>(this)->Locate(menu, id, false);
  if (!m) return std::nullopt;
  return *m;
}

DWORD MenuTable::Check(HMENU menu, UINT item, UINT flags) {
  std::lock_guard lock(mutex_);
  MenuItem* m = Locate(menu, item, (flags & MF_BYPOSITION) != 0);
  if (!m) return static_cast<DWORD>(-1);
  const DWORD previous = m->flags & MF_CHECKED;
  m->flags = (m->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return previous;
}

HACCEL MenuTable::CreateAccelerators(std::vector<AcceleratorEntry> entries) {
  std::lock_guard lock(mutex_);
  const std::uintptr_t h = next_ += 4;
  accelerators_[h] = std::move(entries);
  return reinterpret_cast<HACCEL>(h);
}

std::optional<std::vector<AcceleratorEntry>> MenuTable::Accelerators(HACCEL table) const {
  std::lock_guard lock(mutex_);
  auto it = accelerators_.find(reinterpret_cast<std::uintptr_t>(table));
  if (it == accelerators_.end()) return std::nullopt;
  return it->second;
}

namespace {

void Describe(const MenuTable& table, HMENU menu, const std::string& indent, std::vector<std::string>& out) {
  for (const MenuItem& item : table.Items(menu)) {
    if (item.flags & MF_SEPARATOR) {
      out.push_back(indent + "  ----");
      continue;
    }
    std::string line = indent;
    if (!indent.empty()) line += (item.flags & MF_CHECKED) ? "[x] " : "[ ] ";
    std::string label = text::ToUtf8(item.text);
    if (auto tab = label.find('\t'); tab != std::string::npos) label = label.substr(0, tab) + "  (" + label.substr(tab + 1) + ")";
    line += label;
    if (!(item.flags & MF_POPUP)) line += "  = " + std::to_string(item.id);
    out.push_back(line);
    if (item.popup) Describe(table, item.popup, indent + "  ", out);
  }
}

}  // namespace

std::vector<std::string> DescribeMenu(const MenuTable& table, HMENU menu) {
  std::vector<std::string> out;
  Describe(table, menu, "", out);
  return out;
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

HMENU WINAPI LoadMenuA(HINSTANCE, LPCSTR name) {
  auto resources = CurrentModuleResources();
  auto t = resources ? resources->Menu(ResourceId::Of(name)) : std::nullopt;
  if (!t) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return User().menus.Create(*t);
}

BOOL WINAPI DestroyMenu(HMENU menu) {
  if (User().menus.Destroy(menu)) return TRUE;
  SetLastError(ERROR_INVALID_MENU_HANDLE);
  return FALSE;
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT item, UINT flags) { return User().menus.Check(menu, item, flags); }

UINT WINAPI GetMenuState(HMENU menu, UINT item, UINT flags) {
  MenuTable& t = User().menus;
  std::optional<MenuItem> m;
  if (flags & MF_BYPOSITION) {
    auto items = t.Items(menu);
    if (item < items.size()) m = items[item];
  } else {
    m = t.FindCommand(menu, item);
  }
  if (!m) return static_cast<UINT>(-1);
  if (m->popup) return (static_cast<UINT>(t.Items(m->popup).size()) << 8) | (m->flags & 0xFF);
  return m->flags;
}

HMENU WINAPI GetSubMenu(HMENU menu, int position) {
  auto items = User().menus.Items(menu);
  if (position < 0 || static_cast<std::size_t>(position) >= items.size()) return nullptr;
  return items[static_cast<std::size_t>(position)].popup;
}

int WINAPI GetMenuItemCount(HMENU menu) {
  if (!User().menus.Exists(menu)) return -1;
  return static_cast<int>(User().menus.Items(menu).size());
}

UINT WINAPI GetMenuItemID(HMENU menu, int position) {
  auto items = User().menus.Items(menu);
  if (position < 0 || static_cast<std::size_t>(position) >= items.size()) return static_cast<UINT>(-1);
  const MenuItem& m = items[static_cast<std::size_t>(position)];
  return m.popup ? static_cast<UINT>(-1) : m.id;
}

int WINAPI GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags) {
  std::optional<MenuItem> m;
  if (flags & MF_BYPOSITION) {
    auto items = User().menus.Items(menu);
    if (item < items.size()) m = items[item];
  } else {
    m = User().menus.FindCommand(menu, item);
  }
  if (!m) return 0;
  if (!buffer || size <= 0) return static_cast<int>(m->text.size());
  const std::size_t n = std::min<std::size_t>(m->text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, m->text.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE, LPCSTR name) {
  auto resources = CurrentModuleResources();
  auto t = resources ? resources->Accelerators(ResourceId::Of(name)) : std::nullopt;
  if (!t) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return User().menus.CreateAccelerators(std::move(*t));
}
