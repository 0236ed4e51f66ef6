#include "machine/machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "machine/host_file.h"

namespace w9x {
namespace {

// The bytes of a file of the machine folder; throws a MachineError saying why it cannot be read.
std::string ReadMachineFile(const fs::path& root, const char* name) {
  const fs::path file = root / name;
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT) throw MachineError("machine image " + root.string() + " has no " + name);
    throw MachineError(std::string(name) + " cannot be read: " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw MachineError(std::string(name) + " cannot be read: it is not a regular file");
  if (access(file.c_str(), R_OK) != 0) throw MachineError(std::string(name) + " cannot be read: " + std::strerror(errno));
  auto bytes = ReadHostFile(file);
  if (!bytes) throw MachineError(std::string(name) + " cannot be read");
  return *bytes;
}

// attributes.ini holds one section [Attributes] of PATH=BITS lines (BITS a number up to 0xFF);
// anything else is a damaged file, reported with its line rather than read as default attributes.
void CheckAttributes(const fs::path& root) {
  struct stat st {};
  if (stat((root / "attributes.ini").c_str(), &st) != 0 && errno == ENOENT) return;
  const std::string bytes = ReadMachineFile(root, "attributes.ini");
  std::string_view rest = bytes;
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  for (std::size_t number = 1; !rest.empty(); ++number) {
    std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    if (rest.starts_with("\r\n")) rest.remove_prefix(2);
    else if (!rest.empty()) rest.remove_prefix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    std::string upper(line);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "[ATTRIBUTES]") continue;
    const std::size_t eq = line.find('=');
    std::uint32_t bits = 0;
    if (line.front() != '[' && eq != std::string_view::npos && eq > 0) {
      std::string_view value = line.substr(eq + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      if (ParseNumber(value, bits) && bits <= 0xFF) continue;
    }
    throw MachineError("attributes.ini: line " + std::to_string(number) +
                       ": expected PATH=BITS in [Attributes] (BITS a number up to 0xFF), got '" +
                       PrintableText(line) + "'");
  }
}

MachineConfig LoadConfig(const fs::path& root) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) throw MachineError("no machine image at " + root.string());
  MachineConfig config = MachineConfig::Parse(ReadMachineFile(root, "machine.ini"));
  if (!fs::is_directory(root / std::string(1, config.windows_dir[0]), ec))
    throw MachineError("machine image " + root.string() + " has no folder for drive " +
                       std::string(1, config.windows_dir[0]));
  if (!config.dmi.empty()) {
    if (!fs::is_regular_file(root / config.dmi, ec))
      throw MachineError("machine.ini: [Devices] DMI: no file " + config.dmi + " beside machine.ini");
    smbios::ParseResult dump = smbios::ParseFile(root / config.dmi);
    if (!dump.ok()) throw MachineError("machine.ini: [Devices] DMI: " + config.dmi + ": " + dump.error);
  }
  CheckAttributes(root);
  return config;
}

}  // namespace

Machine::Machine(const fs::path& root, Session session)
    : root_(fs::absolute(root)),
      config_(LoadConfig(root_)),
      windows_dir_(*ParseFullPath(config_.windows_dir)),
      files_(root_, config_.drives),
      profiles_(root_ / ".w9x" / "profiles.lock"),
      attributes_(root_ / "attributes.ini", profiles_),
      runtime_(root_),
      registry_(root_ / "registry.reg", runtime_.Folder() / "registry.lock"),
      session_(std::move(session)),
      clock_(session_.Settings().fast),
      journal_(std::make_unique<Journal>()) {}

Machine::~Machine() = default;

std::unique_ptr<DmiDevice> Machine::OpenDmiDevice() const {
  if (config_.dmi.empty()) return nullptr;
  smbios::ParseResult dump = smbios::ParseFile(root_ / config_.dmi);
  if (!dump.ok()) return nullptr;
  return std::make_unique<DmiDevice>(dump.table, dmi_faults_);
}

void Machine::OpenJournal(const std::string& process_name, int pid) {
  if (session_.Settings().journal.empty()) return;
  journal_ = std::make_unique<Journal>(session_.Settings().journal, process_name, pid);
}

}  // namespace w9x
