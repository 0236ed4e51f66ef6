// Where the simulated user's input comes from, in one place, in this order:
//   1. the run's script: --answer for dialogs, --menu and --key for the shown window;
//   2. a terminal front end, when one is installed and the run is interactive;
//   3. what a user would do at last: Enter in a dialog (then Escape), and a program that waits
//      with nothing left to do is closed (Alt+F4 on its shown window; a program with only
//      hidden windows gets WM_CLOSE and then is ended, as the close-program dialog ends it).
// Under `w9x start` step 3 is replaced by telling the starter that the program waits; the
// program then keeps waiting for messages from other processes.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "user32/dialogs.h"
#include "user32/window_table.h"

namespace w9x::user32 {

struct WindowView {
  HWND hwnd = nullptr;
  std::string title;               // UTF-8
  HMENU menu = nullptr;            // walk it with the menu functions
  std::vector<std::string> lines;  // the menu as text (DescribeMenu)
};

// A user action in a window: a menu command, or a key ("ESC", "ALT+F4", "CTRL+S", "F10", ...).
struct WindowAction {
  bool is_menu = false;
  UINT menu_id = 0;
  std::string key;
};

class TerminalFrontEnd {
 public:
  virtual ~TerminalFrontEnd() = default;
  // The user's press in a dialog; nullopt when the terminal has none to give.
  struct Press {
    DialogKey key = DialogKey::kButton;
    int id = 0;
  };
  virtual std::optional<Press> DialogPress(const DialogView& view) = 0;
  // The user's next action in the shown window; nullopt when the terminal has none to give.
  virtual std::optional<WindowAction> WindowInput(const WindowView& view) = 0;
};

// Installs the terminal front end for this process (null removes it).
void SetTerminalFrontEnd(std::shared_ptr<TerminalFrontEnd> front_end);
// True when a terminal front end draws the dialogs (nothing is printed then).
bool DialogUiActive();

// `w9x start`: the descriptor to write one byte to once the program waits for more input.
void SetStartNotification(int fd);

// Called on a thread that waits with nothing queued and no other thread running.  True when
// the user did something (the thread looks for messages again); false when it should wait.
bool UserActsOnIdle(const std::shared_ptr<Window>& dialog);

// Parses an --answer for a dialog: OK, CANCEL, YES, NO, ENTER, ESC or a control id.
std::optional<TerminalFrontEnd::Press> ParseDialogAnswer(const std::string& answer);
// Parses a key name; false when it is not one: the virtual key and FSHIFT/FCONTROL/FALT.
bool ParseKey(const std::string& name, WORD& vk, BYTE& modifiers);

// Applies a window action as the user's (journal event MenuCommand or Key with `by`).
void ApplyWindowAction(const std::shared_ptr<Window>& window, const WindowAction& action, const std::string& by);

}  // namespace w9x::user32
