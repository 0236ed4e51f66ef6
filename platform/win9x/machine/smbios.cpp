#include "machine/smbios.h"

#include "machine/little_endian.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>

namespace w9x::smbios {
namespace {

using Bytes = std::span<const std::uint8_t>;
using le::Dword;
using le::Qword;
using le::Word;

bool StartsWith(Bytes b, std::string_view anchor) {
  return b.size() >= anchor.size() && std::memcmp(b.data(), anchor.data(), anchor.size()) == 0;
}

// Entry points are valid when their bytes sum to 0 modulo 256.
bool ChecksumOk(Bytes b) {
  std::uint8_t sum = 0;
  for (std::uint8_t c : b) sum = static_cast<std::uint8_t>(sum + c);
  return sum == 0;
}

std::string Hex(std::size_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return "0x" + s;
}

// Where the structure table lies in the dump and how its walk is bounded.
struct TableBounds {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;      // bytes the table may occupy
  std::size_t max_count = 0;     // 0: no structure count
  bool length_is_exact = false;  // 2.x and legacy give the table's exact length, 3.x a maximum
};

// Walks the structures of `table`, appending them to out.structures, until the end-of-table
// structure, the structure count or the end of the bytes.  Stops at the first malformed structure
// and says why in out.warning.
void WalkTable(Bytes table, std::size_t max_count, Table& out) {
  std::size_t pos = 0;
  while (pos < table.size()) {
    if (max_count != 0 && out.structures.size() >= max_count) return;
    const std::size_t left = table.size() - pos;
    if (left < 4) {
      out.warning = "truncated structure header at table offset " + Hex(pos);
      return;
    }
    const std::uint8_t length = table[pos + 1];
    if (length < 4) {
      out.warning = "structure at table offset " + Hex(pos) + " has a formatted length of " +
                    std::to_string(length) + " (below 4)";
      return;
    }
    if (length > left) {
      out.warning = "formatted area of the structure at table offset " + Hex(pos) +
                    " runs past the end of the table";
      return;
    }
    // The string set ends at the first double NUL at or after the formatted area.
    std::size_t end = pos + length;
    while (end + 1 < table.size() && (table[end] != 0 || table[end + 1] != 0)) ++end;
    if (end + 1 >= table.size()) {
      out.warning = "string set of the structure at table offset " + Hex(pos) +
                    " runs past the end of the table";
      return;
    }
    end += 2;
    Structure s;
    s.type = table[pos];
    s.handle = Word(table, pos + 2);
    s.formatted.assign(table.begin() + static_cast<std::ptrdiff_t>(pos),
                       table.begin() + static_cast<std::ptrdiff_t>(pos + length));
    s.strings.assign(table.begin() + static_cast<std::ptrdiff_t>(pos + length),
                     table.begin() + static_cast<std::ptrdiff_t>(end));
    out.structures.push_back(std::move(s));
    if (table[pos] == kEndOfTable) return;
    pos = end;
  }
}

// Reads the entry point at the start of `data` into bounds and version; returns an error text or "".
std::string ReadEntryPoint(Bytes data, Table& out, TableBounds& bounds) {
  if (StartsWith(data, "_SM3_")) {
    out.entry = EntryPoint::V3;
    if (data.size() < 0x18) return "SMBIOS 3 entry point is truncated";
    const std::size_t length = data[0x06];
    if (length < 0x18 || length > 0x20 || length > data.size())
      return "SMBIOS 3 entry point has a bad length (" + std::to_string(length) + ")";
    if (!ChecksumOk(data.first(length))) return "SMBIOS 3 entry point checksum mismatch";
    out.major = data[0x07];
    out.minor = data[0x08];
    bounds.length = Dword(data, 0x0C);
    bounds.offset = Qword(data, 0x10);
    return "";
  }
  if (StartsWith(data, "_SM_")) {
    out.entry = EntryPoint::V2;
    if (data.size() < 0x1F) return "SMBIOS entry point is truncated";
    // 0x1E is the length that some 2.1 firmware wrongly announces for the 0x1F-byte entry point.
    const std::size_t length = data[0x05];
    if (length < 0x1E || length > 0x20 || length > data.size())
      return "SMBIOS entry point has a bad length (" + std::to_string(length) + ")";
    if (!ChecksumOk(data.first(length))) return "SMBIOS entry point checksum mismatch";
    if (std::memcmp(data.data() + 0x10, "_DMI_", 5) != 0)
      return "SMBIOS entry point lacks its _DMI_ part";
    if (!ChecksumOk(data.subspan(0x10, 0x0F))) return "SMBIOS _DMI_ part checksum mismatch";
    out.major = data[0x06];
    out.minor = data[0x07];
    bounds.length = Word(data, 0x16);
    bounds.offset = Dword(data, 0x18);
    bounds.max_count = Word(data, 0x1C);
    bounds.length_is_exact = true;
    return "";
  }
  if (StartsWith(data, "_DMI_")) {
    out.entry = EntryPoint::Legacy;
    if (data.size() < 0x0F) return "DMI entry point is truncated";
    if (!ChecksumOk(data.first(0x0F))) return "DMI entry point checksum mismatch";
    out.major = static_cast<std::uint8_t>(data[0x0E] >> 4);  // BCD revision, e.g. 0x21 for 2.1
    out.minor = static_cast<std::uint8_t>(data[0x0E] & 0x0F);
    bounds.length = Word(data, 0x06);
    bounds.offset = Dword(data, 0x08);
    bounds.max_count = Word(data, 0x0C);
    bounds.length_is_exact = true;
    return "";
  }
  out.entry = EntryPoint::None;
  bounds.offset = 0;
  bounds.length = data.size();
  return "";
}

}  // namespace

std::vector<std::uint8_t> Structure::Bytes() const {
  std::vector<std::uint8_t> bytes(formatted);
  bytes.insert(bytes.end(), strings.begin(), strings.end());
  return bytes;
}

ParseResult Parse(std::span<const std::uint8_t> data) {
  ParseResult result;
  if (data.empty()) {
    result.error = "the dump is empty";
    return result;
  }
  TableBounds bounds;
  result.error = ReadEntryPoint(data, result.table, bounds);
  if (!result.ok()) return result;
  if (bounds.offset > data.size()) {
    result.error = "structure table address " + Hex(bounds.offset) + " lies past the end of the dump";
    return result;
  }
  const std::size_t available = data.size() - bounds.offset;
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(bounds.length, available));
  WalkTable(data.subspan(bounds.offset, length), bounds.max_count, result.table);
  if (result.table.warning.empty() && bounds.length_is_exact && bounds.length > available)
    result.table.warning = "structure table runs past the end of the dump";
  return result;
}

ParseResult ParseFile(const std::filesystem::path& path) {
  ParseResult result;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    result.error = "cannot read SMBIOS dump " + path.string() + ": " + ec.message();
    return result;
  }
  if (size > kMaxDumpFileSize) {
    result.error = "SMBIOS dump " + path.string() + " is too large";
    return result;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  if (!in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()))) {
    result.error = "cannot read SMBIOS dump " + path.string();
    return result;
  }
  return Parse(data);
}

std::string String(const Structure& structure, std::uint8_t number) {
  if (number == 0) return "";
  const std::vector<std::uint8_t>& set = structure.strings;
  std::size_t pos = 0;
  // Skip the strings before the one asked for; an empty string here is the end of the set.
  for (; number > 1; --number) {
    if (pos >= set.size() || set[pos] == 0) return "";
    while (pos < set.size() && set[pos] != 0) ++pos;
    ++pos;
  }
  std::size_t end = pos;
  while (end < set.size() && set[end] != 0) ++end;
  if (pos >= end) return "";
  return std::string(set.begin() + static_cast<std::ptrdiff_t>(pos),
                     set.begin() + static_cast<std::ptrdiff_t>(end));
}

std::optional<std::string> SystemProductName(const Table& table) {
  constexpr std::size_t kProductNameOffset = 5;
  for (const Structure& s : table.structures) {
    if (s.type != kSystemInformation) continue;
    if (s.formatted.size() <= kProductNameOffset) return std::string();
    return String(s, s.formatted[kProductNameOffset]);
  }
  return std::nullopt;
}

}  // namespace w9x::smbios
