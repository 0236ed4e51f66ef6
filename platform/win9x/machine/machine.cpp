#include "machine/machine.h"

#include "machine/host_file.h"

namespace w9x {
namespace {

MachineConfig LoadConfig(const fs::path& root) {
  std::error_code ec;
  if (!fs::is_directory(root, ec)) throw MachineError("no machine image at " + root.string());
  auto bytes = ReadHostFile(root / "machine.ini");
  if (!bytes) throw MachineError("machine image " + root.string() + " has no machine.ini");
  MachineConfig config = MachineConfig::Parse(*bytes);
  if (!fs::is_directory(root / std::string(1, config.windows_dir[0]), ec))
    throw MachineError("machine image " + root.string() + " has no folder for drive " +
                       std::string(1, config.windows_dir[0]));
  if (!config.dmi.empty()) {
    if (!fs::is_regular_file(root / config.dmi, ec))
      throw MachineError("machine.ini: [Devices] DMI: no file " + config.dmi + " beside machine.ini");
    smbios::ParseResult dump = smbios::ParseFile(root / config.dmi);
    if (!dump.ok()) throw MachineError("machine.ini: [Devices] DMI: " + config.dmi + ": " + dump.error);
  }
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
