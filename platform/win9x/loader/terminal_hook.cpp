// The terminal front end as the simulated user's second source of input: dialogs and the shown
// window are drawn with ncurses and worked with the keys, when the run is interactive.
#include "loader/terminal_hook.h"

#include "user32/terminal/terminal_ui.h"
#include "user32/user_input.h"
#include "user32/user_state.h"

namespace w9x {
namespace {

std::vector<terminal::MenuEntry> Entries(const user32::MenuTable& table, HMENU menu) {
  std::vector<terminal::MenuEntry> out;
  for (const user32::MenuItem& item : table.Items(menu)) {
    terminal::MenuEntry e;
    e.text = text::ToUtf8(item.text);
    e.id = static_cast<int>(item.id);
    e.checked = item.flags & MF_CHECKED;
    e.grayed = item.flags & (MF_GRAYED | MF_DISABLED);
    e.separator = item.flags & MF_SEPARATOR;
    e.popup = item.popup != nullptr;
    if (item.popup) e.items = Entries(table, item.popup);
    out.push_back(std::move(e));
  }
  return out;
}

class Terminal : public user32::TerminalFrontEnd {
 public:
  std::optional<Press> DialogPress(const user32::DialogView& view) override {
    terminal::DialogView v;
    v.title = view.title;
    v.icon = view.icon;
    v.texts = view.texts;
    for (const user32::DialogButton& b : view.buttons) {
      v.buttons.push_back({b.id, b.text});
      if (b.is_default) v.default_id = b.id;
    }
    auto choice = terminal::RunDialog(v);
    if (!choice) return std::nullopt;
    if (choice->key == "ESC") return Press{user32::DialogKey::kEscape, 0};
    return Press{user32::DialogKey::kButton, choice->id};
  }

  std::optional<user32::WindowAction> WindowInput(const user32::WindowView& view) override {
    terminal::WindowView v;
    v.title = view.title;
    if (view.menu) v.menu = Entries(user32::User().menus, view.menu);
    auto input = terminal::WaitWindow(v);
    if (!input) return std::nullopt;
    user32::WindowAction a;
    a.is_menu = input->kind == terminal::WindowInput::kCommand;
    a.menu_id = static_cast<UINT>(input->command);
    a.key = input->key;
    return a;
  }
};

}  // namespace

void InstallTerminalFrontEnd() {
  if (terminal::Available()) user32::SetTerminalFrontEnd(std::make_shared<Terminal>());
}

}  // namespace w9x
