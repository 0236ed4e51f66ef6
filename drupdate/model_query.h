// The machine model: the Product Name of the SMBIOS System Information structure, read through
// the DMI driver.
#pragma once

// Fills `name` (512 bytes, cleared by the caller) with the product name, or leaves it empty.
// Non-zero when the structure was read; on failure the buffer is untouched.
int QueryModelName(char* name);
