// The simulated vendor DMI driver: serves the machine's SMBIOS structures through three control
// codes.  All integers little-endian.
//
//   11 header     no input.  Reply of 8 bytes: u32 L (reply length, itself included, = 8),
//                 SMBIOS major and minor version (one byte each), u16 N (number of table entries).
//   12 table      no input.  Reply of N*8+4 bytes: u32 reply length, then N entries in table order.
//   13 structure  input: one entry of the table, unchanged.  Reply of S+4 bytes: u32 L = S+4, then
//                 the structure as it stands in the table (formatted area, then string set).
//
// A table entry (8 bytes): type, formatted length, u16 handle, u16 S (structure size in bytes,
// string set included), u16 index of the structure in the table.
//
// The byte count a call reports is the number of bytes written to the output buffer.  An unknown
// code, input that is not an entry this driver handed out, or an output buffer smaller than the
// reply fails the call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "machine/smbios.h"

namespace w9x {

// Ways to make the driver's replies wrong, for testing the readers.  The default is a correct driver.
// Byte count deltas change only the count reported, never what is written (a driver that
// over-reports still writes no byte past the reply).
struct DmiFaults {
  // Code 11.
  int header_count_delta = 0;                   // reported byte count = bytes written + delta
  std::optional<std::uint32_t> header_length;   // value put in the L field instead of the reply length
  std::optional<std::uint16_t> header_entries;  // value put in N instead of the entry count
  std::uint16_t header_extra = 0;               // extra zero bytes after N: L = 8 + extra
  // Code 12.
  int table_count_delta = 0;
  std::optional<std::uint16_t> entry_size;      // S given in every entry; code 13 then replies S+4
                                                // bytes, the structure cut or padded with zeros
  // Code 13.
  int structure_count_delta = 0;
  std::optional<std::uint32_t> structure_length;  // value put in the L field instead of S+4
  // Any code.
  std::optional<std::uint32_t> failing_code;    // calls with this code fail outright
};

class DmiDevice {
 public:
  static constexpr std::uint32_t kHeaderCode = 11;
  static constexpr std::uint32_t kTableCode = 12;
  static constexpr std::uint32_t kStructureCode = 13;
  static constexpr std::size_t kEntrySize = 8;
  static constexpr std::size_t kHeaderSize = 8;

  // Serves the table's structures in order.  A table entry cannot describe more than 65535
  // structures nor a structure larger than 65535 bytes: such structures are left out.
  explicit DmiDevice(const smbios::Table& table, DmiFaults faults = {});

  // Answers one control call; the number of bytes written, or nullopt when the call fails.
  // Bytes of `out` past the reply are left as they are.
  std::optional<std::uint32_t> Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                       std::span<std::uint8_t> out) const;

  std::size_t EntryCount() const { return structures_.size(); }
  // Entry i of the table as code 12 reports it (faults applied).
  std::vector<std::uint8_t> Entry(std::size_t i) const;

  DmiFaults& faults() { return faults_; }
  const DmiFaults& faults() const { return faults_; }

 private:
  std::vector<std::uint8_t> HeaderReply() const;
  std::vector<std::uint8_t> TableReply() const;
  std::optional<std::vector<std::uint8_t>> StructureReply(std::span<const std::uint8_t> in) const;

  std::uint8_t major_ = 0;
  std::uint8_t minor_ = 0;
  std::vector<smbios::Structure> structures_;
  DmiFaults faults_;
};

}  // namespace w9x
