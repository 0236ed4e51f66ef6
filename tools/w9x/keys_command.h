// `w9x keys`: the host build of the KORVEX driver in the simulated kernel of a machine.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace w9x::tool {

// args: MACHINE [options] SCANCODE...; 0 after a clean run, 1 when blocks were left in the
// pool, 125 after one line for a runner error.
int Keys(const std::vector<std::string>& args, std::ostream& out);

}  // namespace w9x::tool
