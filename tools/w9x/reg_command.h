// `w9x reg`: inspects the registry of a machine image.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace w9x::tool {

// `reg MACHINE import FILE.reg`: merges a registry export (see machine/registry_import.h) into
// the machine's registry, all of it or nothing.
// `reg MACHINE export [KEY] [--cp932]`: writes the registry, or the key KEY (a full path such as
// "HKEY_LOCAL_MACHINE\Enum\BIOS", UTF-8) with everything under it, to `out` as REGEDIT4 text
// (UTF-8 with LF; with --cp932 code page 932 with CR LF, for the Japanese Windows 9x editor).
// 0, or 125 after printing one line to stderr (no such machine, malformed registry, unknown key).
int Reg(const std::vector<std::string>& args, std::ostream& out);

}  // namespace w9x::tool
