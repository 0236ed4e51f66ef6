#include "fixups.h"

void RemovePadInfFiles() {}
void AppendAutoexecFlashLine() {}
void RemoveNetOverrideKey() {}
void RemoveKeyboardSubtype() {}
void RemoveInt0800Keys() {}
