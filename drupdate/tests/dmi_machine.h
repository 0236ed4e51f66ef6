// Test machines that carry an SMBIOS dump, served by their DMI driver.
#pragma once

#include <fstream>

#include "smbios_builder.h"
#include "testing/test_machine.h"

namespace drupdate_test {

using w9x::smbios::testing::DumpBuilder;
using w9x::smbios::testing::DumpKind;
using w9x::smbios::testing::StructureDesc;
using w9x::smbios::testing::SystemInfo;

// Writes the dump beside machine.ini, names it there ([Devices] DMI=) and reopens the machine.
inline void InstallDump(w9x::testing::TestMachine& m, const DumpBuilder& dump, DumpKind kind = DumpKind::V3) {
  dump.WriteFile(m.Root() / "smbios.bin", kind);
  w9x::MachineConfig config = m.machine().Config();
  config.dmi = "smbios.bin";
  std::ofstream(m.Root() / "machine.ini", std::ios::binary) << config.Serialize();
  m.Reload();
}

// A dump of these structures and the end-of-table structure.
inline DumpBuilder Dump(const std::vector<StructureDesc>& structures) {
  DumpBuilder b;
  for (const StructureDesc& s : structures) b.Add(s);
  b.AddEndOfTable();
  return b;
}

}  // namespace drupdate_test
