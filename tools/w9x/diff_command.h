// `w9x diff`: what differs between two machine images, in the words of the effects a program
// has: files created, deleted or changed (content, attributes), folders, INI entries, registry
// keys and values.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace w9x {
class Machine;
}

namespace w9x::tool {

// One difference, e.g. {"file created", "C:\\A.TXT", ""} or
// {"registry value changed", "HKEY_LOCAL_MACHINE\\X\\Name", "\"a\" -> \"b\""}.  Texts are UTF-8.
struct Difference {
  std::string effect;
  std::string subject;
  std::string detail;
  bool operator==(const Difference&) const = default;
};

// The differences from image `a` to image `b`, files first (by path), then the registry.
std::vector<Difference> DiffMachines(Machine& a, Machine& b);

// `diff MACHINE_A MACHINE_B`: 0 when the images are equal, 1 when they differ (each difference
// on a line of `out`), 125 after one line for a runner error.
int Diff(const std::vector<std::string>& args, std::ostream& out);

}  // namespace w9x::tool
