// cfgsysfix: the run, the rewrite of CONFIG.SYS and the test that picks its lines.
#include "config_sys.h"

#include <io.h>
#include <stdio.h>

#include "pci_bios.h"

// The machine name tells the legacy line apart; the device on its PCI bus tells the machines
// that must not load DOS high.
static const char szSystemBoardKey[] = "Enum\\Root\\*PNP0C01\\0000";
static const char szComputerNameValue[] = "ComputerName";
static const char szLegacyPrefix[] = "KVO QT-51";
#define LEGACY_PREFIX_LENGTH 9
#define COMPUTER_NAME_SIZE 32
#define PCI_VENDOR 0x1013
#define PCI_DEVICE 0x00D6

static const char szTempPrefix[] = "zyx";
static const char szConfigSysName[] = "config.sys";
static const char szKeyword[] = "DOS=HIGH,UMB";
static const char szRemark[] = "REM ";
#define LINE_BUFFER_SIZE 256

int FixConfigSys(void) {
  HKEY hKey;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, szSystemBoardKey, &hKey) != ERROR_SUCCESS) return 0;

  // A name shorter than the prefix leaves zero bytes in its place, which never match.
  char szComputerName[COMPUTER_NAME_SIZE] = {0};
  DWORD cbComputerName = sizeof szComputerName;
  LONG lRead = RegQueryValueExA(hKey, szComputerNameValue, NULL, NULL, (LPBYTE)szComputerName, &cbComputerName);
  RegCloseKey(hKey);
  if (lRead == ERROR_SUCCESS &&
      CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, szComputerName, LEGACY_PREFIX_LENGTH, szLegacyPrefix,
                     LEGACY_PREFIX_LENGTH) == CSTR_EQUAL)
    return 1;

  // Only an explicit "not found" spares the machine.
  if (FindPciDevice(PCI_VENDOR, PCI_DEVICE, 0) == PCI_DEVICE_NOT_FOUND) return 1;

  // CONFIG.SYS lies in the root of the Windows drive; the new text is built beside it first.
  char szWindowsDir[261] = {0};
  GetWindowsDirectoryA(szWindowsDir, sizeof szWindowsDir);
  char szRootDir[4];
  lstrcpynA(szRootDir, szWindowsDir, sizeof szRootDir);
  char szTempFile[MAX_PATH];
  if (!GetTempFileNameA(szRootDir, szTempPrefix, 0, szTempFile)) return 1;

  char szConfigSys[MAX_PATH];
  lstrcpyA(szConfigSys, szRootDir);
  lstrcatA(szConfigSys, szConfigSysName);
  if (Rewrite(szConfigSys, szTempFile) == REWRITE_DONE) {
    CopyFileA(szTempFile, szConfigSys, FALSE);
    DeleteFileA(szTempFile);
  }
  return 1;
}

int Rewrite(LPCSTR lpszSource, LPCSTR lpszDest) {
  if (_access(lpszSource, 0) != 0) return REWRITE_NO_SOURCE;
  FILE* fpSource = fopen(lpszSource, "rt");
  if (!fpSource) return REWRITE_FAILED;
  FILE* fpDest = fopen(lpszDest, "wt");
  if (!fpDest) {
    fclose(fpSource);
    return REWRITE_FAILED;
  }

  // A line longer than the buffer comes in several pieces; each is tested and copied as if it
  // were a line of its own.
  int nResult = REWRITE_DONE;
  char szLine[LINE_BUFFER_SIZE];
  while (fgets(szLine, sizeof szLine, fpSource)) {
    if ((IsLineToComment(szLine, szKeyword) && fputs(szRemark, fpDest) == EOF) || fputs(szLine, fpDest) == EOF) {
      nResult = REWRITE_FAILED;
      break;
    }
  }
  fclose(fpSource);
  // The stream holds the last pieces until it is closed: a failure there is a failed write too.
  if (fclose(fpDest) != 0) nResult = REWRITE_FAILED;
  return nResult;
}

static char UpperByte(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

BOOL IsLineToComment(LPCSTR lpszLine, LPCSTR lpszKeyword) {
  LPCSTR p = lpszLine;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '\n') return FALSE;
  // "REM", also as the start of a longer word, marks a comment already.
  if (UpperByte(p[0]) == 'R' && UpperByte(p[1]) == 'E' && UpperByte(p[2]) == 'M') return FALSE;
  for (; *p; ++p) {
    int i = 0;
    while (lpszKeyword[i] && UpperByte(p[i]) == lpszKeyword[i]) ++i;
    if (!lpszKeyword[i]) return TRUE;
  }
  return FALSE;
}
