// new and delete on the process heap.  Without exceptions a failed plain new cannot be reported
// to the caller, and the program ends (abort); new (std::nothrow) returns null instead.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace std {

const nothrow_t nothrow{};

}  // namespace std

namespace {

void* Allocate(std::size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

void* AllocateOrEnd(std::size_t size) {
  void* p = Allocate(size);
  if (!p) abort();
  return p;
}

void Free(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrEnd(size); }
void* operator new[](std::size_t size) { return AllocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
