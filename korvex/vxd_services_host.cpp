// The VxD services on the host: the simulated machine's VMM and VXDLDR.
#include <vxd_host.h>

#include "vxd_services.h"

extern "C" unsigned long KeyboardFilterHook(unsigned long ecx);

extern "C" {

int VxdHookDeviceService(unsigned long service, void** previous) {
  return wdm::vxd::HookDeviceService(service, KeyboardFilterHook, previous) ? 1 : 0;
}

void VxdUnhookDeviceService(unsigned long service) { wdm::vxd::UnhookDeviceService(service, KeyboardFilterHook); }

long VxdLoadModule(void** handle, const char* name, char* buffer) { return wdm::vxd::LoadModule(handle, name, buffer); }

void* VxdGetProcAddress(void* handle, const char* name) { return wdm::vxd::GetProcAddress(handle, name); }

}
