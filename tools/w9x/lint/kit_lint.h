// `w9x lint`: reads a kit's script with the update program's own reader, on a scratch machine,
// and says what each command means and what an author should know before shipping it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w9x::lint {

struct Problem {
  std::string where;   // "[Command] 3", "[General] Target", "DRUPDATE.INI"
  std::string reason;  // one line, UTF-8
};

struct CommandMeaning {
  int key = 0;
  std::string text;      // the value as the program read it (UTF-8)
  int kind = 0;          // 1 to 4; 0 other kinds; -1 no comma
  bool kept = false;     // the program's reader keeps the line
  std::string summary;   // one line: what the command does and when
};

struct Report {
  int target = -1;
  std::vector<CommandMeaning> commands;
  std::vector<Problem> problems;
};

// Lints the kit in `kit` (a host folder).  Throws std::runtime_error (one line) when the folder or
// its DRUPDATE.INI cannot be read.
Report LintKit(const std::filesystem::path& kit);

}  // namespace w9x::lint
