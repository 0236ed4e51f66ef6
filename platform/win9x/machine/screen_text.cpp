#include "machine/screen_text.h"

namespace w9x {

std::string RenderMessageBox(const std::string& title, const std::string& body, const std::string& icon,
                             const std::vector<std::string>& buttons, const std::string& pressed) {
  std::string out = "+-- " + title + "\n";
  std::string prefix = icon.empty() ? "| " : "| (" + icon + ") ";
  std::string indent = icon.empty() ? "| " : "| " + std::string(icon.size() + 3, ' ');
  std::size_t start = 0;
  bool first = true;
  for (;;) {
    std::size_t nl = body.find('\n', start);
    out += (first ? prefix : indent) + body.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    out += "\n";
    first = false;
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  out += "+--";
  for (const std::string& b : buttons) out += " [" + b + "]";
  if (!pressed.empty()) out += "  -> " + pressed;
  out += "\n";
  return out;
}

}  // namespace w9x
