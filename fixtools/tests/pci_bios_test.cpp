// The PCI presence question of cfgsysfix, as the simulated PC answers it from machine.ini.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "pci_bios.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::TestMachine;

void SetPciBus(TestMachine& m, std::vector<w9x::PciDevice> devices) {
  w9x::MachineConfig config = m.machine().Config();
  config.pci = std::move(devices);
  std::ofstream(m.Root() / "machine.ini") << config.Serialize();
  m.Reload();
}

TEST(PciBios, FindsEachListedInstanceOfTheDevice) {
  struct Case {
    std::vector<w9x::PciDevice> bus;
    WORD vendor, device, index;
    BYTE result;
  } cases[] = {
      {{}, 0x1013, 0x00D6, 0, PCI_DEVICE_NOT_FOUND},
      {{{0x1013, 0x00D6}}, 0x1013, 0x00D6, 0, PCI_SUCCESSFUL},
      {{{0x1013, 0x00D6}}, 0x1013, 0x00D6, 1, PCI_DEVICE_NOT_FOUND},
      {{{0x102B, 0x0519}, {0x1013, 0x00D6}, {0x1013, 0x00D6}}, 0x1013, 0x00D6, 1, PCI_SUCCESSFUL},
      {{{0x102B, 0x0519}, {0x1013, 0x00D6}, {0x1013, 0x00D6}}, 0x1013, 0x00D6, 2, PCI_DEVICE_NOT_FOUND},
      {{{0x1013, 0x00D7}, {0x1014, 0x00D6}}, 0x1013, 0x00D6, 0, PCI_DEVICE_NOT_FOUND},
      {{{0x1013, 0x00D6}}, 0xFFFF, 0x00D6, 0, PCI_BAD_VENDOR_ID},
  };
  TestMachine m;
  for (const Case& c : cases) {
    SetPciBus(m, c.bus);
    EXPECT_EQ(FindPciDevice(c.vendor, c.device, c.index), c.result)
        << c.bus.size() << " devices, index " << c.index;
  }
}

TEST(PciBios, ReadsTheBusFromTheMachineImage) {
  TestMachine m;
  std::ofstream(m.Root() / "machine.ini", std::ios::app) << "[Devices]\nPCI=102b:0519 1013:00d6\n";
  m.Reload();
  EXPECT_EQ(FindPciDevice(0x1013, 0x00D6, 0), PCI_SUCCESSFUL);
  EXPECT_EQ(FindPciDevice(0x102B, 0x0519, 0), PCI_SUCCESSFUL);
}

}  // namespace
