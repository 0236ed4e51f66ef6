// korvex_client: a HID client of the one-touch buttons device (vendor 4B56, product 003D), as an
// application sees it through the HID class driver: found through the HID device interface
// class, opened as a file, queried with HidD_* and HidP_*, read and written with overlapped I/O.
//
//   korvex_client wait SECONDS       exit 0 once the device is there
//   korvex_client attributes         vendor, product and version number
//   korvex_client caps               the capabilities the class driver parses from the report descriptor
//   korvex_client strings            the string requests, answered with the whole string block
//   korvex_client writes             three output reports written together, completion times
//   korvex_client cancel             a read gets no key event, then CancelIo ends it
//   korvex_client remove INSTALLER   a read is pending while INSTALLER removes the device
//
// Each command prints what it saw and one "ok" or "FAIL <why>" line per check; the exit status is
// the number of failed checks (2 when the device is not found or the usage is wrong).
#include <windows.h>

// The HID headers declare their functions without C linkage.
extern "C" {
#include <hidusage.h>
#include <hidpi.h>
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr USHORT kVendor = 0x4B56;
constexpr USHORT kProduct = 0x003D;
constexpr USHORT kVersion = 0x0101;

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

// The device's path, or an empty string when no present HID interface has our vendor and product.
std::wstring FindDevice() {
  GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO set = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return {};
  std::wstring found;
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &iface); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof *detail;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, nullptr)) continue;
    HANDLE file = CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (HidD_GetAttributes(file, &attributes) && attributes.VendorID == kVendor && attributes.ProductID == kProduct)
      found = detail->DevicePath;
    CloseHandle(file);
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

HANDLE Open(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

void Attributes(HANDLE device) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  Check(HidD_GetAttributes(device, &attributes), "HidD_GetAttributes succeeds");
  std::printf("vendor %04X product %04X version %04X\n", attributes.VendorID, attributes.ProductID,
              attributes.VersionNumber);
  Check(attributes.VendorID == kVendor, "vendor 4B56");
  Check(attributes.ProductID == kProduct, "product 003D");
  Check(attributes.VersionNumber == kVersion, "version 0101");
}

void Caps(HANDLE device) {
  PHIDP_PREPARSED_DATA parsed = nullptr;
  Check(HidD_GetPreparsedData(device, &parsed), "HidD_GetPreparsedData succeeds");
  if (!parsed) return;
  HIDP_CAPS caps{};
  Check(HidP_GetCaps(parsed, &caps) == HIDP_STATUS_SUCCESS, "HidP_GetCaps succeeds");
  std::printf("usage page %u usage %u input %u output %u feature %u\n", caps.UsagePage, caps.Usage,
              caps.InputReportByteLength, caps.OutputReportByteLength, caps.FeatureReportByteLength);
  Check(caps.UsagePage == 1 && caps.Usage == 6, "usage page 1 (generic desktop), usage 6 (keyboard)");
  Check(caps.InputReportByteLength == 9, "input report 9 bytes (id and 8 data bytes)");
  Check(caps.OutputReportByteLength == 2, "output report 2 bytes (id and the indicator byte)");
  Check(caps.FeatureReportByteLength == 0, "no feature report");
  // The key array: one button usage range on the keyboard page, 0 to 0x65, as the descriptor says.
  USHORT count = caps.NumberInputButtonCaps;
  std::vector<HIDP_BUTTON_CAPS> buttons(count);
  Check(HidP_GetButtonCaps(HidP_Input, buttons.data(), &count, parsed) == HIDP_STATUS_SUCCESS,
        "HidP_GetButtonCaps succeeds");
  bool key_array = false, modifiers = false;
  for (USHORT i = 0; i < count; ++i) {
    const HIDP_BUTTON_CAPS& b = buttons[i];
    if (b.UsagePage != 7 || !b.IsRange || b.ReportID != 1) continue;
    if (b.Range.UsageMin == 0 && b.Range.UsageMax == 0x65) key_array = true;
    if (b.Range.UsageMin == 0xE0 && b.Range.UsageMax == 0xE7) modifiers = true;
  }
  Check(key_array && modifiers, "report 1: modifier bits E0-E7 and the key array 00-65 on the keyboard page");
  HidD_FreePreparsedData(parsed);
}

// The string block: four descriptors, each a length byte, the type byte 3 and UTF-16LE text.
std::vector<BYTE> StringBlock() {
  std::vector<BYTE> block = {0x04, 0x03, 0x09, 0x00};
  for (const char* text : {"Microsoft Corporation", "System Control Buttons", "Legacy Keyboard"}) {
    block.push_back(static_cast<BYTE>(2 + 2 * std::strlen(text)));
    block.push_back(0x03);
    for (const char* p = text; *p; ++p) {
      block.push_back(static_cast<BYTE>(*p));
      block.push_back(0);
    }
  }
  return block;
}

void Strings(HANDLE device) {
  const std::vector<BYTE> block = StringBlock();
  std::printf("string block: %zu bytes\n", block.size());
  using Request = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);
  const struct {
    const char* name;
    Request request;
  } requests[] = {{"manufacturer", HidD_GetManufacturerString},
                  {"product", HidD_GetProductString},
                  {"serial number", HidD_GetSerialNumberString}};
  for (const auto& r : requests) {
    // Every string request gets the whole block, whatever string it asked for.
    std::vector<BYTE> buffer(256, 0xCC);
    bool ok = r.request(device, buffer.data(), static_cast<ULONG>(buffer.size()));
    std::string what = std::string(r.name) + " string: the whole 126-byte block";
    Check(ok && std::memcmp(buffer.data(), block.data(), block.size()) == 0, what.c_str());
  }
  // The indexed string request is another request code, which the driver does not support.
  std::vector<BYTE> buffer(256, 0xCC);
  bool ok = HidD_GetIndexedString(device, 2, buffer.data(), static_cast<ULONG>(buffer.size()));
  Check(!ok && buffer[0] == 0xCC, "indexed string 2: not supported, nothing written");
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Writes(HANDLE device) {
  constexpr int kWrites = 3;
  BYTE reports[kWrites][2] = {{1, 0x01}, {1, 0x02}, {1, 0x04}};
  OVERLAPPED overlapped[kWrites] = {};
  HANDLE events[kWrites];
  LARGE_INTEGER frequency, start;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kWrites; ++i) {
    events[i] = overlapped[i].hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!WriteFile(device, reports[i], 2, &written, &overlapped[i]) && GetLastError() != ERROR_IO_PENDING) {
      std::printf("write %d: error %lu\n", i + 1, GetLastError());
      SetEvent(events[i]);
    }
  }
  // Record the order and time of each completion as it comes.
  double at[kWrites] = {};
  int order[kWrites] = {};
  bool done[kWrites] = {};
  bool succeeded = true;
  for (int n = 0; n < kWrites; ++n) {
    std::vector<HANDLE> waiting;
    std::vector<int> index;
    for (int i = 0; i < kWrites; ++i)
      if (!done[i]) waiting.push_back(events[i]), index.push_back(i);
    DWORD got = WaitForMultipleObjects(static_cast<DWORD>(waiting.size()), waiting.data(), FALSE, 5000);
    if (got >= WAIT_OBJECT_0 + waiting.size()) {
      Check(false, "every write completes within 5 s");
      return;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    int i = index[got - WAIT_OBJECT_0];
    done[i] = true;
    order[n] = i;
    at[n] = Seconds(start, now, frequency);
    DWORD written = 0;
    if (!GetOverlappedResult(device, &overlapped[i], &written, FALSE)) succeeded = false;
    std::printf("write %d completed after %.3f s\n", i + 1, at[n]);
  }
  Check(succeeded, "every write succeeds");
  Check(order[0] == 0 && order[1] == 1 && order[2] == 2, "writes complete in the order they were written");
  // One timer period of 0.5 s each, counted from when the first write found the timer idle.
  bool paced = true;
  for (int n = 0; n < kWrites; ++n) {
    double expected = 0.5 * (n + 1);
    if (at[n] < expected - 0.05 || at[n] > expected + 0.4) paced = false;
  }
  Check(paced, "completions about 0.5, 1.0 and 1.5 s after the writes");
  for (HANDLE event : events) CloseHandle(event);

  // The timer is idle again once the queue is empty: a later write starts it anew.
  Sleep(300);
  OVERLAPPED later{};
  later.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  QueryPerformanceCounter(&start);
  DWORD written = 0;
  bool pending = !WriteFile(device, reports[0], 2, &written, &later) && GetLastError() == ERROR_IO_PENDING;
  bool completed = pending && WaitForSingleObject(later.hEvent, 5000) == WAIT_OBJECT_0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  double after = Seconds(start, now, frequency);
  std::printf("a later write completed after %.3f s\n", after);
  Check(completed && GetOverlappedResult(device, &later, &written, FALSE) && after > 0.45 && after < 0.9,
        "a write after the timer went idle completes about 0.5 s later");
  CloseHandle(later.hEvent);
}

// Starts an overlapped read of one input report; false when it did not stay pending.
bool StartRead(HANDLE device, BYTE* report, OVERLAPPED* overlapped) {
  *overlapped = OVERLAPPED{};
  overlapped->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD got = 0;
  return !ReadFile(device, report, 9, &got, overlapped) && GetLastError() == ERROR_IO_PENDING;
}

void Cancel(HANDLE device) {
  BYTE report[9] = {};
  OVERLAPPED overlapped;
  Check(StartRead(device, report, &overlapped), "a read stays pending");
  // No keyboard driver filter on this system: no key event, so no input report, ever arrives.
  Check(WaitForSingleObject(overlapped.hEvent, 1500) == WAIT_TIMEOUT, "no input report within 1.5 s");
  Check(CancelIo(device), "CancelIo succeeds");
  Check(WaitForSingleObject(overlapped.hEvent, 5000) == WAIT_OBJECT_0, "the cancelled read completes");
  DWORD got = 0;
  bool ok = GetOverlappedResult(device, &overlapped, &got, FALSE);
  DWORD error = GetLastError();
  std::printf("cancelled read: %s, error %lu, %lu bytes\n", ok ? "success" : "failure", ok ? 0 : error, got);
  Check(!ok && error == ERROR_OPERATION_ABORTED, "with ERROR_OPERATION_ABORTED");
  CloseHandle(overlapped.hEvent);
}

void Remove(HANDLE device, const wchar_t* installer) {
  BYTE report[9] = {};
  OVERLAPPED overlapped;
  Check(StartRead(device, report, &overlapped), "a read stays pending");
  std::wstring command = std::wstring(L"\"") + installer + L"\" remove ROOT\\KORVEX";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  Check(started, "the installer starts to remove the device");
  if (!started) return;
  // The class driver takes the device down only once the read it keeps pending in the driver has
  // come back: a driver that kept it would hold the removal until the service manager gives up.
  DWORD exit_code = 1;
  DWORD started_at = GetTickCount();
  bool ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  double seconds = (GetTickCount() - started_at) / 1000.0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("removal took %.1f s\n", seconds);
  Check(ended && exit_code == 0, "the device is removed");
  Check(seconds < 10, "within 10 s");
  Check(WaitForSingleObject(overlapped.hEvent, 10000) == WAIT_OBJECT_0, "the pending read completes");
  DWORD got = 0;
  bool ok = GetOverlappedResult(device, &overlapped, &got, FALSE);
  DWORD error = GetLastError();
  std::printf("read at removal: %s, error %lu, %lu bytes\n", ok ? "success" : "failure", ok ? 0 : error, got);
  Check(!ok && error != ERROR_IO_INCOMPLETE, "with an error");
  Check(FindDevice().empty(), "the device is gone from the HID interfaces");
  CloseHandle(overlapped.hEvent);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 3 && std::wcscmp(argv[1], L"wait") == 0) {
    DWORD deadline = GetTickCount() + 1000 * static_cast<DWORD>(_wtoi(argv[2]));
    while (FindDevice().empty()) {
      if (static_cast<LONG>(GetTickCount() - deadline) > 0) return 1;
      Sleep(200);
    }
    return 0;
  }
  std::wstring path = FindDevice();
  if (path.empty()) {
    std::printf("FAIL no HID device with vendor 4B56 and product 003D\n");
    return 2;
  }
  HANDLE device = Open(path);
  if (device == INVALID_HANDLE_VALUE) {
    std::printf("FAIL cannot open the device, error %lu\n", GetLastError());
    return 2;
  }
  std::wstring command = argc >= 2 ? argv[1] : L"";
  if (argc == 2 && command == L"attributes") Attributes(device);
  else if (argc == 2 && command == L"caps") Caps(device);
  else if (argc == 2 && command == L"strings") Strings(device);
  else if (argc == 2 && command == L"writes") Writes(device);
  else if (argc == 2 && command == L"cancel") Cancel(device);
  else if (argc == 3 && command == L"remove") Remove(device, argv[2]);
  else {
    std::printf("usage: korvex_client wait SECONDS | attributes | caps | strings | writes | cancel | remove INSTALLER\n");
    return 2;
  }
  CloseHandle(device);
  return failures;
}
