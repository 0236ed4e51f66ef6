// Threads (real host threads, one per CreateThread), and the module functions a program uses to
// find an entry point at run time.
//
// A thread handle stays valid until CloseHandle, also after the thread ended; the thread itself
// runs on regardless of its handle.  While a thread runs, the window system does not count its
// process as idle (a shutdown thread may still post to the main window).
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "kernel32/api_support.h"
#include "user32/user_state.h"

using namespace w9x;

namespace {

// Shared between the handle and the running thread.
struct ThreadState {
  std::mutex mutex;
  bool done = false;
  DWORD exit_code = STILL_ACTIVE;
  DWORD id = 0;
};

class ThreadObject : public KernelObject {
 public:
  explicit ThreadObject(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}
  const std::shared_ptr<ThreadState>& State() const { return state_; }

 private:
  std::shared_ptr<ThreadState> state_;
};

bool EqualModule(LPCSTR name, const char* module) {
  std::string n = text::Upper(name);
  return n == module || n == std::string(module) + ".DLL";
}

// Module handles of the system libraries, at the places Windows 9x loads them.
constexpr std::uintptr_t kKernel32 = 0xBFF70000, kUser32 = 0xBFF50000, kAdvapi32 = 0xBFEC0000;

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                           DWORD flags, LPDWORD thread_id) {
  if (!start || (flags & CREATE_SUSPENDED)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    api::Record("CreateThread", {{"result", false}});
    return nullptr;
  }
  if (auto error = api::InjectedFault("CreateThread")) {
    SetLastError(*error);
    api::Record("CreateThread", {{"result", false}, {"error", *error}});
    return nullptr;
  }
  auto state = std::make_shared<ThreadState>();
  user32::UserState& user = user32::User();
  user.running_threads++;
  std::mutex started_mutex;
  std::condition_variable started;
  bool have_id = false;
  try {
    std::thread([state, start, parameter, &user, &started_mutex, &started, &have_id] {
      {
        std::lock_guard lock(started_mutex);
        state->id = user32::CurrentThreadId();
        have_id = true;
      }
      started.notify_all();
      DWORD code = start(parameter);
      {
        std::lock_guard lock(state->mutex);
        state->done = true;
        state->exit_code = code;
      }
      user.ThreadEnded();
    }).detach();
  } catch (const std::system_error&) {
    user.running_threads--;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    api::Record("CreateThread", {{"result", false}});
    return nullptr;
  }
  {
    std::unique_lock lock(started_mutex);
    started.wait(lock, [&] { return have_id; });
  }
  if (thread_id) *thread_id = state->id;
  api::Record("CreateThread", {{"thread", state->id}, {"result", true}});
  return reinterpret_cast<HANDLE>(CurrentProcess().Handles().Add(std::make_unique<ThreadObject>(state)));
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
  auto* t = CurrentProcess().Handles().Get<ThreadObject>(reinterpret_cast<std::uintptr_t>(h));
  if (!t || !code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard lock(t->State()->mutex);
  *code = t->State()->exit_code;
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return user32::CurrentThreadId(); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(CurrentProcess().Id()); }

DWORD WINAPI GetVersion(void) {
  const MachineConfig& c = CurrentMachine().Config();
  // Low byte major, next byte minor; the high word is the build number on NT, and on the other
  // platforms bit 31 set (with the build in the remaining bits on Windows 9x).
  DWORD v = (c.major & 0xFF) | ((c.minor & 0xFF) << 8);
  if (c.platform == VER_PLATFORM_WIN32_NT) return v | ((c.build & 0x7FFF) << 16);
  return v | 0x80000000u | ((c.build & 0x7FFF) << 16);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
  if (EqualModule(name, "KERNEL32")) return reinterpret_cast<HMODULE>(kKernel32);
  if (EqualModule(name, "USER32")) return reinterpret_cast<HMODULE>(kUser32);
  if (EqualModule(name, "ADVAPI32")) return reinterpret_cast<HMODULE>(kAdvapi32);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  // Only the entries the programs look up at run time are exported by name here.
  struct Entry {
    std::uintptr_t module;
    const char* name;
    FARPROC proc;
  };
  static const Entry kEntries[] = {
      {kUser32, "RegisterClassExA", reinterpret_cast<FARPROC>(&RegisterClassExA)},
      {kUser32, "RegisterClassA", reinterpret_cast<FARPROC>(&RegisterClassA)},
      {kUser32, "ExitWindowsEx", reinterpret_cast<FARPROC>(&ExitWindowsEx)},
      {kKernel32, "GetVersionExA", reinterpret_cast<FARPROC>(&GetVersionExA)},
  };
  const auto m = reinterpret_cast<std::uintptr_t>(module);
  if (name && !IS_INTRESOURCE(name)) {
    for (const Entry& e : kEntries)
      if (e.module == m && std::strcmp(e.name, name) == 0) return e.proc;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}
