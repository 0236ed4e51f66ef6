// The kernel session: starts and stops the units of the simulated kernel in order.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "internal.h"

namespace wdm {
namespace {
std::atomic<bool> active{false};
}

namespace internal {

void Fatal(const char* format, ...) {
  std::fflush(stdout);
  std::fputs("wdm: fatal: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::abort();
}

bool SessionActive() { return active.load(); }

}  // namespace internal

KernelSession::KernelSession(KernelOptions options) {
  if (active.exchange(true)) internal::Fatal("a second kernel session was started while one runs");
  internal::PoolStart();
  internal::IoStart();
  internal::VxdStart();
  internal::TimersStart(options.clock);
  internal::WorkersStart(options.workers < 1 ? 1 : options.workers);
}

KernelSession::~KernelSession() {
  internal::WorkersStop();
  internal::TimersStop();
  internal::VxdStop();
  internal::IoStop();
  internal::PoolStop();
  active = false;
}

void WaitIdle() {
  for (int round = 0; round < 1000; ++round) {
    WaitForWork();
    WaitForTimers();
    WaitForWork();
    if (ArmedTimers() == 0) return;
  }
}

}  // namespace wdm
