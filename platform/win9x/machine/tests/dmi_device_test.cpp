#include "machine/dmi_device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smbios_builder.h"

// The tables of cases name only the fields a case sets; the others keep their defaults, which
// GCC 12 still reports as missing initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace w9x {
namespace {

using smbios::testing::DumpBuilder;
using smbios::testing::DumpKind;
using smbios::testing::Encode;
using smbios::testing::StructureDesc;
using smbios::testing::SystemInfo;
using Bytes = std::vector<std::uint8_t>;

const StructureDesc kSystem = SystemInfo({.handle = 0x0100, .manufacturer = "AAA", .product = "BBB"});
const StructureDesc kBoard{.type = 2, .handle = 0x0203, .fields = {1, 0}, .strings = {"Board"}};
const StructureDesc kEnd{.type = 127, .handle = 0xFEFF, .fields = {}, .strings = {}};

Bytes Le16(std::size_t v) { return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}; }
Bytes Le32(std::size_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A device serving system information, a base board and end-of-table, read from a 2.8 dump.
class DmiDeviceTest : public ::testing::Test {
 protected:
  static smbios::Table MakeTable() {
    DumpBuilder b;
    b.Add(kSystem).Add(kBoard).Add(kEnd);
    const smbios::ParseResult r = smbios::Parse(b.Build(DumpKind::V2));
    EXPECT_TRUE(r.ok()) << r.error;
    return r.table;
  }

  // One call with an output buffer of `size` bytes filled with 0xAA; the bytes written, or nullopt.
  std::optional<Bytes> Call(std::uint32_t code, const Bytes& in, std::size_t size) {
    out_.assign(size, 0xAA);
    const std::optional<std::uint32_t> count = device_.Control(code, in, out_);
    if (!count) return std::nullopt;
    count_ = *count;
    return out_;
  }

  // The entry the driver hands out for structure i, built by hand from its desc.
  static Bytes ExpectedEntry(const StructureDesc& s, std::size_t index) {
    return Bytes{s.type, static_cast<std::uint8_t>(4 + s.fields.size())} + Le16(s.handle) +
           Le16(Encode(s).size()) + Le16(index);
  }

  smbios::Table table_ = MakeTable();
  DmiDevice device_{table_};
  Bytes out_;
  std::uint32_t count_ = 0;
};

TEST_F(DmiDeviceTest, RepliesByteForByte) {
  // Header: L = 8, version 2.8, N = 3.  The rest of the caller's buffer is left alone.
  auto header = Call(DmiDevice::kHeaderCode, {}, 260);
  ASSERT_TRUE(header);
  EXPECT_EQ(count_, 8u);
  EXPECT_EQ(Bytes(header->begin(), header->begin() + 8), (Bytes{8, 0, 0, 0, 2, 8, 3, 0}));
  EXPECT_EQ((*header)[8], 0xAA);

  // Table: its length, then one entry per structure in table order.
  const Bytes entries = ExpectedEntry(kSystem, 0) + ExpectedEntry(kBoard, 1) + ExpectedEntry(kEnd, 2);
  auto table = Call(DmiDevice::kTableCode, {}, 3 * 8 + 4);
  ASSERT_TRUE(table);
  EXPECT_EQ(count_, 28u);
  EXPECT_EQ(*table, Le32(28) + entries);

  // Structure: L = S + 4, then the structure exactly as in the table.
  const StructureDesc* descs[] = {&kSystem, &kBoard, &kEnd};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Bytes structure = Encode(*descs[i]);
    const Bytes entry(entries.begin() + static_cast<std::ptrdiff_t>(i * 8),
                      entries.begin() + static_cast<std::ptrdiff_t>(i * 8 + 8));
    auto reply = Call(DmiDevice::kStructureCode, entry, 2052);
    ASSERT_TRUE(reply);
    EXPECT_EQ(count_, structure.size() + 4);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + static_cast<std::ptrdiff_t>(count_)),
              Le32(structure.size() + 4) + structure);
    EXPECT_EQ((*reply)[count_], 0xAA);
  }
}

TEST_F(DmiDeviceTest, FailsBadCalls) {
  const Bytes entry = device_.Entry(1);
  const std::size_t reply13 = Encode(kBoard).size() + 4;
  auto changed = [&](std::size_t at) {
    Bytes e = entry;
    e[at] ^= 0x01;
    return e;
  };
  struct Case {
    const char* name;
    std::uint32_t code;
    Bytes in;
    std::size_t out;
  };
  const Case cases[] = {
      {"unknown code", 14, {}, 260},
      {"code 0", 0, {}, 260},
      {"header buffer too small", DmiDevice::kHeaderCode, {}, 7},
      {"header with input", DmiDevice::kHeaderCode, {0}, 260},
      {"table buffer too small", DmiDevice::kTableCode, {}, 27},
      {"table with input", DmiDevice::kTableCode, {0}, 28},
      {"structure buffer too small", DmiDevice::kStructureCode, entry, reply13 - 1},
      {"no entry", DmiDevice::kStructureCode, {}, 2052},
      {"entry cut", DmiDevice::kStructureCode, Bytes(entry.begin(), entry.end() - 1), 2052},
      {"entry too long", DmiDevice::kStructureCode, entry + Bytes{0}, 2052},
      {"type changed", DmiDevice::kStructureCode, changed(0), 2052},
      {"byte 1 changed", DmiDevice::kStructureCode, changed(1), 2052},
      {"handle changed", DmiDevice::kStructureCode, changed(2), 2052},
      {"size changed", DmiDevice::kStructureCode, changed(4), 2052},
      {"index past the table", DmiDevice::kStructureCode, Bytes(entry.begin(), entry.end() - 2) + Le16(3), 2052},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Call(c.code, c.in, c.out));
    EXPECT_EQ(out_, Bytes(c.out, 0xAA)) << "a failed call wrote to the buffer";
  }
  // The same entry, unchanged, is answered.
  EXPECT_TRUE(Call(DmiDevice::kStructureCode, entry, reply13));
}

TEST_F(DmiDeviceTest, FaultsMakeRepliesWrong) {
  const Bytes system = Encode(kSystem);
  const std::size_t s = system.size();
  struct Case {
    const char* name;
    DmiFaults faults;
    std::uint32_t code;
    std::size_t out;  // output buffer size
    std::optional<std::uint32_t> count;
    Bytes reply;  // the bytes expected at the start of the buffer
  };
  const Case cases[] = {
      {"header count +1", {.header_count_delta = 1}, 11, 260, 9, {8, 0, 0, 0, 2, 8, 3, 0, 0xAA}},
      {"header count -2", {.header_count_delta = -2}, 11, 260, 6, {8, 0, 0, 0, 2, 8, 3, 0}},
      {"header count below 0", {.header_count_delta = -9}, 11, 260, 0, {8, 0, 0, 0, 2, 8, 3, 0}},
      {"header length field", {.header_length = 3}, 11, 260, 8, {3, 0, 0, 0, 2, 8, 3, 0}},
      {"header entries", {.header_entries = 0x1234}, 11, 260, 8, {8, 0, 0, 0, 2, 8, 0x34, 0x12}},
      {"longer header", {.header_extra = 4}, 11, 260, 12, {12, 0, 0, 0, 2, 8, 3, 0, 0, 0, 0, 0, 0xAA}},
      {"longer header, small buffer", {.header_extra = 4}, 11, 11, std::nullopt, {}},
      {"table count -1", {.table_count_delta = -1}, 12, 28, 27, Le32(28) + ExpectedEntry(kSystem, 0)},
      {"entry size", {.entry_size = 10}, 12, 28, 28,
       Le32(28) + Bytes{1, 0x1B} + Le16(0x0100) + Le16(10) + Le16(0)},
      {"failing code", {.failing_code = 12}, 12, 28, std::nullopt, {}},
      {"failing code, other code", {.failing_code = 12}, 11, 260, 8, {8, 0, 0, 0, 2, 8, 3, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    device_.faults() = c.faults;
    const auto reply = Call(c.code, {}, c.out);
    ASSERT_EQ(reply.has_value(), c.count.has_value());
    if (!reply) continue;
    EXPECT_EQ(count_, *c.count);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + static_cast<std::ptrdiff_t>(c.reply.size())), c.reply);
  }

  // Structure replies: the entry the table gives (with any fault) is the request.
  struct StructureCase {
    const char* name;
    DmiFaults faults;
    std::optional<std::uint32_t> count;
    Bytes reply;
  };
  const StructureCase structure_cases[] = {
      {"count +1", {.structure_count_delta = 1}, s + 5, Le32(s + 4) + system},
      {"count -1", {.structure_count_delta = -1}, s + 3, Le32(s + 4) + system},
      {"length field", {.structure_length = 2}, s + 4, Le32(2) + system},
      {"size cut", {.entry_size = 10}, 14, Le32(14) + Bytes(system.begin(), system.begin() + 10)},
      {"size padded", {.entry_size = static_cast<std::uint16_t>(s + 3)}, s + 7, Le32(s + 7) + system + Bytes(3, 0)},
      {"failing code", {.failing_code = 13}, std::nullopt, {}},
  };
  for (const StructureCase& c : structure_cases) {
    SCOPED_TRACE(c.name);
    device_.faults() = c.faults;
    const Bytes entry = device_.Entry(0);
    const auto reply = Call(DmiDevice::kStructureCode, entry, 2052);
    ASSERT_EQ(reply.has_value(), c.count.has_value());
    if (!reply) continue;
    EXPECT_EQ(count_, *c.count);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + static_cast<std::ptrdiff_t>(c.reply.size())), c.reply);
    EXPECT_EQ((*reply)[c.reply.size()], 0xAA) << "wrote past the reply";
  }
}

// N and S are 16-bit: a table beyond them is cut to what the entries can describe.
TEST(DmiDeviceLimits, LeavesOutWhatAnEntryCannotDescribe) {
  smbios::Table table;
  smbios::Structure small;
  small.type = 126;
  small.formatted = {126, 4, 0, 0};
  small.strings = {0, 0};
  smbios::Structure huge = small;
  huge.type = 1;
  huge.formatted[0] = 1;
  huge.strings.assign(0x10000, 'x');  // 65536-byte string set: S would not fit 16 bits
  huge.strings.push_back(0);
  huge.strings.push_back(0);
  table.structures.push_back(huge);
  table.structures.resize(1 + 0x10000, small);
  const DmiDevice device(table);
  ASSERT_EQ(device.EntryCount(), 0xFFFFu);
  Bytes header(8);
  ASSERT_EQ(device.Control(DmiDevice::kHeaderCode, {}, header), 8u);
  EXPECT_EQ(header[6], 0xFF);
  EXPECT_EQ(header[7], 0xFF);
  EXPECT_EQ(device.Entry(0)[0], 126) << "the oversized structure was listed";
}

}  // namespace
}  // namespace w9x
