#include "dmidecode.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace w9x::smbios::testing {
namespace {

std::string ShellQuote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::optional<std::filesystem::path> FindDmidecode() {
  std::error_code ec;
  if (const char* chosen = std::getenv("W9X_DMIDECODE")) {
    if (std::filesystem::is_regular_file(chosen, ec)) return std::filesystem::path(chosen);
    return std::nullopt;
  }
  std::vector<std::filesystem::path> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::istringstream in(path);
    for (std::string dir; std::getline(in, dir, ':');)
      if (!dir.empty()) dirs.emplace_back(dir);
  }
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin"}) dirs.emplace_back(dir);
  for (const auto& dir : dirs) {
    const std::filesystem::path candidate = dir / "dmidecode";
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> DmidecodeProductNames(const std::filesystem::path& tool,
                                                              const std::filesystem::path& dump) {
  const std::string command = ShellQuote(tool.string()) + " --from-dump " + ShellQuote(dump.string()) +
                              " -s system-product-name 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string WithoutPlaceholder(const std::string& shown) {
  return (shown == "Not Specified" || shown == "<BAD INDEX>") ? std::string() : shown;
}

}  // namespace w9x::smbios::testing
