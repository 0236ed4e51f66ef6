// Any bytes given to the resource reader are rejected or give entries whose typed views decode
// or are rejected, never read out of bounds; what decodes is checked for its own consistency.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_machine.h"
#include "user32/resources.h"

namespace {

constexpr const char* kTarget = "res_reader_fuzz";

void Check(bool ok, const char* what) { fuzzing::Check(ok, kTarget, what); }

std::size_t CountItems(const std::vector<w9x::MenuItem>& items) {
  std::size_t n = items.size();
  for (const w9x::MenuItem& i : items) {
    Check(i.IsPopup() || i.items.empty(), "items below a plain item");
    n += CountItems(i.items);
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  std::string error;
  auto file = w9x::ResourceFile::Parse(bytes, &error);
  if (!file) {
    Check(!error.empty(), "rejected without a reason");
  } else {
    for (const w9x::Resource& r : file->Entries()) Check(r.data.size() <= size, "entry larger than the file");
  }

  // Every decoder also sees the raw bytes, as if they were the data of one resource.
  if (auto menu = w9x::ParseMenu(bytes)) Check(CountItems(menu->items) * 4 <= size, "more menu items than bytes");
  if (auto table = w9x::ParseAccelerators(bytes)) Check(table->size() * 8 <= size, "more accelerators than bytes");
  if (auto dialog = w9x::ParseDialog(bytes)) Check(dialog->items.size() * 18 <= size, "more controls than bytes");
  if (auto group = w9x::ParseIconGroup(bytes)) Check(6 + group->entries.size() * 14 <= size, "more icons than bytes");
  if (auto strings = w9x::ParseStringBlock(bytes)) Check(strings->size() == 16, "a block holds 16 strings");

  if (file) {
    for (const w9x::Resource& r : file->Entries()) {
      (void)w9x::ParseMenu(r.data);
      (void)w9x::ParseDialog(r.data);
    }
    for (std::uint32_t id : {0u, 1u, 201u, 0xFFFFu}) (void)file->String(id);
    (void)file->IconGroupOf(w9x::ResourceId::Name("TALMORIX"));
  }
  return 0;
}
