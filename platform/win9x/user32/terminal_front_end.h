// The terminal front end of the window system: dialogs and the shown window drawn on the
// terminal (user32/terminal), for a program run at one.
#pragma once

#include "user32/menus.h"
#include "user32/terminal/terminal_ui.h"
#include "user32/user_input.h"

namespace w9x::user32 {

// What the terminal shows of a dialog and of a window with its menu (check marks and grayed
// items as the menu has them now).
terminal::DialogView TerminalViewOf(const DialogView& dialog);
terminal::WindowView TerminalViewOf(const WindowView& window, const MenuTable& menus);

// Installs the terminal front end for this process when its standard input and output are a
// terminal (it is asked only in interactive runs, see user_input.h).
void InstallTerminalFrontEnd();

}  // namespace w9x::user32
