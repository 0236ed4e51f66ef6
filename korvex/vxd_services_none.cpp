// The Windows 9x VxD services on a Windows without them (the x86-64 image, run under Wine's HID
// class driver): there is no keyboard VxD to hook and no VxD module loader. The hook fails, so the
// filter is never in a chain and no key event is ever made; the loader finds nothing.
#include "vxd_services.h"

extern "C" {

int VxdHookDeviceService(unsigned long, void**) { return 0; }

void VxdUnhookDeviceService(unsigned long) {}

long VxdLoadModule(void**, const char*, char*) { return -1; }

void* VxdGetProcAddress(void*, const char*) { return nullptr; }

}  // extern "C"
