#include "reg_command.h"

#include <cstdio>

#include "machine/machine.h"
#include "machine/registry_tree.h"
#include "machine/text.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

int Error(const std::string& message) {
  std::fprintf(stderr, "w9x: %s\n", message.c_str());
  return kRunnerError;
}

}  // namespace

int Reg(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() < 2 || args.size() > 3 || args[1] != "export")
    return Error("usage: w9x reg MACHINE export [KEY]");
  std::unique_ptr<Machine> machine;
  try {
    machine = std::make_unique<Machine>(args[0]);
  } catch (const MachineError& e) {
    return Error(e.what());
  }
  RegistryTree& tree = machine->Registry().Tree();
  if (args.size() == 2) {
    out << tree.Serialize();
    return 0;
  }
  std::optional<std::string> path = text::ToCp932(args[2]);
  KeyResult key = path ? tree.Open(*path) : KeyResult{};
  if (key.status != RegStatus::kOk)
    return Error("reg export: no key " + args[2] + " in the registry of " + args[0]);
  out << SerializeRegistryKey(*key.key);
  return 0;
}

}  // namespace w9x::tool
