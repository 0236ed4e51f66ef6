// The terminal front end: what the keys do (without a terminal), and what a user sees and gets
// on a real terminal (a probe program in tmux).
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "terminal_session.h"
#include "user32/terminal/terminal_ui.h"

namespace w9x::terminal {
namespace {

TEST(TerminalLabels, MnemonicAndShortcut) {
  struct Case {
    const char* label;
    const char* text;
    char mnemonic;
    const char* shortcut;
  };
  const Case cases[] = {
      {"&Save settings", "Save settings", 'S', ""},
      {"&Hide\tESC", "Hide", 'H', "ESC"},
      {"E&xit\tAlt+F4", "Exit", 'X', "Alt+F4"},
      {"&0:EWX_LOGOFF", "0:EWX_LOGOFF", '0', ""},
      {"A && B", "A & B", 0, ""},          // "&&" is a plain ampersand
      {"&&&Copy", "&Copy", 'C', ""},       // after a plain ampersand, the mark
      {"end&", "end&", 0, ""},             // a mark with nothing after it stays
      {"OK", "OK", 0, ""},
  };
  for (const Case& c : cases) {
    const Label l = ParseLabel(c.label);
    EXPECT_EQ(l.text, c.text) << c.label;
    EXPECT_EQ(l.Mnemonic(), c.mnemonic) << c.label;
    EXPECT_EQ(l.shortcut, c.shortcut) << c.label;
  }
}

KeyPress K(Key k, char c = 0) { return {k, c}; }

const DialogView kQuery{"Windows の終了", "!", {"Windows を終了します。", "よろしいですか？"},
                        {{1, "OK"}, {2, "キャンセル"}}, 1};
const DialogView kThree{"T", "!", {"t"}, {{1, "はい"}, {7, "いいえ"}, {2, "キャンセル"}}, 1};
const DialogView kMnemonics{"T", "", {}, {{1, "&Yes"}, {7, "&No"}}, 1};

TEST(TerminalDialogKeys, KeysPressButtons) {
  struct Case {
    const char* why;
    const DialogView* view;
    std::vector<KeyPress> keys;
    int id;
    const char* by;
  };
  const Case cases[] = {
      {"Enter presses the default button", &kQuery, {K(Key::kEnter)}, 1, "ENTER"},
      {"Escape is IDCANCEL", &kQuery, {K(Key::kEscape)}, 2, "ESC"},
      {"Tab then Enter presses the next button", &kQuery, {K(Key::kTab), K(Key::kEnter)}, 2, "ENTER"},
      {"focus wraps around", &kQuery, {K(Key::kTab), K(Key::kTab), K(Key::kEnter)}, 1, "ENTER"},
      {"Shift+Tab goes back, wrapping", &kThree, {K(Key::kBackTab), K(Key::kEnter)}, 2, "ENTER"},
      {"arrows move like Tab", &kThree, {K(Key::kRight), K(Key::kDown), K(Key::kLeft), K(Key::kSpace)}, 7, "SPACE"},
      {"Escape is IDCANCEL even where no button has it", &kMnemonics, {K(Key::kEscape)}, 2, "ESC"},
      {"a mnemonic letter presses its button", &kMnemonics, {K(Key::kChar, 'n')}, 7, "N"},
      {"Alt with the letter too", &kMnemonics, {K(Key::kAltChar, 'Y')}, 1, "Y"},
      {"letters without a mnemonic do nothing", &kQuery, {K(Key::kChar, 'o'), K(Key::kF10), K(Key::kEnter)}, 1, "ENTER"},
  };
  for (const Case& c : cases) {
    DialogKeys keys(*c.view);
    std::optional<DialogChoice> choice;
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      choice = keys.Press(c.keys[i]);
      if (i + 1 < c.keys.size()) {
        ASSERT_FALSE(choice) << c.why << ": pressed early, at key " << i;
      }
    }
    ASSERT_TRUE(choice) << c.why;
    EXPECT_EQ(choice->id, c.id) << c.why;
    EXPECT_EQ(choice->key, c.by) << c.why;
  }
}

MenuEntry Item(const char* text, int id, bool checked = false) { return {text, id, checked}; }
MenuEntry Separator() {
  MenuEntry e;
  e.separator = true;
  return e;
}
MenuEntry Popup(const char* text, std::vector<MenuEntry> items) {
  MenuEntry e;
  e.text = text;
  e.popup = true;
  e.items = std::move(items);
  return e;
}

// A settings window's menu: one pop-up with separators, and a second bar item for the moves
// between pop-ups.
const WindowView kWindow{"W.EXE",
                         {Popup("&Setup", {Item("&Default", 100), Item("&Save settings", 101), Separator(),
                                           Item("&Q:Query", 102, true), Item("&0:EWX_LOGOFF", 103), Separator(),
                                           Item("&Hide\tESC", 108), Item("&Exit\tAlt+F4", 109)}),
                          Popup("&View", {Item("&Small", 200), Item("S&ame", 201), Item("&Sharp", 202),
                                          Popup("&Deeper", {Item("&Inner", 210)})})}};

TEST(TerminalMenuKeys, KeysChooseCommands) {
  struct Case {
    const char* why;
    std::vector<KeyPress> keys;
    std::optional<WindowInput> result;  // of the last key; the others give nothing
  };
  const WindowInput esc{WindowInput::kKey, 0, "ESC"}, alt_f4{WindowInput::kKey, 0, "ALT+F4"};
  auto command = [](int id) { return WindowInput{WindowInput::kCommand, id, {}}; };
  const Case cases[] = {
      {"Escape in the window goes to the window (its accelerator)", {K(Key::kEscape)}, esc},
      {"Alt+F4 closes", {K(Key::kAltF4)}, alt_f4},
      {"F10 highlights the bar, Enter opens, Enter chooses the first item",
       {K(Key::kF10), K(Key::kEnter), K(Key::kEnter)}, command(100)},
      {"Down skips the separator", {K(Key::kF10), K(Key::kDown), K(Key::kDown), K(Key::kDown), K(Key::kEnter)},
       command(102)},
      {"Up from the first item wraps to the last", {K(Key::kAltChar, 's'), K(Key::kUp), K(Key::kEnter)}, command(109)},
      {"Alt+letter opens the pop-up, a letter chooses", {K(Key::kAltChar, 'S'), K(Key::kChar, 'q')}, command(102)},
      {"digits are mnemonics too", {K(Key::kAltChar, 's'), K(Key::kChar, '0')}, command(103)},
      {"Escape closes the pop-up, the bar stays: Escape again leaves, a third goes to the window",
       {K(Key::kAltChar, 's'), K(Key::kEscape), K(Key::kEscape), K(Key::kEscape)}, esc},
      {"after Escape from the pop-up, Enter opens it again", {K(Key::kAltChar, 's'), K(Key::kEscape), K(Key::kEnter),
       K(Key::kChar, 'e')}, command(109)},
      {"Alt+F4 with the menu open", {K(Key::kAltChar, 's'), K(Key::kDown), K(Key::kAltF4)}, alt_f4},
      {"Right moves to the next pop-up", {K(Key::kAltChar, 's'), K(Key::kRight), K(Key::kEnter)}, command(200)},
      {"a letter shared by items highlights the next of them", {K(Key::kAltChar, 'v'), K(Key::kChar, 's'),
       K(Key::kEnter)}, command(202)},
      {"and the next again, wrapping", {K(Key::kAltChar, 'v'), K(Key::kChar, 's'), K(Key::kChar, 's'),
       K(Key::kEnter)}, command(200)},
      {"nested pop-up opened with Right", {K(Key::kAltChar, 'v'), K(Key::kUp), K(Key::kRight), K(Key::kEnter)},
       command(210)},
      {"Left closes the nested pop-up only", {K(Key::kAltChar, 'v'), K(Key::kChar, 'd'), K(Key::kLeft), K(Key::kUp),
       K(Key::kEnter)}, command(202)},
      {"a letter without Alt in the window does nothing", {K(Key::kChar, 's'), K(Key::kEscape)}, esc},
      {"F10 again leaves the menu", {K(Key::kF10), K(Key::kF10), K(Key::kEscape)}, esc},
  };
  for (const Case& c : cases) {
    MenuKeys keys(kWindow);
    std::optional<WindowInput> got;
    for (std::size_t i = 0; i < c.keys.size(); ++i) {
      got = keys.Press(c.keys[i]);
      if (i + 1 < c.keys.size()) {
        ASSERT_FALSE(got) << c.why << ": result early, at key " << i;
      }
    }
    ASSERT_EQ(got.has_value(), c.result.has_value()) << c.why;
    if (!got) continue;
    EXPECT_EQ(got->kind, c.result->kind) << c.why;
    EXPECT_EQ(got->command, c.result->command) << c.why;
    EXPECT_EQ(got->key, c.result->key) << c.why;
    EXPECT_EQ(keys.CurrentMode(), MenuKeys::Mode::kWindow) << c.why << ": the menu stays open";
  }
}

TEST(TerminalMenuKeys, GrayedItemsAndSeparatorsAreNotChosen) {
  const WindowView view{"W", {Popup("&A", {Separator(), Item("&Gray", 5), Item("&Live", 6)})}};
  WindowView grayed = view;
  grayed.menu[0].items[1].grayed = true;
  MenuKeys keys(grayed);
  EXPECT_FALSE(keys.Press(K(Key::kAltChar, 'a')));
  ASSERT_EQ(keys.OpenPopups().size(), 1u);
  EXPECT_EQ(keys.OpenPopups()[0].selected, 1u);  // the separator is skipped
  EXPECT_FALSE(keys.Press(K(Key::kEnter)));      // grayed: nothing
  EXPECT_FALSE(keys.Press(K(Key::kChar, 'g')));
  EXPECT_EQ(keys.CurrentMode(), MenuKeys::Mode::kPopup);
  auto live = keys.Press(K(Key::kChar, 'l'));
  ASSERT_TRUE(live);
  EXPECT_EQ(live->command, 6);
}

// ---- on a terminal -------------------------------------------------------------------------

using scenario::TerminalSession;

// The probe in a terminal; its result file, one line per event.
class TmuxProbe : public TerminalSession {
 public:
  TmuxProbe(const std::string& mode, const std::string& name)
      : TerminalSession(std::string(W9X_TERMINAL_PROBE) + " result " + mode + " \"" + name + "\"") {}

  // The result file once it has `lines` lines.
  std::string Result(std::size_t lines) const {
    std::string text;
    for (int i = 0; i < 100; ++i) {
      std::ifstream in(Dir() / "result");
      std::stringstream ss;
      ss << in.rdbuf();
      text = ss.str();
      if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
  }
};

std::string LineWith(const std::string& screen, const std::string& text) { return TerminalSession::LineWith(screen, text); }

TEST(TerminalScreen, DialogShowsTitleTextsIconAndButtons) {
  TmuxProbe probe("dialog", "#1000");
  const std::string screen = probe.WaitFor("キャンセル");
  EXPECT_NE(screen.find("Windows の終了"), std::string::npos) << screen;
  // Texts in template order, the icon before the first.
  const std::size_t first = screen.find("Windows を終了します。");
  EXPECT_NE(first, std::string::npos) << screen;
  EXPECT_LT(first, screen.find("よろしいですか？")) << screen;
  EXPECT_NE(LineWith(screen, "Windows を終了します。").find("(!)"), std::string::npos) << screen;
  // The default button is marked, the other is not.
  const std::string buttons = LineWith(screen, "キャンセル");
  EXPECT_NE(buttons.find("[[ OK ]]"), std::string::npos) << buttons;
  EXPECT_NE(buttons.find(" [ キャンセル ] "), std::string::npos) << buttons;
  // Tab moves the focus, and with it the default mark; Enter presses that button.
  probe.Keys("Tab");
  const std::string moved = LineWith(probe.WaitFor("[[ キャンセル ]]"), "キャンセル");
  EXPECT_NE(moved.find(" [ OK ] "), std::string::npos) << moved;
  probe.Keys("Enter");
  EXPECT_EQ(probe.Result(1), "button 2 ENTER\n");
}

TEST(TerminalScreen, DialogEscapeIsCancel) {
  TmuxProbe probe("dialog", "#1000");
  probe.WaitFor("キャンセル");
  probe.Keys("Escape");
  EXPECT_EQ(probe.Result(1), "button 2 ESC\n");
}

TEST(TerminalScreen, WindowMenuIsDrawnAndWorked) {
  TmuxProbe probe("window", "sample");
  std::string screen = probe.WaitFor("PROBE.EXE");
  EXPECT_NE(LineWith(screen, "File").find("Help"), std::string::npos) << screen;  // the menu bar
  EXPECT_EQ(screen.find("Open"), std::string::npos) << "pop-up shown before it is opened:\n" << screen;

  // F10 then Enter opens the first pop-up.
  probe.Keys("F10");
  probe.Keys("Enter");
  screen = probe.WaitFor("Open");
  const std::string open = LineWith(screen, "Open");
  EXPECT_NE(open.find("\u2713"), std::string::npos) << "check mark:\n" << screen;
  EXPECT_LT(open.find("\u2713"), open.find("Open"));
  // Shortcuts right-aligned: they end in the same column.
  const std::string exit = LineWith(screen, "Exit");
  const std::size_t open_end = open.find("Ctrl+O") + 6, exit_end = exit.find("Alt+F4") + 6;
  ASSERT_NE(open.find("Ctrl+O"), std::string::npos) << screen;
  ASSERT_NE(exit.find("Alt+F4"), std::string::npos) << screen;
  EXPECT_EQ(open_end - open.find("Open"), exit_end - exit.find("Exit")) << screen;
  // The items in order, a separator between Open and More.
  const std::size_t at_open = screen.find("Open"), at_more = screen.find("More"), at_exit = screen.find("Exit");
  EXPECT_LT(at_open, at_more);
  EXPECT_LT(at_more, at_exit);
  EXPECT_NE(screen.substr(at_open, at_more - at_open).find("├"), std::string::npos) << screen;
  // Mnemonic letters are underlined: "x" of "Exit", "F" of "File".
  const std::string attributes = probe.Screen(true);
  EXPECT_NE(attributes.find("\x1b[4mx"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("\x1b[4mF"), std::string::npos) << attributes;

  // Enter chooses the highlighted first item: its check mark goes away.
  probe.Keys("Enter");
  EXPECT_EQ(probe.Result(1), "command 100\n");
  screen = probe.WaitFor("Open", false);  // the menu closed
  // Alt+F, then the mnemonic "o": the mark is gone now.
  probe.Keys("M-f");
  screen = probe.WaitFor("Open");
  EXPECT_EQ(LineWith(screen, "Open").find("\u2713"), std::string::npos) << screen;
  probe.Keys("o");
  EXPECT_EQ(probe.Result(2), "command 100\ncommand 100\n");
  // Escape in the window, then Alt+F4.
  probe.WaitFor("Open", false);
  probe.Keys("Escape");
  EXPECT_EQ(probe.Result(3), "command 100\ncommand 100\nkey ESC\n");
  probe.Keys("M-F4");
  EXPECT_EQ(probe.Result(4), "command 100\ncommand 100\nkey ESC\nkey ALT+F4\n");
}

}  // namespace
}  // namespace w9x::terminal
