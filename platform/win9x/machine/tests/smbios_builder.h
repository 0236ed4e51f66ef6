// Builds SMBIOS dump files for tests, in the layout `dmidecode --dump-bin` writes: a 32-byte area
// holding the entry point, whose table address is 32, then the structure table.  Checksums, table
// length, structure count and largest structure size are filled in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w9x::smbios::testing {

enum class DumpKind { Bare, Legacy, V2, V3 };

// Offset of the structure table in a dump with an entry point.
constexpr std::size_t kTableOffset = 32;

struct StructureDesc {
  std::uint8_t type = 0;
  std::uint16_t handle = 0;
  // The formatted area after its 4-byte header (type, length, handle): fields[k] lands at offset
  // 4 + k of the structure.  At most 251 bytes.
  std::vector<std::uint8_t> fields;
  // The string set.  Each string is written with its NUL, the set ends with one more NUL, and a
  // structure without strings gets two NULs.  An empty string is written as a lone NUL, which
  // ends the set early: a way to build a malformed set.
  std::vector<std::string> strings;
};

// The formatted area, then the string set.
std::vector<std::uint8_t> Encode(const StructureDesc& desc);

// A System Information structure (type 1, formatted length 0x1B: manufacturer, product name,
// version, serial number, UUID, wake-up type, SKU, family).  The non-empty strings are stored in
// the order manufacturer, product, version, serial and numbered from 1; an empty one gets number 0.
struct SystemInfoDesc {
  std::uint16_t handle = 0x0001;
  std::string manufacturer = "Maker";
  std::string product = "Model";
  std::string version = "1.0";
  std::string serial = "0001";
  // Replaces the Product Name string number at offset 5 (e.g. 0, or a number past the set).
  std::optional<std::uint8_t> product_number;
};
StructureDesc SystemInfo(const SystemInfoDesc& desc);

class DumpBuilder {
 public:
  DumpBuilder& Add(const StructureDesc& desc);
  DumpBuilder& AddSystemInfo(const SystemInfoDesc& desc) { return Add(SystemInfo(desc)); }
  DumpBuilder& AddEndOfTable(std::uint16_t handle = 0xFEFF);
  // Bytes put in the table as they are, counted as one structure (for malformed tables).
  DumpBuilder& AddRaw(std::vector<std::uint8_t> bytes);
  // The whole dump (the structure table alone for Bare).  The entry point gives SMBIOS 2.0 for
  // Legacy, 2.8 for V2 and 3.2 for V3.  Throws std::length_error when a 2.x or legacy table
  // outgrows its 16-bit length.
  std::vector<std::uint8_t> Build(DumpKind kind) const;
  // Writes the dump through a temporary file renamed into place; throws on failure.
  void WriteFile(const std::filesystem::path& path, DumpKind kind) const;

 private:
  std::vector<std::uint8_t> table_;
  std::vector<std::size_t> sizes_;  // size of each structure added
};

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace w9x::smbios::testing
