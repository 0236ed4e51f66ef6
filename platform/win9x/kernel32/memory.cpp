// Global memory blocks.
//
// A block belongs to the process, like its other handles.  A moveable block is reached through
// its handle and shows its address only while locked; a fixed block's handle is its address.
// Contents are always zero-filled where nothing was written (new blocks and the growth of a
// reallocated one), so no byte a program reads is ever uninitialised.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

// Windows 9x hands out no block of 2 GB or more.
constexpr SIZE_T kLargestBlock = 0x7FFFFFFF;

class GlobalBlock : public KernelObject {
 public:
  bool fixed = false;
  std::unique_ptr<char[]> data;  // null for a moveable block of size 0
  SIZE_T size = 0;
  SIZE_T capacity = 0;
  unsigned locks = 0;

  // Resizes keeping the content as far as it goes; growth is zero-filled.  Storage grows
  // geometrically, so that a block grown step by step is not copied at every step.  False (and
  // the block unchanged) when memory is short.
  bool Reallocate(SIZE_T bytes) {
    if (bytes == 0 && !fixed) {
      data.reset();
      size = capacity = 0;
      return true;
    }
    if (bytes > capacity || !data) {
      // A fixed block keeps an address even at size 0.
      const SIZE_T room = std::max<SIZE_T>({bytes, 1, std::min(kLargestBlock, capacity + capacity / 2)});
      std::unique_ptr<char[]> fresh(new (std::nothrow) char[room]());
      if (!fresh) return false;
      if (data) std::memcpy(fresh.get(), data.get(), std::min(size, bytes));
      data = std::move(fresh);
      capacity = room;
    } else if (bytes > size) {
      std::memset(data.get() + size, 0, bytes - size);
    }
    size = bytes;
    return true;
  }
};

HandleTable& Handles() { return CurrentProcess().Handles(); }

template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

// The block behind a handle as GlobalAlloc gave it; `id` receives its entry in the table.
GlobalBlock* BlockOf(HGLOBAL memory, std::uintptr_t* id = nullptr) {
  if (!memory) return nullptr;
  auto value = reinterpret_cast<std::uintptr_t>(memory);
  GlobalBlock* block = Handles().Get<GlobalBlock>(value);
  if (!block || block->fixed) {
    value = Handles().FindIf<GlobalBlock>([&](const GlobalBlock& b) { return b.fixed && b.data.get() == memory; });
    block = value ? Handles().Get<GlobalBlock>(value) : nullptr;
  }
  if (block && id) *id = value;
  return block;
}

HGLOBAL HandleOf(const GlobalBlock& block, std::uintptr_t id) {
  return block.fixed ? static_cast<HGLOBAL>(block.data.get()) : reinterpret_cast<HGLOBAL>(id);
}

}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (auto error = api::InjectedFault("GlobalAlloc")) return Fail<HGLOBAL>(*error, nullptr);
  if (bytes > kLargestBlock) return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  auto block = std::make_unique<GlobalBlock>();
  block->fixed = (flags & GMEM_MOVEABLE) == 0;
  if (!block->Reallocate(bytes)) return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  GlobalBlock& kept = *block;
  return HandleOf(kept, Handles().Add(std::move(block)));
}

HGLOBAL WINAPI GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags) {
  std::uintptr_t id = 0;
  GlobalBlock* block = BlockOf(memory, &id);
  if (!block) return Fail<HGLOBAL>(ERROR_INVALID_HANDLE, nullptr);
  if (auto error = api::InjectedFault("GlobalReAlloc")) return Fail<HGLOBAL>(*error, nullptr);
  if (bytes > kLargestBlock) return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  // A fixed or locked block keeps its address unless the caller lets it move.
  const bool may_move = (flags & GMEM_MOVEABLE) != 0 || (!block->fixed && block->locks == 0);
  if (!may_move) {
    if (bytes > block->size) return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    block->size = bytes;  // shrunk in place
    return memory;
  }
  if (!block->Reallocate(bytes)) return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
  return HandleOf(*block, id);
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (!block) return Fail<LPVOID>(ERROR_INVALID_HANDLE, nullptr);
  if (block->fixed) return block->data.get();
  if (!block->data) return Fail<LPVOID>(ERROR_DISCARDED, nullptr);
  ++block->locks;
  return block->data.get();
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (!block) return Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
  if (block->fixed || block->locks == 0) return Fail<BOOL>(ERROR_NOT_LOCKED, FALSE);
  // Non-zero while the block stays locked; zero with no error once the last lock is gone.
  if (--block->locks > 0) return TRUE;
  return Fail<BOOL>(NO_ERROR, FALSE);
}

HGLOBAL WINAPI GlobalHandle(LPCVOID address) {
  if (!address) return Fail<HGLOBAL>(ERROR_INVALID_HANDLE, nullptr);
  std::uintptr_t id =
      Handles().FindIf<GlobalBlock>([&](const GlobalBlock& b) { return b.data && b.data.get() == address; });
  if (!id) return Fail<HGLOBAL>(ERROR_INVALID_HANDLE, nullptr);
  return HandleOf(*Handles().Get<GlobalBlock>(id), id);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
  if (!memory) return nullptr;
  std::uintptr_t id = 0;
  if (!BlockOf(memory, &id)) return Fail<HGLOBAL>(ERROR_INVALID_HANDLE, memory);
  Handles().Close(id);
  return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL memory) {
  GlobalBlock* block = BlockOf(memory);
  if (!block) return Fail<SIZE_T>(ERROR_INVALID_HANDLE, 0);
  return block->size;
}
