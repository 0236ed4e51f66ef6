// FIND_PCI_DEVICE on the simulated PC: the devices of its PCI bus are those machine.ini lists in
// [Devices] PCI=, in that order; a pair listed twice is two instances.
#include "pci_bios.h"

#include "machine/context.h"

BYTE FindPciDevice(WORD wVendor, WORD wDevice, WORD wIndex) {
  if (wVendor == 0xFFFF) return PCI_BAD_VENDOR_ID;
  unsigned nFound = 0;
  for (const w9x::PciDevice& device : w9x::CurrentMachine().Config().pci) {
    if (device.vendor == wVendor && device.device == wDevice && nFound++ == wIndex) return PCI_SUCCESSFUL;
  }
  return PCI_DEVICE_NOT_FOUND;
}
