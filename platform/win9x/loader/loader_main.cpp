// The entry of every host deliverable: opens the machine image named by `w9x run` (or by the
// process that started this one), sets up the simulated process and calls the program's WinMain.
#include <windows.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "machine/context.h"
#include "machine/text.h"
#include "user32/terminal_front_end.h"
#include "user32/user_input.h"
#include "user32/user_state.h"

using namespace w9x;

namespace {

struct Arguments {
  std::string machine, module, command_line, current_dir;
  int show = SW_SHOWNORMAL;
};

bool Take(const char* arg, const char* name, std::string& out) {
  std::size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0) return false;
  out = arg + n;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments a;
  std::string show;
  for (int i = 1; i < argc; ++i) {
    if (Take(argv[i], "--w9x-machine=", a.machine) || Take(argv[i], "--w9x-module=", a.module) ||
        Take(argv[i], "--w9x-command-line=", a.command_line) || Take(argv[i], "--w9x-current-dir=", a.current_dir) ||
        Take(argv[i], "--w9x-show=", show))
      continue;
    std::fprintf(stderr, "%s: unknown argument %s (this program is started by `w9x run`)\n", argv[0], argv[i]);
    return 125;
  }
  if (!show.empty()) a.show = std::atoi(show.c_str());
  auto cwd = ParseFullPath(a.current_dir);
  if (a.machine.empty() || a.module.empty() || !cwd) {
    std::fprintf(stderr, "%s: this program runs on a machine image: start it with `w9x run`\n", argv[0]);
    return 125;
  }

  // `w9x start` waits on this descriptor until the program waits for input; the programs this
  // one starts must not hold it.
  int start_fd = -1;
  if (const char* fd = std::getenv("W9X_START_FD")) {
    start_fd = std::atoi(fd);
    unsetenv("W9X_START_FD");
    if (start_fd > 2) fcntl(start_fd, F_SETFD, FD_CLOEXEC);
    else start_fd = -1;
  }

  Session session;
  if (const char* file = std::getenv("W9X_SESSION")) {
    if (auto loaded = Session::Load(file)) session = std::move(*loaded);
  }
  try {
    Machine machine(a.machine, std::move(session));
    Process process(a.module, a.command_line.empty() ? a.module : a.command_line, *cwd, a.show);
    for (const FaultSpec& f : machine.RunSession().Settings().faults) process.Faults().Fail(f.call, f.nth, f.error);
    ScopedContext context(machine, process);
    machine.OpenJournal(process.Name(), process.Id());
    machine.Shared().RegisterProcess(process.Id(), process.Name());
    user32::SetStartNotification(start_fd);
    if (machine.RunSession().Settings().interactive) user32::InstallTerminalFrontEnd();
    machine.Log().Record("ProcessStart", {{"module", text::ToUtf8(process.ModulePath())},
                                          {"command_line", text::ToUtf8(process.CommandLine())},
                                          {"current_dir", text::ToUtf8(cwd->ToString())},
                                          {"show", a.show}});
    std::string arguments = process.Arguments();
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, arguments.data(), a.show);
    machine.Log().Record("ProcessExit", {{"exit_code", code}});
    // Other threads may still run (a shutdown thread whose window is gone): the process ends
    // with its main thread, as on Windows.
    machine.Shared().DestroyWindowsOf(getpid());
    machine.Shared().UnregisterProcess(getpid());
    // The last program on the machine leaves the registry whole in registry.reg.
    if (machine.Shared().Processes().empty()) machine.Registry().Fold();
    std::fflush(nullptr);
    // A journal with lines missing is a runner error, said once the program has ended.
    if (machine.Log().Failed()) {
      std::fprintf(stderr, "w9x: cannot write the journal %s: %s\n", machine.RunSession().Settings().journal.c_str(),
                   machine.Log().Problem().c_str());
      std::fflush(stderr);
      std::_Exit(125);
    }
    std::_Exit(code);
  } catch (const MachineError& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 125;
  }
}
