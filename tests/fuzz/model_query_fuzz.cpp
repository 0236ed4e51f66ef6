// The model query against any driver replies: the fuzzer's bytes are the structure table the
// simulated DMI driver serves (a bare SMBIOS table) and, in front of it, ways the driver's replies
// go wrong.  The query never reads or writes out of bounds, leaves the buffer untouched when it
// fails, closes the driver, and with a correct driver reads the name an SMBIOS reader finds.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz_machine.h"
#include "machine/smbios.h"
#include "model_query.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kTarget = "model_query_fuzz";

// A machine whose machine.ini names smbios.bin (rewritten for every input).
fuzzing::FuzzMachine& TheMachine() {
  static fuzzing::FuzzMachine machine("model-query-fuzz", "C:\\KIT\\DRUPDATE.EXE", [](const fs::path& root) {
    std::ofstream(root / "smbios.bin", std::ios::binary) << std::string("\x7F\x04\xFF\xFE\0\0", 6);
    std::ofstream(root / "machine.ini", std::ios::app) << "[Devices]\r\nDMI=smbios.bin\r\n";
  });
  return machine;
}

std::int16_t Signed(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }
std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The first 16 bytes, when byte 0 is odd: which faults apply (bits of bytes 0 and 1) and their values.
constexpr std::size_t kFaultBytes = 16;

w9x::DmiFaults FaultsFrom(const std::uint8_t* b) {
  w9x::DmiFaults f;
  const unsigned on = b[0] | b[1] << 8;
  if (on & 0x002) f.header_count_delta = Signed(b + 2) % 16;
  if (on & 0x004) f.header_length = Word(b + 4);
  if (on & 0x008) f.header_entries = Word(b + 6);
  if (on & 0x010) f.header_extra = b[8] % 16;
  if (on & 0x020) f.table_count_delta = static_cast<std::int8_t>(b[9]) % 16;
  if (on & 0x040) f.entry_size = Word(b + 10);
  if (on & 0x080) f.structure_count_delta = static_cast<std::int8_t>(b[12]) % 16;
  if (on & 0x100) f.structure_length = Word(b + 13);
  if (on & 0x200) f.failing_code = 11 + b[15] % 3;
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::FuzzMachine& m = TheMachine();
  const bool faulty = size >= kFaultBytes && (data[0] & 1);
  const std::size_t skip = faulty ? kFaultBytes : 0;
  const std::string table(reinterpret_cast<const char*>(data) + skip, size - skip);
  {
    std::ofstream out(m.Root() / "smbios.bin", std::ios::binary | std::ios::trunc);
    out << table;
  }
  m.Machine().SetDmiFaults(faulty ? FaultsFrom(data) : w9x::DmiFaults{});

  const std::size_t handles = w9x::CurrentProcess().Handles().Count();
  char buffer[kModelNameBuffer];
  std::memset(buffer, 0x5A, sizeof buffer);
  const int result = QueryModelName(buffer);
  fuzzing::Check(w9x::CurrentProcess().Handles().Count() == handles, kTarget, "the driver stays open");
  if (!result) {
    for (char c : buffer) fuzzing::Check(c == 0x5A, kTarget, "a failed query touched the buffer");
    return 0;
  }
  const void* nul = std::memchr(buffer, 0, sizeof buffer);
  fuzzing::Check(nul != nullptr, kTarget, "name without its NUL");
  if (faulty) return 0;

  const w9x::smbios::ParseResult parsed =
      w9x::smbios::Parse({reinterpret_cast<const std::uint8_t*>(table.data()), table.size()});
  const std::optional<std::string> expected = parsed.ok() ? w9x::smbios::SystemProductName(parsed.table) : std::nullopt;
  fuzzing::Check(expected.has_value(), kTarget, "a name read from a table without System Information");
  fuzzing::Check(std::string(buffer) == expected->substr(0, kModelNameBuffer - 1), kTarget, "the name differs from the table's");
  return 0;
}
