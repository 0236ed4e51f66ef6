// Strings, icons and cursors of a program's module, and the model its menus and dialogs come
// from (resource_model.h).
#include <cstring>

#include "user32/resources.h"
#include "user32/user_state.h"

namespace w9x::user32 {

ResourceId ResourceId::Of(LPCSTR name_or_number) {
  if (IS_INTRESOURCE(name_or_number)) return Number(static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name_or_number)));
  std::string name = name_or_number;
  // "#123" names the number 123, as the resource functions take it.
  if (name.size() > 1 && name[0] == '#' && name.find_first_not_of("0123456789", 1) == std::string::npos && name.size() < 7) {
    unsigned long n = std::stoul(name.substr(1));
    if (n <= 0xFFFF) return Number(static_cast<WORD>(n));
  }
  return Name(name);
}

ResourceId ResourceId::Name(const std::string& name) { return {false, 0, text::Upper(name)}; }

std::string ResourceId::ToString() const { return is_number ? std::to_string(number) : text::ToUtf8(name); }

namespace {

template <typename T>
std::optional<T> FindIn(const std::vector<std::pair<ResourceId, T>>& list, const ResourceId& id) {
  for (auto& [key, value] : list)
    if (key == id) return value;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ResourceSet::String(UINT id) const {
  for (auto& [key, value] : strings)
    if (key == id) return value;
  return std::nullopt;
}
std::optional<MenuTemplate> ResourceSet::Menu(const ResourceId& id) const { return FindIn(menus, id); }
std::optional<std::vector<AcceleratorEntry>> ResourceSet::Accelerators(const ResourceId& id) const {
  return FindIn(accelerators, id);
}
std::optional<DialogTemplate> ResourceSet::Dialog(const ResourceId& id) const { return FindIn(dialogs, id); }
bool ResourceSet::HasIconGroup(const ResourceId& id) const {
  for (auto& key : icon_groups)
    if (key == id) return true;
  return false;
}

namespace {

// The resources compiled from the program's script and carried by its host build.
class ProgramResourceFile : public ModuleResources {
 public:
  std::optional<std::string> String(UINT id) const override {
    auto s = w9x::ProgramResources().String(id);
    if (s && s->empty()) return std::nullopt;  // an id the block lacks
    return s;
  }
  std::optional<MenuTemplate> Menu(const ResourceId& id) const override {
    auto m = w9x::ProgramResources().Menu(Their(id));
    if (!m) return std::nullopt;
    return Items(m->items);
  }
  std::optional<std::vector<AcceleratorEntry>> Accelerators(const ResourceId& id) const override {
    auto table = w9x::ProgramResources().Accelerators(Their(id));
    if (!table) return std::nullopt;
    std::vector<AcceleratorEntry> out;
    for (const w9x::Accelerator& a : *table) out.push_back({static_cast<BYTE>(a.flags), a.key, a.command});
    return out;
  }
  std::optional<DialogTemplate> Dialog(const ResourceId& id) const override {
    auto d = w9x::ProgramResources().Dialog(Their(id));
    if (!d) return std::nullopt;
    DialogTemplate t;
    t.style = d->style;
    t.ex_style = d->ex_style;
    t.x = d->x;
    t.y = d->y;
    t.cx = d->cx;
    t.cy = d->cy;
    t.title = d->title;
    t.point_size = d->font_size;
    t.font = d->font_name;
    for (const w9x::DialogItem& i : d->items) {
      DialogItemTemplate item;
      item.style = i.style;
      item.ex_style = i.ex_style;
      item.x = i.x;
      item.y = i.y;
      item.cx = i.cx;
      item.cy = i.cy;
      item.id = i.id;
      switch (i.KnownClass().value_or(0)) {
        case w9x::kButtonClass: item.class_name = "BUTTON"; break;
        case w9x::kEditClass: item.class_name = "EDIT"; break;
        case w9x::kStaticClass: item.class_name = "STATIC"; break;
        case w9x::kListBoxClass: item.class_name = "LISTBOX"; break;
        case w9x::kScrollBarClass: item.class_name = "SCROLLBAR"; break;
        case w9x::kComboBoxClass: item.class_name = "COMBOBOX"; break;
        default: item.class_name = text::Upper(i.window_class.name);
      }
      if (!i.text.ordinal) item.text = i.text.name;
      t.items.push_back(std::move(item));
    }
    return t;
  }
  bool HasIconGroup(const ResourceId& id) const override {
    return w9x::ProgramResources().IconGroupOf(Their(id)).has_value();
  }

 private:
  static w9x::ResourceId Their(const ResourceId& id) {
    return id.is_number ? w9x::ResourceId::Ordinal(id.number) : w9x::ResourceId::Name(id.name);
  }
  static MenuTemplate Items(const std::vector<w9x::MenuItem>& items) {
    MenuTemplate out;
    for (const w9x::MenuItem& i : items) out.push_back({i.id, i.text, i.flags, Items(i.items)});
    return out;
  }
};

}  // namespace

void SetModuleResources(std::shared_ptr<const ModuleResources> resources) { User().resources = std::move(resources); }

std::shared_ptr<const ModuleResources> CurrentModuleResources() {
  if (auto own = User().resources) return own;
  static const auto program = std::make_shared<ProgramResourceFile>();
  return program;
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

namespace {

// System icons and cursors have fixed handles: 0x10000 plus their id.
HICON SystemIcon(WORD id) { return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000 + id)); }

}  // namespace

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  auto resources = CurrentModuleResources();
  auto s = resources ? resources->String(id) : std::nullopt;
  if (!buffer || size <= 0) return 0;
  if (!s) {
    buffer[0] = '\0';
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  // Cut to the buffer without splitting a double-byte character.
  std::size_t n = 0;
  while (n < s->size()) {
    std::size_t step = text::CharLength(*s, n);
    if (n + step > static_cast<std::size_t>(size - 1)) break;
    n += step;
  }
  std::memcpy(buffer, s->data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
  const user32::ResourceId id = user32::ResourceId::Of(name);
  if (!instance) {
    if (id.is_number && id.number >= 32512 && id.number <= 32517) return SystemIcon(id.number);
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  auto resources = CurrentModuleResources();
  if (!resources || !resources->HasIconGroup(id)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  // One handle per icon group name.
  std::uintptr_t h = 0x20000;
  for (char c : id.ToString()) h = (h * 31 + static_cast<unsigned char>(c)) & 0xFFFF;
  return reinterpret_cast<HICON>(0x20000 + h);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
  const user32::ResourceId id = user32::ResourceId::Of(name);
  if (!instance && id.is_number && id.number >= 32512 && id.number <= 32651)
    return reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(0x18000 + id.number));
  SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}
