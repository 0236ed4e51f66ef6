// dmidecode, an independent SMBIOS decoder, reads the dumps our builder writes and must show the
// same product name as our reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dmidecode.h"
#include "machine/smbios.h"
#include "smbios_builder.h"

// The tables of cases name only the fields a case sets; the others keep their defaults, which
// GCC 12 still reports as missing initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace w9x::smbios {
namespace {

using testing::DmidecodeProductNames;
using testing::DumpBuilder;
using testing::DumpKind;
using testing::FindDmidecode;
using testing::SystemInfo;
using testing::WithoutPlaceholder;

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

    const std::optional<std::vector<std::string>> shown = DmidecodeProductNames(*tool, file);
    ASSERT_TRUE(shown) << "dmidecode failed on the dump";
    ASSERT_EQ(shown->size(), c.lines);
    EXPECT_EQ(WithoutPlaceholder(shown->front()), *ours) << "dmidecode shows \"" << shown->front() << "\"";
  }
}

}  // namespace
}  // namespace w9x::smbios
