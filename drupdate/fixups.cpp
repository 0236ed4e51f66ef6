#include "fixups.h"

#include "afx/collections.h"
#include "afx/file.h"
#include "afx/string.h"
#include "update_command.h"

namespace {

constexpr REGSAM kKeyAccess = KEY_READ | KEY_WRITE;  // 0x2001F
constexpr DWORD kNameBuffer = 256;
constexpr DWORD kValueBuffer = 256;

// True when the string value `name` of the key equals `expected`, ignoring case.
bool ValueIs(HKEY key, const char* name, const char* expected) {
  BYTE value[kValueBuffer + 1] = {};
  DWORD size = kValueBuffer;
  if (RegQueryValueExA(key, name, nullptr, nullptr, value, &size) != ERROR_SUCCESS) return false;
  value[size < kValueBuffer ? size : kValueBuffer] = 0;  // a value stored without its NUL
  return lstrcmpiA(reinterpret_cast<const char*>(value), expected) == 0;
}

// The names of the key's direct subkeys, in enumeration order.
void SubKeyNames(HKEY key, CStringList& names) {
  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer];
    DWORD size = kNameBuffer;
    if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) return;
    names.AddTail(name);
  }
}

}  // namespace

namespace {

// Deletes the file when it is there; one that cannot be deleted stays, and the run goes on.
void RemoveIfPresent(const CString& path) {
  CFileStatus status;
  TRY {
    if (CFile::GetStatus(path, status)) CFile::Remove(path);
  }
  CATCH(CFileException, e) {
    e->Delete();
  }
  END_CATCH
}

}  // namespace

void RemovePadInfFiles() {
  // The two files are independent: each is tried, whatever became of the other.
  CString folder = WindowsFolder() + "INF\\";
  RemoveIfPresent(folder + "TUNDRIX.INF");
  folder += "OTHER\\";
  RemoveIfPresent(folder + "KVOTUNDRIX.INF");
}

void AppendAutoexecFlashLine() {
  CStdioFile file;
  if (!file.Open("C:\\AUTOEXEC.BAT", CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::typeText))
    return;
  TRY {
    file.Seek(0, CFile::end);
    file.WriteString("\n@C:\\FLASHKVO.EXE > nul\n");
  }
  CATCH(CFileException, e) {
    e->Delete();  // a failed write ends the repair; the file closes with the object
  }
  END_CATCH
}

void RemoveNetOverrideKey() {
  HKEY net = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\Net", 0, kKeyAccess, &net) !=
      ERROR_SUCCESS)
    return;
  for (DWORD index = 0;; ++index) {
    char name[kNameBuffer];
    DWORD size = kNameBuffer;
    if (RegEnumKeyExA(net, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY entry = nullptr;
    if (RegOpenKeyExA(net, name, 0, kKeyAccess, &entry) != ERROR_SUCCESS) break;
    if (ValueIs(entry, "InfPath", "NET82557.INF")) DeleteKeyTree(entry, "Override");
    RegCloseKey(entry);
  }
  RegCloseKey(net);
}

void RemoveKeyboardSubtype() {
  char windows[512] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  CString system_ini = windows;
  if (!EndsWithBackslash(system_ini)) system_ini += '\\';
  system_ini += "SYSTEM.INI";
  WritePrivateProfileStringA("keyboard", "subtype", nullptr, system_ini);
}

void RemoveInt0800Keys() {
  RemoveUnknownInt0800("Enum\\BIOS");
  RemoveUnknownInt0800("Enum\\ACPI");
}

void RemoveUnknownInt0800(const char* root) {
  HKEY device = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CString(root) + "\\*INT0800", 0, kKeyAccess, &device) != ERROR_SUCCESS)
    return;
  // The instances are listed first, so that removing one does not move the others under the walk.
  CStringList instances;
  SubKeyNames(device, instances);
  bool matched = false;
  for (POSITION pos = instances.GetHeadPosition(); pos;) {
    const CString& name = instances.GetNext(pos);
    HKEY instance = nullptr;
    if (RegOpenKeyExA(device, name, 0, kKeyAccess, &instance) != ERROR_SUCCESS) break;
    const bool unknown = ValueIs(instance, "Class", "Unknown");
    if (unknown) DeleteKeyTree(instance, "LogConfig");
    RegCloseKey(instance);
    if (unknown) {
      DeleteKeyTree(device, name);
      matched = true;
    }
  }
  RegCloseKey(device);
  if (!matched) return;

  HKEY enumerator = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, root, 0, kKeyAccess, &enumerator) != ERROR_SUCCESS) return;
  RegDeleteKeyA(enumerator, "*INT0800");  // takes the instances of other classes with it
  RegCloseKey(enumerator);
}

void DeleteKeyTree(HKEY parent, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name, 0, kKeyAccess, &key) != ERROR_SUCCESS) return;
  CStringList children;
  SubKeyNames(key, children);
  for (POSITION pos = children.GetHeadPosition(); pos;) DeleteKeyTree(key, children.GetNext(pos));
  RegDeleteKeyA(parent, name);  // the key's own handle is still open here
  RegCloseKey(key);
}
