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

// Where no PC BIOS can be reached, the registry's hardware tree answers.
TEST(PciBios, RegistryAnswerCountsTheInstancesOfMatchingDeviceKeys) {
  const std::string kPci = "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\";
  const std::string kTwoKeys =
      kPci + "VEN_1013&DEV_00D6\\BUS_00&DEV_02&FUNC_00]\n" + kPci + "VEN_1013&DEV_00D6&SUBSYS_1\\BUS_00&DEV_03&FUNC_00]\n";
  struct Case {
    const char* name;
    std::string keys;  // REGEDIT4 sections
    WORD index;
    BYTE result;
  } cases[] = {
      {"no hardware tree", "", 0, PCI_DEVICE_NOT_FOUND},
      {"another device", kPci + "VEN_102B&DEV_0519\\BUS_01&DEV_00&FUNC_00]\n", 0, PCI_DEVICE_NOT_FOUND},
      {"device key alone", kPci + "VEN_1013&DEV_00D6]\n", 0, PCI_SUCCESSFUL},
      {"device key alone, second instance", kPci + "VEN_1013&DEV_00D6]\n", 1, PCI_DEVICE_NOT_FOUND},
      {"subsystem suffix, any case",
       kPci + "ven_1013&dev_00d6&SUBSYS_00000000&REV_01\\BUS_00&DEV_02&FUNC_00]\n" + kPci +
           "ven_1013&dev_00d6&SUBSYS_00000000&REV_01\\BUS_00&DEV_03&FUNC_00]\n",
       1, PCI_SUCCESSFUL},
      {"instances of two keys together", kTwoKeys, 1, PCI_SUCCESSFUL},
      {"instances of two keys together, third", kTwoKeys, 2, PCI_DEVICE_NOT_FOUND},
      {"a longer device number", kPci + "VEN_1013&DEV_00D60]\n", 0, PCI_DEVICE_NOT_FOUND},
  };
  TestMachine m;
  for (const Case& c : cases) {
    std::ofstream(m.Root() / "registry.reg") << "REGEDIT4\n\n" << c.keys;
    m.Reload();
    EXPECT_EQ(FindPciDeviceInRegistry(0x1013, 0x00D6, c.index), c.result) << c.name;
  }
  EXPECT_EQ(FindPciDeviceInRegistry(0xFFFF, 0x00D6, 0), PCI_BAD_VENDOR_ID);
}

}  // namespace
