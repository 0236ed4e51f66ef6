// Installs the terminal front end (ncurses) when standard input and output are a terminal.
#pragma once

namespace w9x {
void InstallTerminalFrontEnd();
}
