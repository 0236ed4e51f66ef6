// KORVEX: button input. The keyboard filter in the keyboard driver's input chain turns the
// buttons' scan codes into key events and has the HID class driver module loaded on the first
// button press.
#pragma once

#include "frame.h"

// VKD_Filter_Keyboard_Input: VKD device 0x000D, service 0x0012.
#define VKD_FILTER_KEYBOARD_INPUT 0x000D0012UL

extern "C" {
// The handler that followed in the filter chain; 0 while not hooked.
extern void* PreviousFilter;
// Entry of "HidRegisterMinidriver" in the loaded class driver module; 0 until resolved.
extern void* ResolvedRegisterEntry;
// Called by the hook procedure for each scan code (low byte of `code`); returns the scan code.
unsigned long FilterScanCode(unsigned long code);
}

// The key event of a scan code: its usage (0 = all keys up), or -1 when the code is no button.
int ScanCodeUsage(UCHAR code);

VOID HookKeyboardFilter();
VOID UnhookKeyboardFilter();
VOID NTAPI LoadClassDriver(PVOID WorkItem);
long LoadModuleWithImports(void** Handle, const char* Name);
