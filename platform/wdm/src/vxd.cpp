// VMM and VXDLDR of the simulated Windows 9x machine.
//
// The filter chain is a stack of handlers over the keyboard driver's own last handler; hooking
// puts a handler on top and hands back the one it covers; each handler calls the one it covers
// itself. The module loader knows the machine's module files: loading one whose imports are not
// all loaded yet answers -12 with the first missing module's file name in the caller's buffer;
// a file that does not exist answers -2. Names compare ignoring case.
#include <vxd_host.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>
#include <mutex>

#include "internal.h"

namespace wdm::vxd {
namespace {

constexpr long kMissingImport = -12;
constexpr long kFileNotFound = -2;

std::mutex vxd_mutex;
std::vector<FilterProc> chain;
bool hook_fails = false;
std::vector<uint8_t> passed_on;
std::vector<Module> modules;
std::vector<LoadRecord> load_log;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Module* Find(const std::string& name) {
  const std::string key = Lower(name);
  for (Module& m : modules)
    if (Lower(m.name) == key) return &m;
  return nullptr;
}

unsigned long LastHandler(unsigned long ecx) {
  std::lock_guard lock(vxd_mutex);
  passed_on.push_back(static_cast<uint8_t>(ecx & 0xFF));
  return ecx;
}

}  // namespace

std::vector<Module> Windows98Modules() {
  return {
      {"ntkern.vxd", {}, {}, true},
      {"hidparse.sys", {"ntkern.vxd"}, {"HidP_GetCaps"}, false},
      {"hidclass.sys", {"ntkern.vxd", "hidparse.sys"}, {"HidRegisterMinidriver"}, false},
  };
}

void SetModules(std::vector<Module> table) {
  std::lock_guard lock(vxd_mutex);
  modules = std::move(table);
}

std::vector<LoadRecord> LoadLog() {
  std::lock_guard lock(vxd_mutex);
  return load_log;
}

void SetHookFailure(bool fail) {
  std::lock_guard lock(vxd_mutex);
  hook_fails = fail;
}

int HookedFilters() {
  std::lock_guard lock(vxd_mutex);
  return static_cast<int>(chain.size());
}

void KeyboardInput(uint8_t code) {
  FilterProc top;
  {
    std::lock_guard lock(vxd_mutex);
    top = chain.empty() ? LastHandler : chain.back();
  }
  top(code);
}

std::vector<uint8_t> TakePassedOn() {
  std::lock_guard lock(vxd_mutex);
  return std::exchange(passed_on, {});
}

bool HookDeviceService(unsigned long service, FilterProc proc, void** previous) {
  std::lock_guard lock(vxd_mutex);
  if (hook_fails || service != kVkdFilterKeyboardInput || proc == nullptr) return false;
  *previous = reinterpret_cast<void*>(chain.empty() ? LastHandler : chain.back());
  chain.push_back(proc);
  return true;
}

bool UnhookDeviceService(unsigned long service, FilterProc proc) {
  std::lock_guard lock(vxd_mutex);
  if (service != kVkdFilterKeyboardInput) return false;
  auto it = std::find(chain.begin(), chain.end(), proc);
  if (it == chain.end()) return false;
  chain.erase(it);
  return true;
}

long LoadModule(void** handle, const char* name, char* buffer) {
  std::lock_guard lock(vxd_mutex);
  const std::string wanted = name != nullptr ? name : "";
  long result = 0;
  Module* module = Find(wanted);
  if (module == nullptr) {
    result = kFileNotFound;
  } else if (!module->loaded) {
    for (const std::string& import : module->imports) {
      Module* other = Find(import);
      if (other == nullptr || !other->loaded) {
        std::snprintf(buffer, 260, "%s", import.c_str());
        result = kMissingImport;
        break;
      }
    }
    if (result == 0) module->loaded = true;
  }
  if (result == 0) *handle = module;
  load_log.push_back({wanted, result});
  return result;
}

void* GetProcAddress(void* handle, const char* name) {
  std::lock_guard lock(vxd_mutex);
  for (Module& m : modules) {
    if (&m != handle) continue;
    for (const std::string& e : m.exports)
      if (e == name) return const_cast<char*>(e.c_str());  // some address inside the module
  }
  return nullptr;
}

}  // namespace wdm::vxd

namespace wdm::internal {

void VxdStart() {
  std::lock_guard lock(vxd::vxd_mutex);
  vxd::chain.clear();
  vxd::hook_fails = false;
  vxd::passed_on.clear();
  vxd::modules = vxd::Windows98Modules();
  vxd::load_log.clear();
}

void VxdStop() { VxdStart(); }

}  // namespace wdm::internal
