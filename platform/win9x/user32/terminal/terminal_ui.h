// The terminal front end of the simulated PC's windows: a modal dialog and a main window with a
// menu bar, drawn with ncurses and worked with the keys a Windows user knows.
//
// The window system hands over view models (texts are UTF-8; "&" marks the mnemonic letter of a
// label, "&&" is a plain "&", a tab separates the shortcut text shown at the right) and gets back
// what the user did: the pressed button's id, the chosen menu command, or a key the window
// itself must handle (Escape, Alt+F4).  What the keys do is kept apart from the drawing
// (DialogKeys, MenuKeys), so it can be checked without a terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace w9x::terminal {

// ---- view models ---------------------------------------------------------------------------

struct DialogButton {
  int id = 0;
  std::string text;
};

struct DialogView {
  std::string title;
  std::string icon;                // "!", "?", "i", "x" or empty
  std::vector<std::string> texts;  // the static texts, in template order
  std::vector<DialogButton> buttons;
  int default_id = 0;  // the default push button's id; 0 when there is none
};

struct DialogChoice {
  int id = 0;
  std::string key;  // what pressed it: "ENTER", "SPACE", "ESC" or the mnemonic letter
};

struct MenuEntry {
  std::string text;
  int id = 0;
  bool checked = false;
  bool grayed = false;
  bool separator = false;
  bool popup = false;
  std::vector<MenuEntry> items;  // of a pop-up
};

struct WindowView {
  std::string title;
  std::vector<MenuEntry> menu;  // the menu bar
};

struct WindowInput {
  enum Kind { kCommand, kKey } kind = kCommand;
  int command = 0;  // kCommand: the chosen item's id
  std::string key;  // kKey: "ESC" or "ALT+F4"
};

// ---- keys ----------------------------------------------------------------------------------

enum class Key { kNone, kTab, kBackTab, kLeft, kRight, kUp, kDown, kEnter, kSpace, kEscape, kF10, kAltF4, kChar, kAltChar };

struct KeyPress {
  Key key = Key::kNone;
  char ch = 0;  // kChar, kAltChar
};

// A label split for display: the text without the "&" marks, the mnemonic's byte position in it
// (npos: none) and the shortcut text after the tab.
struct Label {
  std::string text;
  std::size_t mnemonic = std::string::npos;
  std::string shortcut;
  char Mnemonic() const;  // the mnemonic letter in upper case, or 0
};
Label ParseLabel(const std::string& utf8);

// Focus and buttons of a dialog.
class DialogKeys {
 public:
  explicit DialogKeys(const DialogView& view);
  // The button the key presses, if any; other keys move the focus or do nothing.
  std::optional<DialogChoice> Press(KeyPress key);
  std::size_t Focus() const { return focus_; }
  // The button drawn as the default: the focused push button.
  std::size_t DefaultIndex() const { return focus_; }

 private:
  const DialogView& view_;
  std::size_t focus_ = 0;
};

// The menu bar and its pop-ups.
class MenuKeys {
 public:
  enum class Mode { kWindow, kBar, kPopup };
  explicit MenuKeys(const WindowView& view) : view_(view) {}
  // A chosen command or a key for the window; other keys work the menu or do nothing.
  std::optional<WindowInput> Press(KeyPress key);

  Mode CurrentMode() const { return mode_; }
  std::size_t BarIndex() const { return bar_; }
  // The open pop-ups, outermost first: their items and the highlighted one.
  struct Open {
    const std::vector<MenuEntry>* items;
    std::size_t selected;
  };
  const std::vector<Open>& OpenPopups() const { return open_; }

 private:
  std::optional<WindowInput> Choose(const std::vector<MenuEntry>& items, std::size_t index, bool from_bar);
  void OpenBarItem(std::size_t index);
  void MovePopup(int step);
  std::optional<WindowInput> Mnemonic(char c);
  void Leave();

  const WindowView& view_;
  Mode mode_ = Mode::kWindow;
  std::size_t bar_ = 0;
  std::vector<Open> open_;
};

// ---- the terminal --------------------------------------------------------------------------

// True when standard input and output are a terminal.
bool Available();

// Shows the dialog until a button is pressed; nullopt when the terminal cannot be used or its
// input ends.
std::optional<DialogChoice> RunDialog(const DialogView& view);

// Shows the window and waits for one thing the user does; nullopt as above.
std::optional<WindowInput> WaitWindow(const WindowView& view);

}  // namespace w9x::terminal
