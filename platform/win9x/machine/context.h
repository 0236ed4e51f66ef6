// The single accessor through which our Win32 functions reach the machine and the process they
// run in.  The loader installs both for a program's whole life; a test installs a temporary
// machine for the duration of one test.
#pragma once

#include "machine/machine.h"
#include "machine/process.h"

namespace w9x {

bool HasContext();
Machine& CurrentMachine();
Process& CurrentProcess();

// Installs a machine and a process until destroyed; the previous ones (if any) come back then.
class ScopedContext {
 public:
  ScopedContext(Machine& machine, Process& process);
  ~ScopedContext();
  ScopedContext(const ScopedContext&) = delete;
  ScopedContext& operator=(const ScopedContext&) = delete;

 private:
  Machine* previous_machine_;
  Process* previous_process_;
};

}  // namespace w9x
