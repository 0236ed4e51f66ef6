#include "reg_command.h"

#include <cstdio>

#include "machine/host_file.h"
#include "machine/machine.h"
#include "machine/registry_import.h"
#include "machine/registry_tree.h"
#include "machine/text.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

int Error(const std::string& message) {
  std::fprintf(stderr, "w9x: %s\n", message.c_str());
  return kRunnerError;
}

int Import(Machine& machine, const std::string& file) {
  auto bytes = ReadHostFile(file);
  if (!bytes) return Error("reg import: cannot read " + file);
  // A file that does not read is refused before the machine's registry is touched.
  std::string error;
  RegistryTree scratch;
  if (!ImportRegistry(scratch, *bytes, error)) return Error("reg import: " + file + ": " + error);
  RegistryStore::Update update(machine.Registry());
  if (!update.Ready()) return Error("reg import: the registry of the machine no longer reads");
  if (!ImportRegistry(update.Tree(), *bytes, error)) return Error("reg import: " + file + ": " + error);
  if (!update.CommitWhole()) return Error("reg import: cannot write the registry of the machine");
  return 0;
}

}  // namespace

int Reg(const std::vector<std::string>& args, std::ostream& out) {
  const char kUsageLine[] = "usage: w9x reg MACHINE export [KEY] [--cp932] | w9x reg MACHINE import FILE.reg";
  if (args.size() < 2) return Error(kUsageLine);
  std::unique_ptr<Machine> machine;
  try {
    machine = std::make_unique<Machine>(args[0]);
  } catch (const MachineError& e) {
    return Error(e.what());
  }
  if (args[1] == "import") {
    if (args.size() != 3) return Error(kUsageLine);
    return Import(*machine, args[2]);
  }
  if (args[1] != "export") return Error(kUsageLine);
  bool cp932 = false;
  std::optional<std::string> key_name;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--cp932") cp932 = true;
    else if (!key_name) key_name = args[i];
    else return Error(kUsageLine);
  }
  RegistryTree& tree = machine->Registry().Tree();
  std::string text;
  if (!key_name) {
    text = tree.Serialize();
  } else {
    std::optional<std::string> path = text::ToCp932(*key_name);
    KeyResult key = path ? tree.Open(*path) : KeyResult{};
    if (key.status != RegStatus::kOk)
      return Error("reg export: no key " + *key_name + " in the registry of " + args[0]);
    text = SerializeRegistryKey(*key.key);
  }
  out << (cp932 ? ToCp932Export(text) : text);
  return 0;
}

}  // namespace w9x::tool
