#include "machine/smbios.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smbios_builder.h"

// The tables of cases name only the fields a case sets; the others keep their defaults, which
// GCC 12 still reports as missing initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace w9x::smbios {
namespace {

using testing::DumpBuilder;
using testing::DumpKind;
using testing::Encode;
using testing::StructureDesc;
using testing::SystemInfo;
using testing::SystemInfoDesc;
using Bytes = std::vector<std::uint8_t>;

const StructureDesc kSystem = SystemInfo({.handle = 0x0100, .manufacturer = "AAA", .product = "BBB"});
const StructureDesc kBoard{.type = 2, .handle = 0x0200, .fields = {1, 0}, .strings = {"Board"}};
const StructureDesc kBare{.type = 32, .handle = 0x0300, .fields = {0, 0, 0, 0, 0, 0, 0}, .strings = {}};
const StructureDesc kEnd{.type = 127, .handle = 0xFEFF, .fields = {}, .strings = {}};

// The structure as the parser should give it, cut from the builder's bytes.
void ExpectStructure(const Structure& got, const StructureDesc& desc) {
  const Bytes bytes = Encode(desc);
  const std::size_t f = 4 + desc.fields.size();
  EXPECT_EQ(got.type, desc.type);
  EXPECT_EQ(got.handle, desc.handle);
  EXPECT_EQ(got.formatted, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(f)));
  EXPECT_EQ(got.strings, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(f), bytes.end()));
  EXPECT_EQ(got.Bytes(), bytes);
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SmbiosParse, ReadsEveryKindOfDump) {
  struct Case {
    DumpKind kind;
    EntryPoint entry;
    std::uint8_t major, minor;
  };
  const Case cases[] = {
      {DumpKind::Bare, EntryPoint::None, 0, 0},
      {DumpKind::Legacy, EntryPoint::Legacy, 2, 0},
      {DumpKind::V2, EntryPoint::V2, 2, 8},
      {DumpKind::V3, EntryPoint::V3, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    DumpBuilder b;
    b.Add(kSystem).Add(kBoard).Add(kBare).Add(kEnd);
    const ParseResult r = Parse(b.Build(c.kind));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.table.entry, c.entry);
    EXPECT_EQ(r.table.major, c.major);
    EXPECT_EQ(r.table.minor, c.minor);
    EXPECT_EQ(r.table.warning, "");
    ASSERT_EQ(r.table.structures.size(), 4u);
    ExpectStructure(r.table.structures[0], kSystem);
    ExpectStructure(r.table.structures[1], kBoard);
    ExpectStructure(r.table.structures[2], kBare);
    ExpectStructure(r.table.structures[3], kEnd);
  }
}

TEST(SmbiosParse, StopsWhereTheTableEnds) {
  const Bytes junk = {0x01, 0x02, 0xFF};  // not a structure: reading it would raise a warning
  struct Case {
    const char* name;
    Bytes dump;
    std::size_t count;
  };
  // 2.x and legacy: the structure count ends the walk, even before the table length does.
  DumpBuilder counted;
  counted.Add(kSystem).AddRaw(Concat(Encode(kBoard), Encode(kBare)));
  // 3.x and bare tables: the end-of-table structure ends it, whatever follows.
  DumpBuilder ended;
  ended.Add(kSystem).Add(kEnd).AddRaw(junk);
  // Without end-of-table: the table length ends it; bytes after the table are not read.  For 2.x
  // an empty raw part raises the count to 3, so that the count does not end the walk first.
  DumpBuilder plain;
  plain.Add(kSystem).Add(kBoard);
  DumpBuilder lengthy;
  lengthy.Add(kSystem).Add(kBoard).AddRaw({});

  const Case cases[] = {
      {"2.x count", counted.Build(DumpKind::V2), 2},
      {"legacy count", counted.Build(DumpKind::Legacy), 2},
      {"3.x end of table", ended.Build(DumpKind::V3), 2},
      {"bare end of table", ended.Build(DumpKind::Bare), 2},
      {"2.x table length", Concat(lengthy.Build(DumpKind::V2), junk), 2},
      {"3.x maximum length", Concat(plain.Build(DumpKind::V3), junk), 2},
      {"bare end of data", plain.Build(DumpKind::Bare), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult r = Parse(c.dump);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.table.warning, "");
    EXPECT_EQ(r.table.structures.size(), c.count);
  }
}

TEST(SmbiosParse, KeepsTheStructuresBeforeAMalformedOne) {
  Bytes unterminated = Encode(kBoard);
  unterminated.pop_back();
  struct Case {
    const char* name;
    Bytes tail;
    const char* warning;
  };
  const Case cases[] = {
      {"header cut", {0x02, 0x06, 0x00}, "truncated structure header"},
      {"length below 4", {0x02, 0x03, 0x00, 0x02, 0x00, 0x00}, "below 4"},
      {"formatted area cut", {0x02, 0x1B, 0x00, 0x02, 0x41, 0x00, 0x00}, "formatted area"},
      {"string set unterminated", unterminated, "string set"},
      {"string set cut after the formatted area", {0x02, 0x04, 0x00, 0x02}, "string set"},
  };
  for (const DumpKind kind : {DumpKind::Bare, DumpKind::V2, DumpKind::V3}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(static_cast<int>(kind)));
      DumpBuilder b;
      b.Add(kSystem).AddRaw(c.tail);
      const ParseResult r = Parse(b.Build(kind));
      ASSERT_TRUE(r.ok()) << r.error;
      EXPECT_NE(r.table.warning.find(c.warning), std::string::npos) << r.table.warning;
      ASSERT_EQ(r.table.structures.size(), 1u);
      ExpectStructure(r.table.structures[0], kSystem);
    }
  }
}

TEST(SmbiosParse, WarnsWhenA2xTableRunsPastTheDump) {
  DumpBuilder b;
  b.Add(kSystem).Add(kEnd);
  Bytes dump = b.Build(DumpKind::V2);
  dump.resize(dump.size() - Encode(kEnd).size());  // the dump ends on a structure boundary
  const ParseResult r = Parse(dump);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_NE(r.table.warning.find("past the end of the dump"), std::string::npos) << r.table.warning;
  EXPECT_EQ(r.table.structures.size(), 1u);
}

TEST(SmbiosParse, RejectsAMalformedEntryPoint) {
  DumpBuilder b;
  b.Add(kSystem).Add(kEnd);
  // Raises byte `at` by delta and lowers byte `fix` by as much: every checksummed range that holds
  // both keeps its sum.
  auto shifted = [&](DumpKind kind, std::size_t at, std::size_t fix, std::uint8_t delta = 1) {
    Bytes d = b.Build(kind);
    d[at] = static_cast<std::uint8_t>(d[at] + delta);
    d[fix] = static_cast<std::uint8_t>(d[fix] - delta);
    return d;
  };
  auto flipped = [&](DumpKind kind, std::size_t at) {
    Bytes d = b.Build(kind);
    d[at] ^= 0x40;
    return d;
  };
  auto cut = [&](DumpKind kind, std::size_t size) {
    Bytes d = b.Build(kind);
    d.resize(size);
    return d;
  };
  struct Case {
    const char* name;
    Bytes dump;
    const char* error;
  };
  const Case cases[] = {
      {"empty", {}, "empty"},
      {"2.x checksum", flipped(DumpKind::V2, 0x06), "checksum"},
      {"2.x _DMI_ checksum", shifted(DumpKind::V2, 0x17, 0x0B), "_DMI_ part checksum"},
      {"2.x without _DMI_", shifted(DumpKind::V2, 0x11, 0x0B), "lacks its _DMI_"},
      {"2.x length byte", shifted(DumpKind::V2, 0x05, 0x0B, 0x10), "bad length"},
      {"2.x table address", shifted(DumpKind::V2, 0x1B, 0x1E), "past the end"},
      {"2.x cut", cut(DumpKind::V2, 0x1E), "truncated"},
      {"3.x checksum", flipped(DumpKind::V3, 0x07), "checksum"},
      {"3.x table address", shifted(DumpKind::V3, 0x17, 0x0B), "past the end"},
      {"3.x length byte", shifted(DumpKind::V3, 0x06, 0x0B, 0x10), "bad length"},
      {"3.x cut", cut(DumpKind::V3, 0x17), "truncated"},
      {"legacy checksum", flipped(DumpKind::Legacy, 0x06), "checksum"},
      {"legacy cut", cut(DumpKind::Legacy, 0x0E), "truncated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult r = Parse(c.dump);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
}

// Whatever the bytes, every structure handed out is well formed and lies inside the data.
TEST(SmbiosParse, SurvivesCutAndCorruptedDumps) {
  DumpBuilder b;
  b.Add(kSystem).Add(kBoard).Add(kBare).Add(kEnd);
  auto check = [](const Bytes& data) {
    const ParseResult r = Parse(data);
    if (!r.ok()) return;
    std::size_t total = 0;
    for (const Structure& s : r.table.structures) {
      ASSERT_GE(s.formatted.size(), 4u);
      ASSERT_EQ(s.formatted[1], s.formatted.size());
      ASSERT_EQ(s.formatted[0], s.type);
      ASSERT_GE(s.strings.size(), 2u);
      ASSERT_EQ(s.strings[s.strings.size() - 1], 0);
      ASSERT_EQ(s.strings[s.strings.size() - 2], 0);
      total += s.Size();
    }
    ASSERT_LE(total, data.size());
  };
  for (const DumpKind kind : {DumpKind::Bare, DumpKind::Legacy, DumpKind::V2, DumpKind::V3}) {
    const Bytes dump = b.Build(kind);
    const std::size_t full = Parse(dump).table.structures.size();
    for (std::size_t n = 0; n <= dump.size(); ++n) {
      SCOPED_TRACE("cut at " + std::to_string(n));
      const Bytes prefix(dump.begin(), dump.begin() + static_cast<std::ptrdiff_t>(n));
      check(prefix);
      EXPECT_LE(Parse(prefix).table.structures.size(), full);
    }
    for (std::size_t i = 0; i < dump.size(); ++i) {
      for (const std::uint8_t mask : {0x01, 0x80, 0xFF}) {
        SCOPED_TRACE("byte " + std::to_string(i) + " xor " + std::to_string(mask));
        Bytes corrupt = dump;
        corrupt[i] ^= mask;
        check(corrupt);
      }
    }
  }
}

TEST(SmbiosParse, ReadsAFileAndReportsAMissingOne) {
  const testing::ScratchDir dir;
  DumpBuilder b;
  b.Add(kSystem).Add(kEnd);
  b.WriteFile(dir.path() / "smbios.bin", DumpKind::V3);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "smbios.bin.tmp"));
  const ParseResult r = ParseFile(dir.path() / "smbios.bin");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.table.structures.size(), 2u);
  const ParseResult missing = ParseFile(dir.path() / "absent.bin");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error.find("absent.bin"), std::string::npos) << missing.error;
}

TEST(SmbiosStrings, FindsStringsByNumber) {
  Structure s;
  s.formatted = {1, 4, 0, 0};
  s.strings = {'A', 'A', 'A', 0, 'B', ' ', 'B', 0, 0};
  EXPECT_EQ(String(s, 0), "");
  EXPECT_EQ(String(s, 1), "AAA");
  EXPECT_EQ(String(s, 2), "B B");
  EXPECT_EQ(String(s, 3), "");
  EXPECT_EQ(String(s, 255), "");
  Structure none;
  none.formatted = {1, 4, 0, 0};
  none.strings = {0, 0};
  EXPECT_EQ(String(none, 1), "");
  EXPECT_EQ(String(none, 2), "");
  Structure bare;  // no string set at all (a hand-made structure): nothing to read
  EXPECT_EQ(String(bare, 1), "");
  Structure trailing;  // bytes after the set's end are not strings of the set
  trailing.formatted = {1, 4, 0, 0};
  trailing.strings = {'A', 0, 0, 'B', 0, 0};
  EXPECT_EQ(String(trailing, 2), "");
  EXPECT_EQ(String(trailing, 3), "");
}

TEST(SmbiosStrings, ProductNameOfTheFirstSystemInformation) {
  const std::string cp932 = "\x95\x5C\x8E\xA6";  // double-byte name, kept as bytes
  StructureDesc short_system{.type = 1, .handle = 9, .fields = {1}, .strings = {"Maker"}};
  struct Case {
    const char* name;
    std::vector<StructureDesc> structures;
    std::optional<std::string> product;
  };
  const Case cases[] = {
      {"string 2", {kBoard, SystemInfo({.manufacturer = "AAA", .product = "BBB"})}, "BBB"},
      {"first string", {SystemInfo({.manufacturer = "", .product = "Only"})}, "Only"},
      {"blanks", {SystemInfo({.product = "Model 100 Plus"})}, "Model 100 Plus"},
      {"double-byte", {SystemInfo({.product = cp932})}, cp932},
      {"number 0", {SystemInfo({.product = ""})}, ""},
      {"number past the set", {SystemInfo({.product_number = 9})}, ""},
      {"field missing", {short_system}, ""},
      {"first of two", {SystemInfo({.product = "First"}), SystemInfo({.handle = 2, .product = "Second"})}, "First"},
      {"none", {kBoard, kEnd}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DumpBuilder b;
    for (const StructureDesc& s : c.structures) b.Add(s);
    const ParseResult r = Parse(b.Build(DumpKind::V2));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(SystemProductName(r.table), c.product);
  }
}

}  // namespace
}  // namespace w9x::smbios
