// One simulated Windows 9x PC: a machine image folder and everything the platform keeps of it.
//
// Nothing here outlives the image: caches are checked against the files they came from, and
// every change is written to the image at once.
#pragma once

#include <filesystem>
#include <memory>

#include "machine/attribute_store.h"
#include "machine/clock.h"
#include "machine/dmi_device.h"
#include "machine/file_system.h"
#include "machine/journal.h"
#include "machine/machine_config.h"
#include "machine/profile_store.h"
#include "machine/registry_store.h"
#include "machine/runtime.h"
#include "machine/session.h"

namespace w9x {

class Machine {
 public:
  // Opens the image at `root`.  Throws MachineError (one line for the user) when the folder,
  // machine.ini, a drive, the registry or the SMBIOS dump is missing or malformed.
  explicit Machine(const fs::path& root, Session session = Session());
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const fs::path& Root() const { return root_; }
  const MachineConfig& Config() const { return config_; }
  // The Windows folder, as GetWindowsDirectoryA gives it ("C:\WINDOWS").
  const WinPath& WindowsDir() const { return windows_dir_; }

  FileSystem& Files() { return files_; }
  ProfileStore& Profiles() { return profiles_; }
  AttributeStore& Attributes() { return attributes_; }
  Runtime& Shared() { return runtime_; }
  Session& RunSession() { return session_; }
  Clock& Time() { return clock_; }
  Journal& Log() { return *journal_; }
  RegistryStore& Registry() { return registry_; }

  // The DMI driver, loaded afresh from the SMBIOS dump that machine.ini names; null when it names
  // none or the dump no longer reads.
  std::unique_ptr<DmiDevice> OpenDmiDevice() const;
  // For tests: the ways the DMI drivers opened from now on answer wrongly.
  void SetDmiFaults(const DmiFaults& faults) { dmi_faults_ = faults; }

  // Starts recording this process's actions in the session's journal.
  void OpenJournal(const std::string& process_name, int pid);

 private:
  fs::path root_;
  MachineConfig config_;
  WinPath windows_dir_;
  FileSystem files_;
  ProfileStore profiles_;
  AttributeStore attributes_;
  Runtime runtime_;
  RegistryStore registry_;
  DmiFaults dmi_faults_;
  Session session_;
  Clock clock_;
  std::unique_ptr<Journal> journal_;
};

}  // namespace w9x
