// Repairs of the system that follow the script, chosen by the kind of Windows and keyboard.
#pragma once

void RemovePadInfFiles();
void AppendAutoexecFlashLine();
void RemoveNetOverrideKey();
void RemoveKeyboardSubtype();
void RemoveInt0800Keys();
