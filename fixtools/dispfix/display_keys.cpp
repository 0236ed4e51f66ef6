// dispfix: the display device key and the PCI key it names.
#include "display_keys.h"

static const char szDisplayKey[] = "Enum\\Root\\DISPLAY\\0000";
static const char szHardwareIdValue[] = "HardwareID";
static const char szAdapterId[] = "PCI\\VEN_102B&DEV_0519";
static const char szPciKey[] = "Enum\\PCI\\VEN_102B&DEV_0519";
#define HARDWARE_ID_SIZE 256

// True when the value read, all of its cbValue bytes, is the adapter's identifier: its closing
// zeros aside, no zero may stand inside it, so that a list holding the identifier and a further
// entry does not match.
static BOOL IsAdapterId(const char* pValue, DWORD cbValue) {
  DWORD cch = 0;
  while (cbValue > 0 && pValue[cbValue - 1] == '\0') --cbValue;
  while (cch < cbValue && pValue[cch] != '\0') ++cch;
  return cch == cbValue && lstrcmpiA(pValue, szAdapterId) == 0;
}

int FixDisplayKeys(void) {
  BOOL bFound = FALSE;
  HKEY hKey;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, szDisplayKey, &hKey) == ERROR_SUCCESS) {
    // The value is read into 256 bytes; the byte after them stays zero, so that a value that
    // fills them all is still a terminated string.
    char szHardwareId[HARDWARE_ID_SIZE + 1] = {0};
    DWORD cbHardwareId = HARDWARE_ID_SIZE;
    if (RegQueryValueExA(hKey, szHardwareIdValue, NULL, NULL, (LPBYTE)szHardwareId, &cbHardwareId) == ERROR_SUCCESS &&
        IsAdapterId(szHardwareId, cbHardwareId))
      bFound = TRUE;
    RegCloseKey(hKey);
    if (bFound) RegDeleteKeyA(HKEY_LOCAL_MACHINE, szDisplayKey);
  }
  // The adapter's key is opened first only to learn whether it is there.
  if (bFound && RegOpenKeyA(HKEY_LOCAL_MACHINE, szPciKey, &hKey) == ERROR_SUCCESS) {
    RegCloseKey(hKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, szPciKey);
  }
  return 1;
}
