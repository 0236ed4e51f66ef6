// What the units of the simulated kernel share among themselves.
#pragma once

#include <wdm_host.h>

namespace wdm::internal {

// A broken rule of the kernel interface (a request completed twice, a block freed twice ...):
// the run ends with this message, as a real machine would stop.
[[noreturn]] void Fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

void PoolStart();
void PoolStop();
void TimersStart(ClockMode mode);
void TimersStop();
void WorkersStart(int count);
void WorkersStop();
void IoStart();
void IoStop();
void VxdStart();
void VxdStop();
bool SessionActive();

}  // namespace wdm::internal
