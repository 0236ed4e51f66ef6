#include "model_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dmi_machine.h"
#include "dmidecode.h"

namespace drupdate_test {
namespace {

using w9x::testing::TestMachine;

constexpr char kSentinel = 0x5A;

const StructureDesc kBoard{.type = 2, .handle = 0x30, .fields = {1}, .strings = {"Board"}};

// A System Information structure whose string set is only its two closing NULs, naming string 1.
StructureDesc EmptyStringSet() {
  StructureDesc s = SystemInfo({.manufacturer = "", .product = "", .version = "", .serial = ""});
  s.strings.clear();
  s.fields[1] = 1;
  return s;
}

struct QueryCase {
  const char* name;
  std::vector<StructureDesc> structures;  // in table order, before the end-of-table structure
  w9x::DmiFaults faults;
  int result;
  std::string model;  // the name read, when result is 1
  bool driver = true;
};

// Size of the System Information structure from SystemInfo() with these strings.
std::uint16_t SizeOf(const StructureDesc& s) { return static_cast<std::uint16_t>(w9x::smbios::testing::Encode(s).size()); }

std::vector<QueryCase> Cases() {
  const StructureDesc aaa_bbb = SystemInfo({.manufacturer = "AAA", .product = "BBB", .version = "", .serial = ""});
  // 27 formatted bytes, then "AAA\0BBB\0\0".
  const std::uint16_t size = SizeOf(aaa_bbb);
  const StructureDesc long_name = SystemInfo({.product = std::string(600, 'N')});
  // The largest structure the 2048-byte area takes, and one byte more.
  const StructureDesc fits = SystemInfo({.manufacturer = "", .product = std::string(2048 - 27 - 2, 'F'), .version = "", .serial = ""});
  const StructureDesc too_long = SystemInfo({.manufacturer = "", .product = std::string(2048 - 27 - 1, 'F'), .version = "", .serial = ""});
  return {
      {"driver absent", {aaa_bbb}, {}, 0, "", false},
      {"no System Information structure", {kBoard}, {}, 0, ""},
      {"string number 2", {kBoard, aaa_bbb}, {}, 1, "BBB"},
      {"two System Information structures: the first in table order",
       {SystemInfo({.product = "First"}), kBoard, SystemInfo({.handle = 2, .product = "Second"})}, {}, 1, "First"},
      {"string number 0", {SystemInfo({.product_number = 0})}, {}, 1, ""},
      {"empty string", {EmptyStringSet()}, {}, 1, ""},
      {"name with blanks is read whole", {SystemInfo({.product = "AB-123 X"})}, {}, 1, "AB-123 X"},
      {"name longer than 511 bytes is cut", {long_name}, {}, 1, std::string(511, 'N')},
      {"structure of exactly 2048 bytes", {fits}, {}, 1, std::string(511, 'F')},
      {"structure longer than 2048 bytes", {too_long}, {}, 0, ""},
      {"structure byte count one more", {aaa_bbb}, {.structure_count_delta = 1}, 0, ""},
      {"structure byte count one less", {aaa_bbb}, {.structure_count_delta = -1}, 0, ""},
      {"header byte count one more", {aaa_bbb}, {.header_count_delta = 1}, 0, ""},
      {"table byte count one less", {aaa_bbb}, {.table_count_delta = -1}, 0, ""},
      {"header entry count one more", {aaa_bbb}, {.header_entries = 3}, 0, ""},
      {"header length field below 4", {aaa_bbb}, {.header_count_delta = -6, .header_length = 2}, 0, ""},
      {"header part of 8 bytes fits", {aaa_bbb}, {.header_extra = 4}, 1, "BBB"},
      {"header part longer than 8 bytes", {aaa_bbb}, {.header_extra = 5}, 0, ""},
      {"structure length field below 4", {aaa_bbb}, {.structure_length = 3}, 0, ""},
      {"structure length field beyond the bytes written",
       {aaa_bbb}, {.structure_length = static_cast<std::uint32_t>(size + 5)}, 0, ""},
      {"structure shorter than its Product Name field", {aaa_bbb}, {.entry_size = 5}, 0, ""},
      {"formatted area longer than the structure read", {aaa_bbb}, {.entry_size = 20}, 0, ""},
      {"string without its NUL in the structure read", {aaa_bbb}, {.entry_size = static_cast<std::uint16_t>(27 + 6)}, 0, ""},
      {"string number past the string set", {SystemInfo({.product_number = 9})}, {}, 0, ""},
      {"table call fails", {aaa_bbb}, {.failing_code = 12}, 0, ""},
      {"structure call fails", {aaa_bbb}, {.failing_code = 13}, 0, ""},
  };
}

TEST(QueryModelName, Cases) {
  for (const QueryCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TestMachine m;
    if (c.driver) InstallDump(m, Dump(c.structures));
    m.machine().SetDmiFaults(c.faults);
    const std::size_t handles = m.process().Handles().Count();
    char buffer[kModelNameBuffer];
    std::memset(buffer, kSentinel, sizeof buffer);

    EXPECT_EQ(QueryModelName(buffer), c.result);
    EXPECT_EQ(m.process().Handles().Count(), handles) << "the driver stays open";
    if (c.result) {
      ASSERT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr);
      EXPECT_EQ(std::string(buffer), c.model);
      for (std::size_t i = c.model.size() + 1; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], kSentinel) << i;
    } else {
      for (std::size_t i = 0; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], kSentinel) << "buffer touched at " << i;
    }
  }
}

TEST(QueryModelName, DriverNameIgnoresCaseAndNeedsTheDump) {
  TestMachine m;
  EXPECT_EQ(CreateFileA("\\\\.\\vkvodmid.vxd", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr),
            INVALID_HANDLE_VALUE);
  InstallDump(m, Dump({SystemInfo({})}));
  HANDLE h = CreateFileA("\\\\.\\VKVODMID.VXD", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(CreateFileA("\\\\.\\other.vxd", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);

  // A dump that does not read keeps the machine from opening, with a line naming it.
  std::ofstream(m.Root() / "smbios.bin", std::ios::binary) << "_SM_ truncated";
  try {
    m.Reload();
    ADD_FAILURE() << "the machine opened";
  } catch (const w9x::MachineError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("machine.ini: [Devices] DMI: smbios.bin: ", 0), 0u) << e.what();
  }
}

// dmidecode reads the same dumps and must print the name QueryModelName gives.
TEST(QueryModelName, AgreesWithDmidecode) {
  using namespace w9x::smbios::testing;
  const std::optional<std::filesystem::path> tool = FindDmidecode();
  ASSERT_TRUE(tool) << "dmidecode not found (install the Debian package dmidecode, or set W9X_DMIDECODE)";
  struct Case {
    const char* name;
    std::vector<StructureDesc> structures;
    DumpKind kind;
  } cases[] = {
      {"product name as string 2", {SystemInfo({.manufacturer = "Maker", .product = "XY-100"})}, DumpKind::V2},
      {"empty product name", {SystemInfo({.product = ""})}, DumpKind::V3},
      {"product name with blanks", {SystemInfo({.product = "XY-100 A Plus"})}, DumpKind::V3},
      {"two System Information structures",
       {SystemInfo({.product = "First One"}), SystemInfo({.handle = 2, .product = "Second"})}, DumpKind::V2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine m;
    InstallDump(m, Dump(c.structures), c.kind);
    const std::optional<std::vector<std::string>> shown = DmidecodeProductNames(*tool, m.Root() / "smbios.bin");
    ASSERT_TRUE(shown && !shown->empty()) << "dmidecode failed on the dump";
    char buffer[kModelNameBuffer] = {};
    EXPECT_EQ(QueryModelName(buffer), 1);
    EXPECT_EQ(std::string(buffer), WithoutPlaceholder(shown->front()));
  }
}

}  // namespace
}  // namespace drupdate_test
