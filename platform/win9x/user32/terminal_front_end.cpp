#include "user32/terminal_front_end.h"

#include "machine/text.h"
#include "user32/user_state.h"

namespace w9x::user32 {
namespace {

std::vector<terminal::MenuEntry> EntriesOf(const MenuTable& menus, HMENU menu, int depth) {
  std::vector<terminal::MenuEntry> entries;
  if (!menu || depth > 16) return entries;
  for (const MenuItem& item : menus.Items(menu)) {
    terminal::MenuEntry e;
    e.text = text::ToUtf8(item.text);
    e.id = static_cast<int>(item.id);
    e.checked = item.flags & MF_CHECKED;
    e.grayed = item.flags & (MF_GRAYED | MF_DISABLED);
    e.separator = item.flags & MF_SEPARATOR;
    e.popup = item.popup != nullptr;
    if (e.popup) e.items = EntriesOf(menus, item.popup, depth + 1);
    entries.push_back(std::move(e));
  }
  return entries;
}

class Front : public TerminalFrontEnd {
 public:
  std::optional<Press> DialogPress(const DialogView& view) override {
    auto choice = terminal::RunDialog(TerminalViewOf(view));
    if (!choice) return std::nullopt;
    // Escape is the dialog manager's; any other key pressed a button the terminal knows.
    if (choice->key == "ESC") return Press{DialogKey::kEscape, 0};
    return Press{DialogKey::kButton, choice->id};
  }

  std::optional<WindowAction> WindowInput(const WindowView& view) override {
    auto input = terminal::WaitWindow(TerminalViewOf(view, User().menus));
    if (!input) return std::nullopt;
    WindowAction action;
    if (input->kind == terminal::WindowInput::kCommand) {
      action.is_menu = true;
      action.menu_id = static_cast<UINT>(input->command);
    } else {
      action.key = input->key;
    }
    return action;
  }
};

}  // namespace

terminal::DialogView TerminalViewOf(const DialogView& dialog) {
  terminal::DialogView v;
  v.title = dialog.title;
  v.icon = dialog.icon;
  v.texts = dialog.texts;
  for (const DialogButton& b : dialog.buttons) {
    v.buttons.push_back({b.id, b.text});
    if (b.is_default) v.default_id = b.id;
  }
  return v;
}

terminal::WindowView TerminalViewOf(const WindowView& window, const MenuTable& menus) {
  return {window.title, EntriesOf(menus, window.menu, 0)};
}

void InstallTerminalFrontEnd() {
  if (terminal::Available()) SetTerminalFrontEnd(std::make_shared<Front>());
}

}  // namespace w9x::user32
