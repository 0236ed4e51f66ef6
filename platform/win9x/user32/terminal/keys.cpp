// What the keys do in a dialog and in a window's menu, as the dialog manager and the menu loop
// of Windows do it; no drawing here.
#include <cctype>

#include "user32/terminal/terminal_ui.h"

namespace w9x::terminal {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool Selectable(const MenuEntry& e) { return !e.separator; }

}  // namespace

Label ParseLabel(const std::string& utf8) {
  Label label;
  std::string text = utf8;
  if (std::size_t tab = text.find('\t'); tab != std::string::npos) {
    label.shortcut = text.substr(tab + 1);
    text.resize(tab);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != '&' && label.mnemonic == std::string::npos) label.mnemonic = label.text.size();
    }
    label.text += text[i];
  }
  return label;
}

char Label::Mnemonic() const {
  if (mnemonic == std::string::npos) return 0;
  const char c = text[mnemonic];
  return static_cast<unsigned char>(c) < 0x80 ? Upper(c) : 0;
}

// ---- dialogs -------------------------------------------------------------------------------

// The focus starts on the first button, the first tab stop.
DialogKeys::DialogKeys(const DialogView& view) : view_(view) {}

std::optional<DialogChoice> DialogKeys::Press(KeyPress key) {
  const std::size_t n = view_.buttons.size();
  switch (key.key) {
    case Key::kTab:
    case Key::kRight:
    case Key::kDown:
      if (n) focus_ = (focus_ + 1) % n;
      return std::nullopt;
    case Key::kBackTab:
    case Key::kLeft:
    case Key::kUp:
      if (n) focus_ = (focus_ + n - 1) % n;
      return std::nullopt;
    case Key::kEnter:
      // Enter presses the focused push button, which is the default one while it has the focus.
      if (n) return DialogChoice{view_.buttons[focus_].id, "ENTER"};
      if (view_.default_id) return DialogChoice{view_.default_id, "ENTER"};
      return DialogChoice{1, "ENTER"};  // IDOK when there is no button at all
    case Key::kSpace:
      if (n) return DialogChoice{view_.buttons[focus_].id, "SPACE"};
      return std::nullopt;
    case Key::kEscape:
      return DialogChoice{2, "ESC"};  // IDCANCEL, whether or not a button carries it
    case Key::kChar:
    case Key::kAltChar:
      for (std::size_t i = 0; i < n; ++i) {
        if (ParseLabel(view_.buttons[i].text).Mnemonic() == Upper(key.ch) && key.ch) {
          focus_ = i;
          return DialogChoice{view_.buttons[i].id, std::string(1, Upper(key.ch))};
        }
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// ---- menus ---------------------------------------------------------------------------------

void MenuKeys::Leave() {
  mode_ = Mode::kWindow;
  open_.clear();
}

void MenuKeys::OpenBarItem(std::size_t index) {
  bar_ = index;
  open_.clear();
  const MenuEntry& entry = view_.menu[index];
  if (!entry.popup) {
    mode_ = Mode::kBar;
    return;
  }
  std::size_t first = 0;
  while (first < entry.items.size() && !Selectable(entry.items[first])) ++first;
  open_.push_back({&entry.items, first < entry.items.size() ? first : 0});
  mode_ = Mode::kPopup;
}

void MenuKeys::MovePopup(int step) {
  Open& top = open_.back();
  const std::size_t n = top.items->size();
  if (n == 0) return;
  std::size_t i = top.selected;
  for (std::size_t tries = 0; tries < n; ++tries) {
    i = (i + n + static_cast<std::size_t>(step > 0 ? 1 : n - 1)) % n;
    if (Selectable((*top.items)[i])) {
      top.selected = i;
      return;
    }
  }
}

std::optional<WindowInput> MenuKeys::Choose(const std::vector<MenuEntry>& items, std::size_t index, bool from_bar) {
  if (index >= items.size()) return std::nullopt;
  const MenuEntry& e = items[index];
  if (e.separator || e.grayed) return std::nullopt;  // a grayed item cannot be chosen
  if (e.popup) {
    if (from_bar) {
      OpenBarItem(index);
    } else {
      std::size_t first = 0;
      while (first < e.items.size() && !Selectable(e.items[first])) ++first;
      open_.push_back({&e.items, first < e.items.size() ? first : 0});
    }
    return std::nullopt;
  }
  Leave();
  return WindowInput{WindowInput::kCommand, e.id, {}};
}

// A mnemonic letter in the open pop-up (or on the bar): one item with it is chosen at once;
// several are highlighted in turn, as Windows does.
std::optional<WindowInput> MenuKeys::Mnemonic(char c) {
  const bool on_bar = mode_ != Mode::kPopup;
  const std::vector<MenuEntry>& items = on_bar ? view_.menu : *open_.back().items;
  const std::size_t start = on_bar ? bar_ : open_.back().selected;
  std::vector<std::size_t> matches;
  for (std::size_t k = 1; k <= items.size(); ++k) {
    const std::size_t i = (start + k) % items.size();
    if (!items[i].separator && ParseLabel(items[i].text).Mnemonic() == Upper(c)) matches.push_back(i);
  }
  if (matches.empty()) return std::nullopt;
  if (matches.size() > 1) {
    if (on_bar)
      bar_ = matches.front();
    else
      open_.back().selected = matches.front();
    return std::nullopt;
  }
  if (!on_bar) open_.back().selected = matches.front();
  return Choose(items, matches.front(), on_bar);
}

std::optional<WindowInput> MenuKeys::Press(KeyPress key) {
  if (key.key == Key::kAltF4) {
    Leave();
    return WindowInput{WindowInput::kKey, 0, "ALT+F4"};
  }
  if (view_.menu.empty()) {
    if (key.key == Key::kEscape) return WindowInput{WindowInput::kKey, 0, "ESC"};
    return std::nullopt;
  }
  switch (mode_) {
    case Mode::kWindow:
      switch (key.key) {
        case Key::kF10:
          mode_ = Mode::kBar;
          bar_ = 0;
          return std::nullopt;
        case Key::kAltChar:
          return Mnemonic(key.ch);
        case Key::kEscape:
          return WindowInput{WindowInput::kKey, 0, "ESC"};
        default:
          return std::nullopt;
      }
    case Mode::kBar:
      switch (key.key) {
        case Key::kLeft:
          bar_ = (bar_ + view_.menu.size() - 1) % view_.menu.size();
          return std::nullopt;
        case Key::kRight:
          bar_ = (bar_ + 1) % view_.menu.size();
          return std::nullopt;
        case Key::kEnter:
        case Key::kDown:
        case Key::kUp:
          return Choose(view_.menu, bar_, true);
        case Key::kChar:
        case Key::kAltChar:
          return Mnemonic(key.ch);
        case Key::kEscape:
        case Key::kF10:
          Leave();
          return std::nullopt;
        default:
          return std::nullopt;
      }
    case Mode::kPopup: {
      Open& top = open_.back();
      switch (key.key) {
        case Key::kUp:
          MovePopup(-1);
          return std::nullopt;
        case Key::kDown:
          MovePopup(1);
          return std::nullopt;
        case Key::kEnter:
        case Key::kSpace:
          return Choose(*top.items, top.selected, false);
        case Key::kRight:
          if (top.selected < top.items->size() && (*top.items)[top.selected].popup)
            return Choose(*top.items, top.selected, false);
          OpenBarItem((bar_ + 1) % view_.menu.size());
          return std::nullopt;
        case Key::kLeft:
          if (open_.size() > 1) {
            open_.pop_back();
            return std::nullopt;
          }
          OpenBarItem((bar_ + view_.menu.size() - 1) % view_.menu.size());
          return std::nullopt;
        case Key::kEscape:
          // Escape closes one pop-up; the bar stays highlighted after the last one.
          open_.pop_back();
          if (open_.empty()) mode_ = Mode::kBar;
          return std::nullopt;
        case Key::kF10:
          Leave();
          return std::nullopt;
        case Key::kChar:
        case Key::kAltChar:
          return Mnemonic(key.ch);
        default:
          return std::nullopt;
      }
    }
  }
  return std::nullopt;
}

}  // namespace w9x::terminal
