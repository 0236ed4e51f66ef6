// What the window system needs of a program's resources: menus, accelerator tables, dialog
// templates, strings and icon groups, already parsed.  The program's module supplies them (the
// resource file built from its script); tests can build them by hand.  Texts are code page 932.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace w9x::user32 {

// A resource name as a program passes it: a number (MAKEINTRESOURCE) or a string.
struct ResourceId {
  bool is_number = false;
  WORD number = 0;
  std::string name;  // upper-cased, as resource names are compared
  static ResourceId Of(LPCSTR name_or_number);
  static ResourceId Number(WORD n) { return {true, n, {}}; }
  static ResourceId Name(const std::string& name);
  bool operator==(const ResourceId&) const = default;
  std::string ToString() const;  // "1000" or "TALMORIX", for the journal
};

struct MenuItemTemplate {
  UINT id = 0;
  std::string text;
  UINT flags = 0;  // MF_POPUP, MF_SEPARATOR, MF_CHECKED, MF_GRAYED, MF_DISABLED
  std::vector<MenuItemTemplate> children;
};
using MenuTemplate = std::vector<MenuItemTemplate>;

struct AcceleratorEntry {
  BYTE flags = 0;  // FVIRTKEY, FSHIFT, FCONTROL, FALT
  WORD key = 0;
  WORD command = 0;
};

struct DialogItemTemplate {
  DWORD style = 0;
  DWORD ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;              // -1 for the usual unnamed static
  std::string class_name;  // "BUTTON", "STATIC", ... (upper case)
  std::string text;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string title;
  WORD point_size = 0;
  std::string font;
  std::vector<DialogItemTemplate> items;
};

class ModuleResources {
 public:
  virtual ~ModuleResources() = default;
  virtual std::optional<std::string> String(UINT id) const = 0;
  virtual std::optional<MenuTemplate> Menu(const ResourceId& id) const = 0;
  virtual std::optional<std::vector<AcceleratorEntry>> Accelerators(const ResourceId& id) const = 0;
  virtual std::optional<DialogTemplate> Dialog(const ResourceId& id) const = 0;
  virtual bool HasIconGroup(const ResourceId& id) const = 0;
};

// Resources built in memory (tests, and programs without a resource file).
class ResourceSet : public ModuleResources {
 public:
  std::vector<std::pair<UINT, std::string>> strings;
  std::vector<std::pair<ResourceId, MenuTemplate>> menus;
  std::vector<std::pair<ResourceId, std::vector<AcceleratorEntry>>> accelerators;
  std::vector<std::pair<ResourceId, DialogTemplate>> dialogs;
  std::vector<ResourceId> icon_groups;

  std::optional<std::string> String(UINT id) const override;
  std::optional<MenuTemplate> Menu(const ResourceId& id) const override;
  std::optional<std::vector<AcceleratorEntry>> Accelerators(const ResourceId& id) const override;
  std::optional<DialogTemplate> Dialog(const ResourceId& id) const override;
  bool HasIconGroup(const ResourceId& id) const override;
};

// The resources of the current process's module; none until set.
void SetModuleResources(std::shared_ptr<const ModuleResources> resources);
std::shared_ptr<const ModuleResources> CurrentModuleResources();

}  // namespace w9x::user32
