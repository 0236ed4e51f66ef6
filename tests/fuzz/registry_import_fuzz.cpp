// Any bytes given as a registry export are either refused with one line that leaves the registry
// as it was, or merged into a registry that is still written and read back whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_machine.h"
#include "machine/registry_import.h"
#include "machine/registry_tree.h"

namespace {

constexpr const char* kTarget = "registry_import_fuzz";

void Check(bool ok, const char* what) { fuzzing::Check(ok, kTarget, what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto start = w9x::RegistryTree::Parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"V\"=\"1\"\n\n");
  Check(start.tree != nullptr, "the starting registry does not read");
  const std::string before = start.tree->Serialize();

  std::string error;
  if (!w9x::ImportRegistry(*start.tree, bytes, error)) {
    Check(!error.empty() && error.find('\n') == std::string::npos, "a refusal is not one line");
    Check(start.tree->Serialize() == before, "a refused file changed the registry");
    return 0;
  }
  const std::string written = start.tree->Serialize();
  auto again = w9x::RegistryTree::Parse(written);
  Check(again.tree != nullptr, "the merged registry does not read back");
  Check(again.tree->Serialize() == written, "the merged registry does not round-trip");

  // Its code page 932 export imports into an empty registry as the same registry.
  w9x::RegistryTree copy;
  Check(w9x::ImportRegistry(copy, w9x::ToCp932Export(written), error), "the code page 932 export does not import");
  Check(copy.Serialize() == written, "the code page 932 export does not round-trip");
  return 0;
}
