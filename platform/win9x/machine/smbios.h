// SMBIOS dumps: the firmware's structure table as `dmidecode --dump-bin` saves it.
//
// A dump holds a 32-byte area at offset 0 with the entry point ("_SM3_" for 3.x, "_SM_" with its
// "_DMI_" intermediate part for 2.x, or a lone legacy "_DMI_"), whose table address field names the
// file offset of the structure table (32 in such dumps).  A file that starts with no entry point is
// taken as a bare structure table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w9x::smbios {

// The kind of entry point a dump starts with; None for a bare structure table.
enum class EntryPoint { None, Legacy, V2, V3 };

// One structure of the table.
struct Structure {
  std::uint8_t type = 0;
  std::uint16_t handle = 0;
  // The formatted area as it stands in the table, its 4-byte header included, so that formatted[k]
  // is the byte at offset k of the structure and formatted.size() equals its length byte.
  std::vector<std::uint8_t> formatted;
  // The string set that follows: every string with its NUL, then the extra NUL that ends the set
  // (a set without strings is two NULs).
  std::vector<std::uint8_t> strings;

  std::size_t Size() const { return formatted.size() + strings.size(); }
  // The structure as it stands in the table: formatted area, then string set.
  std::vector<std::uint8_t> Bytes() const;
};

struct Table {
  EntryPoint entry = EntryPoint::None;
  std::uint8_t major = 0;  // SMBIOS version from the entry point; 0.0 for a bare table
  std::uint8_t minor = 0;
  // The structures in table order, up to and including the end-of-table structure (type 127).
  std::vector<Structure> structures;
  // Empty when the walk ended normally (end-of-table structure, structure count, table length,
  // end of the data on a structure boundary).  Otherwise it tells why the walk stopped early; the
  // structures before the fault are kept.
  std::string warning;
};

struct ParseResult {
  // Non-empty when the dump is unusable (malformed entry point, table outside the data, no data).
  std::string error;
  Table table;

  bool ok() const { return error.empty(); }
};

constexpr std::uint8_t kSystemInformation = 1;
constexpr std::uint8_t kEndOfTable = 127;

// Largest dump file read; a table cannot usefully be bigger.
constexpr std::uintmax_t kMaxDumpFileSize = 16u << 20;

ParseResult Parse(std::span<const std::uint8_t> data);
ParseResult ParseFile(const std::filesystem::path& path);

// String `number` of the structure's string set, 1 being the first.  Empty for 0 and for a number
// past the last string of the set.
std::string String(const Structure& structure, std::uint8_t number);

// The Product Name (string number at offset 5) of the first System Information structure in table
// order: nullopt when the table has none, "" when the structure names no product (number 0, a
// number past the string set, or a formatted area too short to hold the field).
std::optional<std::string> SystemProductName(const Table& table);

}  // namespace w9x::smbios
