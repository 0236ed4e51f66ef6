// FIND_PCI_DEVICE answered from the registry: HKEY_LOCAL_MACHINE "Enum\PCI" holds one key per PCI
// device ("VEN_1013&DEV_00D6", on some systems followed by "&SUBSYS_...&REV_..."), and below it
// one key per instance of the device.
#include "pci_bios.h"

static const char szPciEnumKey[] = "Enum\\PCI";
#define KEY_NAME_SIZE 256

static void AppendHex4(LPSTR lpsz, WORD w) {
  static const char szDigits[] = "0123456789ABCDEF";
  for (int nShift = 12; nShift >= 0; nShift -= 4) *lpsz++ = szDigits[(w >> nShift) & 0xF];
  *lpsz = '\0';
}

// TRUE when lpszKey is the device's name, alone or followed by "&" and more.
static BOOL NamesDevice(LPCSTR lpszKey, LPCSTR lpszDevice) {
  char szHead[KEY_NAME_SIZE];
  int cchDevice = lstrlenA(lpszDevice);
  if (lstrlenA(lpszKey) < cchDevice) return FALSE;
  lstrcpynA(szHead, lpszKey, cchDevice + 1);
  if (lstrcmpiA(szHead, lpszDevice) != 0) return FALSE;
  return lpszKey[cchDevice] == '\0' || lpszKey[cchDevice] == '&';
}

// Instances of a device key: its subkeys, or 1 when it has none.
static DWORD CountInstances(HKEY hPci, LPCSTR lpszKey) {
  HKEY hDevice;
  if (RegOpenKeyA(hPci, lpszKey, &hDevice) != ERROR_SUCCESS) return 0;
  DWORD nInstances = 0;
  char szName[KEY_NAME_SIZE];
  DWORD cchName = sizeof szName;
  while (RegEnumKeyExA(hDevice, nInstances, szName, &cchName, NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
    ++nInstances;
    cchName = sizeof szName;
  }
  RegCloseKey(hDevice);
  return nInstances ? nInstances : 1;
}

BYTE FindPciDeviceInRegistry(WORD wVendor, WORD wDevice, WORD wIndex) {
  if (wVendor == 0xFFFF) return PCI_BAD_VENDOR_ID;
  char szDevice[32];
  lstrcpyA(szDevice, "VEN_");
  AppendHex4(szDevice + 4, wVendor);
  lstrcatA(szDevice, "&DEV_");
  AppendHex4(szDevice + 13, wDevice);

  // No hardware tree at all: no device was ever found on the bus.
  HKEY hPci;
  LONG lOpen = RegOpenKeyA(HKEY_LOCAL_MACHINE, szPciEnumKey, &hPci);
  if (lOpen == ERROR_FILE_NOT_FOUND) return PCI_DEVICE_NOT_FOUND;
  if (lOpen != ERROR_SUCCESS) return PCI_FUNC_NOT_SUPPORTED;

  BYTE bResult = PCI_DEVICE_NOT_FOUND;
  DWORD nSeen = 0;
  char szName[KEY_NAME_SIZE];
  for (DWORD dwIndex = 0; bResult == PCI_DEVICE_NOT_FOUND; ++dwIndex) {
    DWORD cchName = sizeof szName;
    LONG lEnum = RegEnumKeyExA(hPci, dwIndex, szName, &cchName, NULL, NULL, NULL, NULL);
    if (lEnum == ERROR_NO_MORE_ITEMS) break;
    if (lEnum != ERROR_SUCCESS) {
      bResult = PCI_FUNC_NOT_SUPPORTED;
    } else if (NamesDevice(szName, szDevice)) {
      nSeen += CountInstances(hPci, szName);
      if (wIndex < nSeen) bResult = PCI_SUCCESSFUL;
    }
  }
  RegCloseKey(hPci);
  return bResult;
}
