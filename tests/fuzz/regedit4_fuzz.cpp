// Any text given to the REGEDIT4 reader is either rejected with a line number or gives a tree
// whose written form reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_machine.h"
#include "machine/registry_tree.h"

namespace {

constexpr const char* kTarget = "regedit4_fuzz";

void Check(bool ok, const char* what) { fuzzing::Check(ok, kTarget, what); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  w9x::RegistryParseResult result = w9x::RegistryTree::Parse(text);
  if (!result.tree) {
    Check(result.error.line >= 1, "error without a line number");
    Check(!result.error.reason.empty(), "error without a reason");
    return 0;
  }

  const std::string written = result.tree->Serialize();
  w9x::RegistryParseResult again = w9x::RegistryTree::Parse(written);
  Check(again.tree != nullptr, "written text does not read back");
  Check(again.tree->Serialize() == written, "written text does not round-trip");

  // Exporting any first-level key gives text that reads back as well; then delete it and write
  // the rest.
  std::shared_ptr<w9x::RegistryKey> root = result.tree->Root(w9x::RootKey::kLocalMachine);
  if (std::shared_ptr<w9x::RegistryKey> first = root->SubKeyAt(0)) {
    Check(w9x::RegistryTree::Parse(w9x::SerializeRegistryKey(*first)).tree != nullptr, "export does not read back");
    Check(root->DeleteSubKey(first->Name()) == w9x::RegStatus::kOk, "cannot delete an enumerated key");
    Check(first->IsDeleted(), "deleted key does not know it");
    (void)result.tree->Serialize();
  }
  return 0;
}
