// FIND_PCI_DEVICE on Windows.  A 32-bit program on Windows 9x asks the PC BIOS itself; where no
// PC BIOS can be reached (64-bit Windows, Windows NT, Wine) the registry's
// hardware tree answers instead.
#include "pci_bios.h"

#if defined(__i386__)

// Windows 9x passes the interrupt on to the BIOS; NT and Wine fault on it.
static BOOL IsPcBiosReachable(void) {
  OSVERSIONINFOA osvi;
  osvi.dwOSVersionInfoSize = sizeof osvi;
  if (!GetVersionExA(&osvi) || osvi.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) return FALSE;
  HMODULE hNtDll = GetModuleHandleA("ntdll.dll");
  return !(hNtDll && GetProcAddress(hNtDll, "wine_get_version"));
}

// Interrupt 1Ah, AX = B102h: CX device, DX vendor, SI index; AH comes back with the return code
// (and BX with the bus and function of a device found).  The call runs with interrupts enabled;
// the flags are saved before it and restored after it.
static BYTE CallPciBios(WORD wVendor, WORD wDevice, WORD wIndex) {
  DWORD dwEax = 0xB102, dwEcx = wDevice, dwEdx = wVendor, dwEsi = wIndex;
  __asm__ __volatile__(
      "pushfl\n\t"
      "sti\n\t"
      "int $0x1a\n\t"
      "popfl"
      : "+a"(dwEax), "+c"(dwEcx), "+d"(dwEdx), "+S"(dwEsi)
      :
      : "ebx", "edi", "memory", "cc");
  return (BYTE)(dwEax >> 8);
}

BYTE FindPciDevice(WORD wVendor, WORD wDevice, WORD wIndex) {
  if (IsPcBiosReachable()) return CallPciBios(wVendor, wDevice, wIndex);
  return FindPciDeviceInRegistry(wVendor, wDevice, wIndex);
}

#else

BYTE FindPciDevice(WORD wVendor, WORD wDevice, WORD wIndex) {
  return FindPciDeviceInRegistry(wVendor, wDevice, wIndex);
}

#endif
