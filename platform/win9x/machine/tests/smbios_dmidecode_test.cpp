// dmidecode, an independent SMBIOS decoder, reads the dumps our builder writes and must show the
// same product name as our reader.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "machine/smbios.h"
#include "smbios_builder.h"

// The tables of cases name only the fields a case sets; the others keep their defaults, which
// GCC 12 still reports as missing initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace w9x::smbios {
namespace {

using testing::DumpBuilder;
using testing::DumpKind;
using testing::SystemInfo;

// W9X_DMIDECODE names the tool to use; otherwise it is looked up.
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
  // The tool lives in the administrators' folders, often missing from a user's PATH.
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin"}) dirs.emplace_back(dir);
  for (const auto& dir : dirs) {
    const std::filesystem::path candidate = dir / "dmidecode";
    if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

std::string ShellQuote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The lines dmidecode prints for `-s system-product-name`; fails the test when it does not run.
std::vector<std::string> DmidecodeProductNames(const std::filesystem::path& tool,
                                               const std::filesystem::path& dump) {
  const std::string command = ShellQuote(tool.string()) + " --from-dump " + ShellQuote(dump.string()) +
                              " -s system-product-name 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot start " << command;
    return {};
  }
  std::string output;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << " failed: status " << status;
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// dmidecode's placeholders for a structure that names no product; our reader gives "".
std::string WithoutPlaceholder(const std::string& shown) {
  return (shown == "Not Specified" || shown == "<BAD INDEX>") ? std::string() : shown;
}

TEST(SmbiosDmidecodeOracle, ProductNameMatches) {
  const std::optional<std::filesystem::path> tool = FindDmidecode();
  ASSERT_TRUE(tool) << "dmidecode not found (install the Debian package dmidecode, or set "
                       "W9X_DMIDECODE to its path): the SMBIOS dumps cannot be checked against it";
  struct Case {
    const char* name;
    DumpBuilder dump;
    DumpKind kind;
    std::size_t lines;  // one per System Information structure
  };
  Case cases[] = {
      {"string 2, 2.x", {}, DumpKind::V2, 1},
      {"string 2, 3.x", {}, DumpKind::V3, 1},
      {"string 2, legacy", {}, DumpKind::Legacy, 1},
      {"empty name", {}, DumpKind::V2, 1},
      {"number past the string set", {}, DumpKind::V3, 1},
      {"name with blanks", {}, DumpKind::V2, 1},
      {"two System Information structures", {}, DumpKind::V3, 2},
  };
  for (int i = 0; i < 3; ++i) cases[i].dump.Add(SystemInfo({.manufacturer = "AAA", .product = "BBB"}));
  cases[3].dump.Add(SystemInfo({.product = ""}));
  cases[4].dump.Add(SystemInfo({.product_number = 9}));
  cases[5].dump.Add(SystemInfo({.product = "  Model 100  Plus "}));
  cases[6].dump.Add(SystemInfo({.product = "First One"})).Add(SystemInfo({.handle = 2, .product = "Second"}));

  const testing::ScratchDir dir;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.dump.Add({.type = 2, .handle = 0x30, .fields = {1}, .strings = {"Board"}}).AddEndOfTable();
    const std::filesystem::path file = dir.path() / "smbios.bin";
    c.dump.WriteFile(file, c.kind);

    const ParseResult parsed = ParseFile(file);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    const std::optional<std::string> ours = SystemProductName(parsed.table);
    ASSERT_TRUE(ours);

    const std::vector<std::string> shown = DmidecodeProductNames(*tool, file);
    ASSERT_EQ(shown.size(), c.lines);
    EXPECT_EQ(WithoutPlaceholder(shown[0]), *ours) << "dmidecode shows \"" << shown[0] << "\"";
  }
}

}  // namespace
}  // namespace w9x::smbios
