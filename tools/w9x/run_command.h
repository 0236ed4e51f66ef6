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
  std::vector<std::string> windows;  // titles of launcher windows, UTF-8
  bool fast = false;
  std::vector<std::string> faults;   // --fail CALL[:N[:ERROR]], as given
  std::string program;               // Windows path, UTF-8
  std::vector<std::string> arguments;
  std::filesystem::path bin_dir;     // where the host builds of the deliverables are
};

// The program's exit code; 125 after printing one line for a runner error.
int Run(const RunOptions& options);

}  // namespace w9x::tool
