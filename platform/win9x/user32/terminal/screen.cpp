// Drawing dialogs and windows on the terminal with ncurses, and reading its keys.
//
// Each call takes the terminal for one interaction and gives it back (endwin) before it
// returns, so whatever the program prints between two calls lands on a normal terminal.
// Texts are UTF-8 and may hold double-width characters; widths come from wcwidth.
#include <curses.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <langinfo.h>

#include "user32/terminal/terminal_ui.h"

namespace w9x::terminal {
namespace {

// The terminal, set up on first use for the whole process.
class Screen {
 public:
  static Screen* Get() {
    static Screen screen;
    return screen.ok_ ? &screen : nullptr;
  }

  // Takes the terminal for one interaction.
  void Begin() {
    if (suspended_) {
      reset_prog_mode();
      refresh();
    }
    suspended_ = false;
    clear();
  }
  void End() {
    endwin();
    suspended_ = true;
  }

 private:
  Screen() {
    if (!Available()) return;
    // Wide characters need a UTF-8 character type; keep the caller's when it is one.
    const char* ctype = std::setlocale(LC_CTYPE, "");
    if (!ctype || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
    screen_ = newterm(nullptr, stdout, stdin);
    if (!screen_) return;
    set_escdelay(25);  // Escape alone, told from Alt+key and function keys by their timing
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    ok_ = true;
  }
  ~Screen() {
    if (screen_ && !suspended_) endwin();
  }

  SCREEN* screen_ = nullptr;
  bool ok_ = false;
  bool suspended_ = false;
};

// Display width of UTF-8 text in terminal cells.
int Width(const std::string& s) {
  std::mbstate_t state{};
  int width = 0;
  const char* p = s.data();
  std::size_t left = s.size();
  while (left > 0) {
    wchar_t wc;
    std::size_t n = std::mbrtowc(&wc, p, left, &state);
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      n = 1;
      wc = L'?';
      state = {};
    }
    const int w = ::wcwidth(wc);
    width += w > 0 ? w : 0;
    p += n;
    left -= n;
  }
  return width;
}

void Put(int y, int x, const std::string& s, attr_t attr = A_NORMAL) {
  attron(attr);
  mvaddstr(y, x, s.c_str());
  attroff(attr);
}

// A label with its mnemonic letter underlined; returns the width drawn.
int PutLabel(int y, int x, const Label& label, attr_t attr) {
  if (label.mnemonic == std::string::npos) {
    Put(y, x, label.text, attr);
    return Width(label.text);
  }
  const std::string before = label.text.substr(0, label.mnemonic);
  const std::string letter = label.text.substr(label.mnemonic, 1);
  const std::string after = label.text.substr(label.mnemonic + 1);
  Put(y, x, before, attr);
  Put(y, x + Width(before), letter, attr | A_UNDERLINE);
  Put(y, x + Width(before) + 1, after, attr);
  return Width(label.text);
}

// Frames are drawn with the box-drawing characters themselves (the terminal is UTF-8), not with
// the terminal's alternate character set, so that they read back as text.
std::string Repeat(const char* s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

void HorizontalLine(int y, int left, int width, const char* l, const char* r) {
  Put(y, left, l + Repeat("\u2500", width - 2) + r);
}

void Box(int top, int left, int height, int width) {
  HorizontalLine(top, left, width, "\u250C", "\u2510");
  for (int y = top + 1; y < top + height - 1; ++y) Put(y, left, "\u2502" + std::string(width - 2, ' ') + "\u2502");
  HorizontalLine(top + height - 1, left, width, "\u2514", "\u2518");
}

// One key from the terminal; nullopt when its input has ended.
std::optional<KeyPress> ReadKey() {
  for (;;) {
    const int c = getch();
    switch (c) {
      case ERR:
        return std::nullopt;
      case '\t': return KeyPress{Key::kTab};
      case KEY_BTAB: return KeyPress{Key::kBackTab};
      case KEY_LEFT: return KeyPress{Key::kLeft};
      case KEY_RIGHT: return KeyPress{Key::kRight};
      case KEY_UP: return KeyPress{Key::kUp};
      case KEY_DOWN: return KeyPress{Key::kDown};
      case '\r':
      case '\n':
      case KEY_ENTER: return KeyPress{Key::kEnter};
      case ' ': return KeyPress{Key::kSpace};
      case KEY_RESIZE: return KeyPress{Key::kNone};
      case 27: {
        // Escape alone, or the first byte of Alt+key.
        nodelay(stdscr, TRUE);
        const int next = getch();
        nodelay(stdscr, FALSE);
        if (next == ERR) return KeyPress{Key::kEscape};
        if (next == KEY_F(4)) return KeyPress{Key::kAltF4};
        if (next > 32 && next < 127) return KeyPress{Key::kAltChar, static_cast<char>(next)};
        return KeyPress{Key::kEscape};
      }
      default:
        if (c == KEY_F(10)) return KeyPress{Key::kF10};
        if (c == KEY_F(52)) return KeyPress{Key::kAltF4};  // F4 with the Alt modifier (F49-F60)
        if (c > 32 && c < 127) return KeyPress{Key::kChar, static_cast<char>(c)};
        continue;  // keys without a meaning here
    }
  }
}

// ---- dialog --------------------------------------------------------------------------------

std::string ButtonText(const DialogButton& b) { return ParseLabel(b.text).text; }

void DrawDialog(const DialogView& view, const DialogKeys& keys) {
  erase();
  const int icon_width = view.icon.empty() ? 0 : 5;  // "(!)  "
  int text_width = Width(view.title) + 4;
  for (const std::string& t : view.texts) text_width = std::max(text_width, icon_width + Width(t));
  int buttons_width = 0;
  for (const DialogButton& b : view.buttons) buttons_width += Width(ButtonText(b)) + 8;
  const int width = std::max(text_width, buttons_width) + 6;
  const int height = static_cast<int>(std::max<std::size_t>(view.texts.size(), view.icon.empty() ? 0 : 1)) + 6;
  const int top = std::max(0, (LINES - height) / 2);
  const int left = std::max(0, (COLS - width) / 2);

  Box(top, left, height, width);
  // The title bar.
  mvchgat(top + 1, left + 1, width - 2, A_REVERSE, 0, nullptr);
  Put(top + 1, left + 2, view.title, A_REVERSE | A_BOLD);
  if (!view.icon.empty()) Put(top + 3, left + 3, "(" + view.icon + ")", A_BOLD);
  for (std::size_t i = 0; i < view.texts.size(); ++i)
    Put(top + 3 + static_cast<int>(i), left + 3 + icon_width, view.texts[i]);

  // The buttons in one row, centred; the default one between double brackets, the focused one
  // in reverse video.
  int x = left + (width - buttons_width) / 2 + 1;
  const int y = top + height - 2;
  for (std::size_t i = 0; i < view.buttons.size(); ++i) {
    const Label label = ParseLabel(view.buttons[i].text);
    const bool is_default = i == keys.DefaultIndex();
    const bool focused = i == keys.Focus();
    Put(y, x, is_default ? "[[" : " [");
    const attr_t attr = focused ? A_REVERSE : A_NORMAL;
    Put(y, x + 2, " ", attr);
    const int w = PutLabel(y, x + 3, label, attr);
    Put(y, x + 3 + w, " ", attr);
    Put(y, x + 4 + w, is_default ? "]]" : "] ");
    x += w + 8;
  }
  refresh();
}

// ---- window --------------------------------------------------------------------------------

constexpr int kWindowWidth = 40;

// Positions of the bar items: their left column.
std::vector<int> BarColumns(const WindowView& view, int left) {
  std::vector<int> columns;
  int x = left + 2;
  for (const MenuEntry& e : view.menu) {
    columns.push_back(x);
    x += Width(ParseLabel(e.text).text) + 3;
  }
  return columns;
}

void DrawPopup(const std::vector<MenuEntry>& items, std::size_t selected, int top, int left) {
  int text_width = 0, shortcut_width = 0;
  for (const MenuEntry& e : items) {
    const Label l = ParseLabel(e.text);
    text_width = std::max(text_width, Width(l.text));
    shortcut_width = std::max(shortcut_width, Width(l.shortcut));
  }
  // "│ ✓ text    shortcut ▸ │"
  const int inner = 3 + text_width + (shortcut_width ? 4 + shortcut_width : 0) + 3;
  const int width = inner + 2;
  const int height = static_cast<int>(items.size()) + 2;
  Box(top, left, height, width);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const MenuEntry& e = items[i];
    const int y = top + 1 + static_cast<int>(i);
    if (e.separator) {
      HorizontalLine(y, left, width, "\u251C", "\u2524");
      continue;
    }
    attr_t attr = i == selected ? A_REVERSE : A_NORMAL;
    if (e.grayed) attr |= A_DIM;
    mvhline(y, left + 1, ' ', width - 2);
    if (i == selected) mvchgat(y, left + 1, width - 2, A_REVERSE, 0, nullptr);
    const Label l = ParseLabel(e.text);
    if (e.checked) Put(y, left + 2, "\u2713", attr);
    PutLabel(y, left + 4, l, attr);
    if (!l.shortcut.empty()) Put(y, left + width - 3 - (e.popup ? 2 : 0) - Width(l.shortcut), l.shortcut, attr);
    if (e.popup) Put(y, left + width - 3, ">", attr);
  }
}

void DrawWindow(const WindowView& view, const MenuKeys& keys) {
  erase();
  const int top = 0, left = 0;
  int width = std::max(kWindowWidth, Width(view.title) + 10);
  const std::vector<int> columns = BarColumns(view, left);
  if (!columns.empty()) width = std::max(width, columns.back() + Width(ParseLabel(view.menu.back().text).text) + 3);
  Box(top, left, 4, width);
  // The title bar with the close box.
  mvchgat(top + 1, left + 1, width - 2, A_REVERSE, 0, nullptr);
  Put(top + 1, left + 2, view.title, A_REVERSE | A_BOLD);
  Put(top + 1, left + width - 5, "[X]", A_REVERSE);
  // The menu bar.
  for (std::size_t i = 0; i < view.menu.size(); ++i) {
    const bool highlighted = keys.CurrentMode() != MenuKeys::Mode::kWindow && keys.BarIndex() == i;
    const attr_t attr = highlighted ? A_REVERSE : A_NORMAL;
    Put(top + 2, columns[i] - 1, " ", attr);
    const int w = PutLabel(top + 2, columns[i], ParseLabel(view.menu[i].text), attr);
    Put(top + 2, columns[i] + w, " ", attr);
  }
  // The open pop-ups, each beside the item that opened it.
  int popup_top = top + 3, popup_left = columns.empty() ? left : columns[keys.BarIndex()] - 1;
  for (const MenuKeys::Open& open : keys.OpenPopups()) {
    DrawPopup(*open.items, open.selected, popup_top, popup_left);
    int text_width = 0;
    for (const MenuEntry& e : *open.items) text_width = std::max(text_width, Width(ParseLabel(e.text).text) + 10);
    popup_top += 1 + static_cast<int>(open.selected);
    popup_left += text_width;
  }
  refresh();
}

}  // namespace

bool Available() { return isatty(STDIN_FILENO) && isatty(STDOUT_FILENO); }

std::optional<DialogChoice> RunDialog(const DialogView& view) {
  Screen* screen = Screen::Get();
  if (!screen) return std::nullopt;
  screen->Begin();
  DialogKeys keys(view);
  std::optional<DialogChoice> choice;
  for (;;) {
    DrawDialog(view, keys);
    const std::optional<KeyPress> key = ReadKey();
    if (!key) break;
    if ((choice = keys.Press(*key))) break;
  }
  screen->End();
  return choice;
}

std::optional<WindowInput> WaitWindow(const WindowView& view) {
  Screen* screen = Screen::Get();
  if (!screen) return std::nullopt;
  screen->Begin();
  MenuKeys keys(view);
  std::optional<WindowInput> input;
  for (;;) {
    DrawWindow(view, keys);
    const std::optional<KeyPress> key = ReadKey();
    if (!key) break;
    if ((input = keys.Press(*key))) break;
  }
  screen->End();
  return input;
}

}  // namespace w9x::terminal
