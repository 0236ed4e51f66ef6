// Windows 9x VxD services of the simulated machine (host only): the VMM hook chain over the
// keyboard driver's VKD_Filter_Keyboard_Input service, and the VXDLDR module loader over the
// machine's module table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wdm::vxd {

// A handler of the keyboard filter chain: the scan code in the low byte of ECX.
using FilterProc = unsigned long (*)(unsigned long ecx);

constexpr unsigned long kVkdFilterKeyboardInput = 0x000D0012;

// One module file of the machine: its name, the modules it imports from, its exports.
struct Module {
  std::string name;
  std::vector<std::string> imports;
  std::vector<std::string> exports;
  bool loaded = false;  // already in memory when the machine starts
};

// The module table of a Windows 98 machine: "hidclass.sys" imports from "hidparse.sys", which
// imports from the always-loaded "ntkern.vxd".
std::vector<Module> Windows98Modules();
void SetModules(std::vector<Module> modules);
// Every module load asked for, in order, with its result.
struct LoadRecord {
  std::string name;
  long result;
};
std::vector<LoadRecord> LoadLog();

// Hook_Device_Service fails while this is set.
void SetHookFailure(bool fail);
// Handlers hooked into the keyboard filter chain now (the keyboard driver's own not counted).
int HookedFilters();

// The keyboard driver receives a scan code: it runs the filter chain; the chain's last handler
// (the keyboard driver's own processing) records the code it is given.
void KeyboardInput(uint8_t code);
// The codes the last handler received, in order (taken away).
std::vector<uint8_t> TakePassedOn();

// The driver's side (VMM and VXDLDR services).
bool HookDeviceService(unsigned long service, FilterProc proc, void** previous);
bool UnhookDeviceService(unsigned long service, FilterProc proc);
long LoadModule(void** handle, const char* name, char* buffer);
void* GetProcAddress(void* handle, const char* name);

}  // namespace wdm::vxd
