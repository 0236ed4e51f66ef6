#include "machine/context.h"

#include <cstdio>
#include <cstdlib>

namespace w9x {
namespace {

Machine* g_machine = nullptr;
Process* g_process = nullptr;

[[noreturn]] void NoContext() {
  std::fputs("w9x: a Windows function was called with no machine installed\n", stderr);
  std::abort();
}

}  // namespace

bool HasContext() { return g_machine && g_process; }

Machine& CurrentMachine() {
  if (!g_machine) NoContext();
  return *g_machine;
}

Process& CurrentProcess() {
  if (!g_process) NoContext();
  return *g_process;
}

ScopedContext::ScopedContext(Machine& machine, Process& process)
    : previous_machine_(g_machine), previous_process_(g_process) {
  g_machine = &machine;
  g_process = &process;
}

ScopedContext::~ScopedContext() {
  g_machine = previous_machine_;
  g_process = previous_process_;
}

}  // namespace w9x
