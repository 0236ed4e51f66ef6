// Running the w9x command as a user does, for tests of whole programs.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace scenario {

namespace fs = std::filesystem;

struct Result {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs build/bin/w9x with these arguments (UTF-8) and waits for it.
Result W9x(const std::vector<std::string>& args);

// A machine image in a temporary folder, removed at the end of the test.
class Machine {
 public:
  explicit Machine(const std::string& preset, const std::vector<std::string>& new_options = {});
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const fs::path& Root() const { return root_; }
  // Host path of a Windows path (UTF-8), spelled as given.
  fs::path Host(const std::string& windows_path) const;
  void Write(const std::string& windows_path, const std::string& bytes) const;
  std::string Read(const std::string& windows_path) const;
  bool Exists(const std::string& windows_path) const;

  // `w9x run MACHINE --journal J <options> -- <program> <args>`; the journal is kept for Events().
  Result Run(const std::string& program, const std::vector<std::string>& options = {},
             const std::vector<std::string>& args = {});
  // The journal of the last Run, optionally only the events of one name.
  std::vector<nlohmann::json> Events(const std::string& event = "") const;

 private:
  fs::path root_;
  fs::path journal_;
};

// Every file under a folder with its bytes: compares machine images before and after.
std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& root);

}  // namespace scenario
