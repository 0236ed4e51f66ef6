// korvex_install: puts a root-enumerated device into the Plug and Play tree and installs its
// driver from an INF, as a hardware vendor's setup program does, and removes it again.
//
//   korvex_install install INF HWID   create the device ROOT\... with hardware id HWID, register
//                                     it, and install the INF's best driver for it
//   korvex_install remove HWID        remove the device: its driver gets the removal request
//
// Exit status 0 on success; 1 with one line on stderr naming the failing call and its error.
#include <windows.h>

#include <initguid.h>

#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int Fail(const char* call) {
  std::fprintf(stderr, "korvex_install: %s failed, error %lu\n", call, GetLastError());
  return 1;
}

// The hardware id property is a multi-string: the id, then an empty string.
std::wstring MultiString(const wchar_t* id) {
  std::wstring list(id);
  list.push_back(L'\0');
  list.push_back(L'\0');
  return list;
}

int Install(const wchar_t* inf, const wchar_t* hardware_id) {
  wchar_t inf_path[MAX_PATH];
  if (!GetFullPathNameW(inf, MAX_PATH, inf_path, nullptr)) return Fail("GetFullPathNameW");

  HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  int result = 0;
  std::wstring ids = MultiString(hardware_id);
  if (!SetupDiCreateDeviceInfoW(set, L"HIDClass", &GUID_DEVCLASS_HIDCLASS, nullptr, nullptr,
                                DICD_GENERATE_ID, &device)) {
    result = Fail("SetupDiCreateDeviceInfoW");
  } else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(ids.data()),
                                                static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
    result = Fail("SetupDiSetDeviceRegistryPropertyW");
  } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    result = Fail("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
  }
  SetupDiDestroyDeviceInfoList(set);
  if (result != 0) return result;

  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, hardware_id, inf_path, INSTALLFLAG_FORCE, &reboot))
    return Fail("UpdateDriverForPlugAndPlayDevicesW");
  return 0;
}

// Finds the device whose first hardware id is HWID (ignoring case) in SET.
bool FindDevice(HDEVINFO set, const wchar_t* hardware_id, SP_DEVINFO_DATA* device) {
  device->cbSize = sizeof *device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, device); ++i) {
    wchar_t ids[512] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids), sizeof ids - 2 * sizeof(wchar_t), nullptr) &&
        _wcsicmp(ids, hardware_id) == 0)
      return true;
  }
  SetLastError(ERROR_NO_SUCH_DEVINST);
  return false;
}

// Removes the device, as the Device Manager's "remove" does: its driver gets the removal request.
// (Wine's SetupAPI has no class-installer parameters, so a disable through DIF_PROPERTYCHANGE is
// not available there; the removal takes the device down the same way.)
int Remove(const wchar_t* hardware_id) {
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiGetClassDevsW");
  SP_DEVINFO_DATA device{};
  int result = 0;
  if (!FindDevice(set, hardware_id, &device)) {
    result = Fail("finding the device");
  } else if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
    result = Fail("SetupDiCallClassInstaller(DIF_REMOVE)");
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wcscmp(argv[1], L"install") == 0) return Install(argv[2], argv[3]);
  if (argc == 3 && std::wcscmp(argv[1], L"remove") == 0) return Remove(argv[2]);
  std::fprintf(stderr, "usage: korvex_install install INF HWID | remove HWID\n");
  return 2;
}
