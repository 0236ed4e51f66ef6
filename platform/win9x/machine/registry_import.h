// Registry export files as the registry editors of Windows write them, merged into a registry.
//
// Accepted: "REGEDIT4" text in UTF-8 or in code page 932 (as the Japanese Windows 9x editor
// writes it; a text that is not valid UTF-8 is taken as code page 932), and "Windows Registry
// Editor Version 5.00" text in UTF-16 little endian with its byte order mark (or UTF-8).  Besides
// the sections and values of REGEDIT4, "[-KEY]" deletes a key with everything under it and
// "name"=- deletes a value.  In a version 5 file, hex(2) and hex(7) data (expandable and multiple
// strings) are UTF-16 and become code page 932 strings, as a Windows 9x registry holds them.
#pragma once

#include <string>
#include <string_view>

#include "machine/registry_tree.h"

namespace w9x {

// Merges the export into `tree` in file order.  False, with one line in `error` ("line 12: bad
// dword") and `tree` unchanged, when the file is not an export or a line is malformed.
bool ImportRegistry(RegistryTree& tree, std::string_view bytes, std::string& error);

// The registry or one key as REGEDIT4 text in code page 932 with CR LF line ends, the form the
// Japanese Windows 9x registry editor imports.
std::string ToCp932Export(std::string_view utf8_regedit4);

}  // namespace w9x
