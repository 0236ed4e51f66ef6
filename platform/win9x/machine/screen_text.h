// How the terminal shows what a simulated program puts on the screen.
#pragma once

#include <string>
#include <vector>

namespace w9x {

// A message box as a few lines of UTF-8 text: its title, its icon and text, its buttons and,
// when known, the one pressed.
std::string RenderMessageBox(const std::string& title, const std::string& body, const std::string& icon,
                             const std::vector<std::string>& buttons, const std::string& pressed);

}  // namespace w9x
