// Named mutexes, shared by every process running on the machine.
#include "kernel32/api_support.h"

using namespace w9x;

namespace {

class MutexObject : public KernelObject {
 public:
  explicit MutexObject(std::unique_ptr<NamedMutexHandle> named) : named_(std::move(named)) {}

 private:
  std::unique_ptr<NamedMutexHandle> named_;  // null for an unnamed mutex
};

}  // namespace

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCSTR name) {
  bool existed = false;
  std::unique_ptr<NamedMutexHandle> named;
  if (name && *name) {
    named = CurrentMachine().Shared().OpenMutex(name, existed);
    if (!named) {
      SetLastError(ERROR_ACCESS_DENIED);
      api::Record("CreateMutexA", {{"name", api::Utf8(name)}, {"result", false}});
      return nullptr;
    }
  }
  api::Record("CreateMutexA", {{"name", api::Utf8(name)}, {"initial_owner", initial_owner != FALSE},
                               {"already_exists", existed}});
  HANDLE h = reinterpret_cast<HANDLE>(CurrentProcess().Handles().Add(std::make_unique<MutexObject>(std::move(named))));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  return h;
}

BOOL WINAPI ReleaseMutex(HANDLE h) {
  if (!CurrentProcess().Handles().Get<MutexObject>(reinterpret_cast<std::uintptr_t>(h))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD) {
  if (!CurrentProcess().Handles().Get<KernelObject>(reinterpret_cast<std::uintptr_t>(h))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WAIT_OBJECT_0;
}
