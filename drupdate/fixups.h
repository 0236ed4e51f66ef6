// Repairs of the system that follow the script, chosen by the kind of Windows and keyboard.
// None of them reports anything: a missing file, key or value means that step does nothing.
#pragma once

#include <windows.h>

// Deletes INF\TUNDRIX.INF and INF\OTHER\KVOTUNDRIX.INF of the Windows folder when present.
void RemovePadInfFiles();
// Appends the line that starts FLASHKVO.EXE at boot to C:\AUTOEXEC.BAT, on a line of its own.
void AppendAutoexecFlashLine();
// Removes the "Override" subtree of every network class entry installed from NET82557.INF.
void RemoveNetOverrideKey();
// Removes "subtype" from the [keyboard] section of SYSTEM.INI.
void RemoveKeyboardSubtype();
// RemoveUnknownInt0800 for Enum\BIOS, then for Enum\ACPI.
void RemoveInt0800Keys();

// Below the enumerator root (a path under HKEY_LOCAL_MACHINE): when "*INT0800" has an instance
// of class "Unknown", removes that instance's LogConfig, the instance, and then "*INT0800" with
// everything still beneath it.  Otherwise changes nothing.
void RemoveUnknownInt0800(const char* root);
// Removes the subkey `name` of `parent` with everything beneath it, depth first.
void DeleteKeyTree(HKEY parent, const char* name);
