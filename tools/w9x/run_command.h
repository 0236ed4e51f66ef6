// `w9x run`: runs a kit program on a machine image.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace w9x::tool {

struct RunOptions {
  std::filesystem::path machine;
  std::filesystem::path journal;
  std::vector<std::string> answers;
  std::vector<std::string> menu;
  // --menu ID and --key KEY in the order given: "menu:ID" / "key:KEY".
  std::vector<std::string> window_input;
  std::vector<std::string> windows;  // titles of launcher windows, UTF-8, optionally ending in ":refuse"
  bool fast = false;
  std::vector<std::string> faults;   // --fail CALL[:N[:ERROR]], as given
  std::string program;               // Windows path, UTF-8
  std::vector<std::string> arguments;
  std::filesystem::path bin_dir;     // where the host builds of the deliverables are
};

// The program's exit code; 125 after printing one line for a runner error.
int Run(const RunOptions& options);
// `w9x start`: runs the program until it waits for input, then returns 0 and leaves it running
// (the program's exit code if it ended before that).
int Start(const RunOptions& options);
// `w9x stop`: ends every program still running on the machine, as a shutdown would.
int Stop(const std::filesystem::path& machine);

}  // namespace w9x::tool
