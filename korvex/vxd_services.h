// Windows 9x VxD services the driver calls. In the i686 image they are int 20h dynamic-link
// calls (vxd_services_i386.cpp); on the host they are platform/wdm's VMM and VXDLDR; on x86-64
// (no VKD) the hook fails and the loader finds nothing (vxd_services_none.cpp).
#pragma once
extern "C" {
// VMM Hook_Device_Service (0x00010090) on `service` with the hook procedure KeyboardFilterHook;
// non-zero on success (carry clear), *previous = the previous handler.
int VxdHookDeviceService(unsigned long service, void** previous);
// VMM Unhook_Device_Service (0x0001011C); its outcome is ignored by the driver.
void VxdUnhookDeviceService(unsigned long service);
// VXDLDR module load (0x00270012): 0 loaded (*handle filled), -12 an import is missing (its file
// name is in `buffer`, 260 bytes), other values failure.
long VxdLoadModule(void** handle, const char* name, char* buffer);
// _PELDR_GetProcAddress (0x0027000B, jump form): the export's address or 0.
void* VxdGetProcAddress(void* handle, const char* name);
}
