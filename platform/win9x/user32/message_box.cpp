// Message boxes: the user is the run's --answer list, then the terminal (when the run is
// interactive), then the box's default button.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "kernel32/api_support.h"
#include "machine/screen_text.h"

using namespace w9x;

namespace {

struct Button {
  const char* name;
  int id;
};

constexpr Button kOk{"OK", IDOK}, kCancel{"CANCEL", IDCANCEL}, kAbort{"ABORT", IDABORT}, kRetry{"RETRY", IDRETRY},
    kIgnore{"IGNORE", IDIGNORE}, kYes{"YES", IDYES}, kNo{"NO", IDNO};

std::vector<Button> ButtonsOf(UINT type) {
  switch (type & 0xF) {
    case MB_OKCANCEL: return {kOk, kCancel};
    case MB_ABORTRETRYIGNORE: return {kAbort, kRetry, kIgnore};
    case MB_YESNOCANCEL: return {kYes, kNo, kCancel};
    case MB_YESNO: return {kYes, kNo};
    case MB_RETRYCANCEL: return {kRetry, kCancel};
    default: return {kOk};
  }
}

std::string IconOf(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONHAND: return "x";
    case MB_ICONQUESTION: return "?";
    case MB_ICONEXCLAMATION: return "!";
    case MB_ICONASTERISK: return "i";
    default: return "";
  }
}

// The button an answer names ("OK", "yes", or a button id), if the box has it.
std::optional<Button> Match(const std::vector<Button>& buttons, std::string answer) {
  for (char& c : answer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Button& b : buttons)
    if (answer == b.name || answer == std::to_string(b.id)) return b;
  return std::nullopt;
}

}  // namespace

int WINAPI MessageBoxA(HWND, LPCSTR body_arg, LPCSTR title_arg, UINT type) {
  const std::string title = text::ToUtf8(title_arg ? title_arg : "Error");
  const std::string body = text::ToUtf8(body_arg ? body_arg : "");
  const std::vector<Button> buttons = ButtonsOf(type);
  std::vector<std::string> names;
  for (const Button& b : buttons) names.emplace_back(b.name);
  std::size_t default_index = (type & 0xF00) >> 8;
  Button chosen = buttons[default_index < buttons.size() ? default_index : 0];

  Session& session = CurrentMachine().RunSession();
  std::string source = "default";
  if (auto answer = session.NextAnswer()) {
    if (auto b = Match(buttons, *answer)) {
      chosen = *b;
      source = "answer";
    } else {
      std::fprintf(stderr, "w9x: answer %s is not a button of this message box; %s pressed\n", answer->c_str(),
                   chosen.name);
    }
  } else if (session.Settings().interactive && isatty(STDIN_FILENO)) {
    std::cout << RenderMessageBox(title, body, IconOf(type), names, "") << std::flush;
    for (std::string line; std::cout << "press: " << std::flush, std::getline(std::cin, line);) {
      if (line.empty()) break;  // Enter presses the default button
      if (auto b = Match(buttons, line)) {
        chosen = *b;
        break;
      }
    }
    source = "terminal";
  }
  if (source != "terminal") std::cout << RenderMessageBox(title, body, IconOf(type), names, chosen.name) << std::flush;

  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%X", type);
  api::Record("MessageBoxA", {{"title", title}, {"text", body}, {"flags", flags}, {"icon", IconOf(type)}, {"buttons", names},
                              {"pressed", chosen.name}, {"by", source}, {"result", chosen.id}});
  return chosen.id;
}
