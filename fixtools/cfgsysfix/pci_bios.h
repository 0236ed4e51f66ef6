// The PCI BIOS function FIND_PCI_DEVICE: is the device with this vendor and device number on the
// PCI bus, as instance wIndex (0 for the first)?
#pragma once

#include <windows.h>

// Return codes of the PCI BIOS.
#define PCI_SUCCESSFUL 0x00
#define PCI_FUNC_NOT_SUPPORTED 0x81
#define PCI_BAD_VENDOR_ID 0x83
#define PCI_DEVICE_NOT_FOUND 0x86

// The BIOS's return code: PCI_SUCCESSFUL when the device is there, PCI_DEVICE_NOT_FOUND when it
// is not; any other code means the question could not be answered.
BYTE FindPciDevice(WORD wVendor, WORD wDevice, WORD wIndex);

// The same question answered from the hardware tree of the registry (HKEY_LOCAL_MACHINE
// "Enum\PCI"), for systems whose programs cannot reach a PC BIOS: a key "VEN_vvvv&DEV_dddd",
// with or without a further "&..." suffix, stands for the device; each key below it is one
// instance (a device key without any counts as one).
BYTE FindPciDeviceInRegistry(WORD wVendor, WORD wDevice, WORD wIndex);
