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

#include "machine/context.h"
#include "machine/presets.h"
#include "machine/smbios.h"
#include "model_query.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "model_query_fuzz: %s\n", what);
    std::abort();
  }
}

// A machine image whose machine.ini names smbios.bin, installed as the current machine for the
// whole run and removed at exit.
struct FuzzMachine {
  FuzzMachine() {
    root = fs::temp_directory_path() / ("w9x-fuzz-" + std::to_string(getpid()));
    fs::remove_all(root);
    w9x::CreateMachineImage(root, "win98se", {});
    std::ofstream(root / "smbios.bin", std::ios::binary) << std::string("\x7F\x04\xFF\xFE\0\0", 6);
    std::ofstream(root / "machine.ini", std::ios::app) << "[Devices]\r\nDMI=smbios.bin\r\n";
    machine = std::make_unique<w9x::Machine>(root);
    process = std::make_unique<w9x::Process>("C:\\KIT\\DRUPDATE.EXE", "C:\\KIT\\DRUPDATE.EXE",
                                             *w9x::ParseFullPath("C:\\"));
    context = std::make_unique<w9x::ScopedContext>(*machine, *process);
  }
  ~FuzzMachine() {
    context.reset();
    process.reset();
    machine.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  std::unique_ptr<w9x::Machine> machine;
  std::unique_ptr<w9x::Process> process;
  std::unique_ptr<w9x::ScopedContext> context;
};

FuzzMachine& TheMachine() {
  static FuzzMachine machine;
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
  FuzzMachine& m = TheMachine();
  const bool faulty = size >= kFaultBytes && (data[0] & 1);
  const std::size_t skip = faulty ? kFaultBytes : 0;
  const std::string table(reinterpret_cast<const char*>(data) + skip, size - skip);
  {
    std::ofstream out(m.root / "smbios.bin", std::ios::binary | std::ios::trunc);
    out << table;
  }
  m.machine->SetDmiFaults(faulty ? FaultsFrom(data) : w9x::DmiFaults{});

  const std::size_t handles = m.process->Handles().Count();
  char buffer[kModelNameBuffer];
  std::memset(buffer, 0x5A, sizeof buffer);
  const int result = QueryModelName(buffer);
  Check(m.process->Handles().Count() == handles, "the driver stays open");
  if (!result) {
    for (char c : buffer) Check(c == 0x5A, "a failed query touched the buffer");
    return 0;
  }
  const void* nul = std::memchr(buffer, 0, sizeof buffer);
  Check(nul != nullptr, "name without its NUL");
  if (faulty) return 0;

  const w9x::smbios::ParseResult parsed =
      w9x::smbios::Parse({reinterpret_cast<const std::uint8_t*>(table.data()), table.size()});
  const std::optional<std::string> expected = parsed.ok() ? w9x::smbios::SystemProductName(parsed.table) : std::nullopt;
  Check(expected.has_value(), "a name read from a table without System Information");
  Check(std::string(buffer) == expected->substr(0, kModelNameBuffer - 1), "the name differs from the table's");
  return 0;
}
