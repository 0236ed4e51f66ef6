// `w9x reg`: inspects the registry of a machine image.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace w9x::tool {

// `reg MACHINE export [KEY]`: writes the registry, or the key KEY (a full path such as
// "HKEY_LOCAL_MACHINE\Enum\BIOS", UTF-8) with everything under it, to `out` as REGEDIT4 text.
// 0, or 125 after printing one line to stderr (no such machine, malformed registry, unknown key).
int Reg(const std::vector<std::string>& args, std::ostream& out);

}  // namespace w9x::tool
