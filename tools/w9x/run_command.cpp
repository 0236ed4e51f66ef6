#include "run_command.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <signal.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <variant>

#include "boot_command.h"
#include "machine/host_file.h"
#include "machine/journal.h"
#include "machine/messenger.h"
#include "machine/machine.h"
#include "machine/program_start.h"
#include "machine/text.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

int RunnerError(const std::string& message) {
  std::fprintf(stderr, "w9x: %s\n", message.c_str());
  return kRunnerError;
}

// Temporary files of atomic writes that a killed process left behind, anywhere in the machine
// image but its runtime folder, and runtime folders whose removal was cut short.  Only called
// while no process runs on the machine.
void RemoveStaleTemporaries(const fs::path& machine_root) {
  std::error_code ec;
  std::vector<fs::path> stale;
  for (auto it = fs::recursive_directory_iterator(machine_root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().native();
    if (it.depth() == 0 && name.starts_with(".w9x-gone-")) {  // a runtime folder being removed
      stale.push_back(it->path());
      it.disable_recursion_pending();
      continue;
    }
    if (it.depth() == 0 && name == ".w9x") {
      it.disable_recursion_pending();
      continue;
    }
    if (name.starts_with(".w9x-tmp-") && it->is_regular_file(ec)) stale.push_back(it->path());
  }
  for (const fs::path& file : stale) fs::remove_all(file, ec);
}

// Every run on the machine holds this lock shared; the last one to end folds the registry's
// change log into registry.reg and removes the runtime folder (unless it keeps the machine up for
// a program it started), and the first to start removes what killed processes left and folds
// the log a killed run left.  Ok() is false (with the reason in Problem()) when the
// runtime folder cannot be made.
class ActiveRun {
 public:
  ActiveRun(const fs::path& runtime, const fs::path& machine_root, bool keep = false)
      : runtime_(runtime), machine_root_(machine_root), keep_(keep) {
    for (;;) {
      std::error_code ec;
      fs::create_directories(runtime_ / "sessions", ec);
      if (ec) {
        problem_ = ec.message();
        return;
      }
      fd_ = open((runtime_ / "active").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (fd_ < 0 && errno == ENOENT) continue;  // the last run removed the folder meanwhile
      if (fd_ < 0) {
        problem_ = std::strerror(errno);
        return;
      }
      flock(fd_, LOCK_SH);
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {  // no other run on the machine
        if (Current()) {
          RemoveStaleTemporaries(machine_root);
          RegistryStore::FoldMachine(machine_root, runtime_ / "registry.lock");
        }
      }
      // A lock that fails to become exclusive is dropped, not kept shared: take it again.  A
      // run that ended in between may have removed the folder; Current() below sees that.
      flock(fd_, LOCK_SH);
      // A run that ended meanwhile may have removed the folder: start again on a fresh one.
      if (Current()) return;
      close(fd_);
    }
  }
  ~ActiveRun() {
    if (fd_ < 0) return;
    if (!keep_ && flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      RegistryStore::FoldMachine(machine_root_, runtime_ / "registry.lock");
      // The folder is moved aside in one step before it is emptied: a run starting meanwhile
      // then makes a fresh one instead of having its files removed under it.
      const fs::path gone = runtime_.parent_path() / (".w9x-gone-" + std::to_string(getpid()));
      std::error_code ec;
      fs::remove_all(rename(runtime_.c_str(), gone.c_str()) == 0 ? gone : runtime_, ec);
    }
    close(fd_);
  }
  ActiveRun(const ActiveRun&) = delete;
  ActiveRun& operator=(const ActiveRun&) = delete;

  bool Ok() const { return fd_ >= 0; }
  // True while the lock file held is the one in the runtime folder.
  bool Current() const {
    struct stat held {}, now {};
    return fstat(fd_, &held) == 0 && stat((runtime_ / "active").c_str(), &now) == 0 && held.st_ino == now.st_ino;
  }
  const std::string& Problem() const { return problem_; }

  // A descriptor on the held lock for a program that keeps the machine up after the run
  // (`w9x start`): the lock stays held while the program or the programs it starts run.
  int Inheritable() const { return fd_ < 0 ? -1 : dup(fd_); }

 private:
  fs::path runtime_;
  fs::path machine_root_;
  bool keep_;
  int fd_ = -1;
  std::string problem_;
};

int WaitFor(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kRunnerError;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    std::fprintf(stderr, "w9x: the program was ended by signal %d\n", WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return kRunnerError;
}

// Programs the run's program started (WinExec) are adopted by this process when their parent
// ends: the run is over when every one of them is.
void WaitForAllDescendants() {
  for (;;) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0) return;
  }
}

}  // namespace

namespace {

struct Prepared {
  fs::path host_executable;
  std::string program;       // code page 932
  WinPath program_path;
  std::string command_line;  // code page 932
  std::vector<std::pair<std::string, int>> windows;  // launcher windows: title, query answer
  std::vector<FaultSpec> faults;                     // --fail
  fs::path machine_root;
};

// Checks the machine and the program as a run needs them; a runner error's exit code otherwise.
std::variant<Prepared, int> Prepare(const RunOptions& o) {
  auto program = text::ToCp932(o.program);
  auto program_path = program ? ParseFullPath(*program) : std::nullopt;
  if (!program_path || program_path->IsRoot())
    return RunnerError("PROGRAM must be a full Windows path such as C:\\KIT\\DRUPDATE.EXE, got '" + o.program + "'");

  std::unique_ptr<Machine> probe;
  try {
    probe = std::make_unique<Machine>(o.machine);
  } catch (const MachineError& e) {
    return RunnerError(e.what());
  }
  auto host_program = probe->Files().Find(*program_path);
  if (!host_program || !fs::is_regular_file(*host_program))
    return RunnerError("no file " + o.program + " on the machine " + o.machine.string());
  auto executable = DeliverableExecutable(program_path->Leaf());
  if (!executable)
    return RunnerError(o.program + " is not one of the kit's programs (DRUPDATE.EXE, TALMORIX.EXE, CFGSYSFIX.EXE, DISPFIX.EXE)");
  Prepared p;
  p.host_executable = o.bin_dir / *executable;
  if (access(p.host_executable.c_str(), X_OK) != 0)
    return RunnerError("the host build of " + program_path->Leaf() + " is missing: " + p.host_executable.string());

  p.command_line = *program;
  for (const std::string& arg : o.arguments) {
    auto a = text::ToCp932(arg);
    if (!a) return RunnerError("argument '" + arg + "' has no code page 932 form");
    p.command_line += " " + *a;
  }
  for (std::string title : o.windows) {
    int answer = 1;
    // TITLE:refuse makes a window that refuses a non-forced end of the session.
    if (title.size() > 7 && title.compare(title.size() - 7, 7, ":refuse") == 0) {
      title.resize(title.size() - 7);
      answer = 0;
    }
    auto t = text::ToCp932(title);
    if (!t) return RunnerError("window title '" + title + "' has no code page 932 form");
    p.windows.emplace_back(*t, answer);
  }
  for (const std::string& input : o.window_input) {
    if (input.rfind("menu:", 0) == 0) {
      const std::string id = input.substr(5);
      std::uint32_t n = 0;
      if (!ParseNumber(id, n) || n > 0xFFFF) return RunnerError("--menu takes a command id (0 to 65535), got '" + id + "'");
    }
  }
  for (const std::string& text : o.faults) {
    std::string problem;
    auto spec = ParseFaultSpec(text, problem);
    if (!spec) return RunnerError(problem);
    p.faults.push_back(*spec);
  }
  if (!o.journal.empty()) {
    int fd = open(o.journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return RunnerError("cannot write the journal " + o.journal.string() + ": " + std::strerror(errno));
    close(fd);
  }
  p.program = *program;
  p.program_path = *program_path;
  p.machine_root = probe->Root();
  return p;
}

SessionSettings SettingsOf(const RunOptions& o) {
  SessionSettings settings;
  settings.journal = o.journal.empty() ? fs::path() : fs::absolute(o.journal);
  settings.answers = o.answers;
  settings.menu = o.menu;
  settings.window_input = o.window_input;
  settings.fast = o.fast;
  settings.interactive = o.answers.empty() && isatty(STDIN_FILENO);
  settings.bin_dir = fs::absolute(o.bin_dir);
  return settings;
}

// The --window windows belong to the run itself, standing in for the kit's launcher.
// A journal that could not be written leaves its reason in `journal_problem`.
std::vector<std::uint32_t> CreateLauncherWindows(Runtime& runtime, const Prepared& p, const SessionSettings& settings,
                                                 std::string& journal_problem) {
  auto journal = settings.journal.empty() ? std::make_unique<Journal>()
                                          : std::make_unique<Journal>(settings.journal, "LAUNCHER", getpid());
  std::vector<std::uint32_t> windows;
  for (const auto& [title, answer] : p.windows) {
    WindowRecord record{.title = title, .visible = true, .host_pid = getpid(), .owner = "LAUNCHER", .query_answer = answer};
    std::uint32_t hwnd = runtime.CreateWindowRecord(record);
    windows.push_back(hwnd);
    journal->Record("CreateWindow", {{"hwnd", hwnd}, {"title", text::ToUtf8(title)}, {"visible", true},
                                     {"refuses_end", answer == 0}});
  }
  if (journal->Failed()) journal_problem = journal->Problem();
  return windows;
}

}  // namespace

int Run(const RunOptions& o) {
  auto prepared = Prepare(o);
  if (auto* error = std::get_if<int>(&prepared)) return *error;
  const Prepared& p = std::get<Prepared>(prepared);

  Runtime runtime(p.machine_root);
  ActiveRun active(runtime.Folder(), p.machine_root);
  if (!active.Ok())
    return RunnerError("cannot write the machine folder " + p.machine_root.string() + ": " + active.Problem());
  const std::int64_t started = static_cast<std::int64_t>(std::time(nullptr));
  SessionSettings settings = SettingsOf(o);
  settings.faults = p.faults;
  Session session = Session::Create(runtime.Folder() / "sessions" / (std::to_string(getpid()) + ".json"), settings);
  if (!ReadHostFile(session.File()))
    return RunnerError("cannot write the machine folder " + p.machine_root.string() + ": the session file " +
                       session.File().string() + " could not be written");
  setenv("W9X_SESSION", session.File().c_str(), 1);
  std::string journal_problem;
  std::vector<std::uint32_t> windows = CreateLauncherWindows(runtime, p, settings, journal_problem);

  prctl(PR_SET_CHILD_SUBREAPER, 1);
  constexpr int kShowNormal = 1;
  ProgramStart start{p.host_executable, p.machine_root, p.program, p.command_line, p.program_path.Parent(), kShowNormal};
  int pid = StartProgram(start);
  int code = pid < 0 ? RunnerError("cannot start " + p.host_executable.string()) : WaitFor(pid);
  WaitForAllDescendants();
  for (std::uint32_t hwnd : windows) runtime.DestroyWindowRecord(hwnd);
  // How the session ended, when a program of the machine ended it during this run.
  if (auto end = runtime.LastSessionEnd(); end && end->when >= started) {
    std::printf("%s\n", DescribeSessionEnd(SessionEndOf(end->flags)));
    // A restart passes through the start-up step before Windows, as `w9x boot` does.
    if (SessionEndOf(end->flags) == SessionEnd::kRestart) {
      try {
        Machine machine(p.machine_root);
        auto journal = settings.journal.empty() ? std::make_unique<Journal>()
                                                : std::make_unique<Journal>(settings.journal, "WININIT", getpid());
        auto steps = ProcessWininit(machine, *journal);
        std::ostringstream report;
        if (!steps.empty()) PrintSteps(steps, report);
        std::fputs(report.str().c_str(), stdout);
      } catch (const std::exception& e) {
        return RunnerError(std::string("restart: ") + e.what());
      }
    }
  }
  std::fflush(stdout);
  // What a user of a dry run must see without reading the journal: the writes that failed.
  std::vector<std::string> failed = session.FailedWrites();
  if (!failed.empty()) {
    std::string line = std::to_string(failed.size()) + (failed.size() == 1 ? " write" : " writes") + " failed:";
    for (std::size_t i = 0; i < failed.size(); ++i) line += (i ? ", " : " ") + failed[i];
    std::fprintf(stderr, "w9x: %s\n", line.c_str());
  }
  if (!journal_problem.empty())
    return RunnerError("cannot write the journal " + settings.journal.string() + ": " + journal_problem);
  return code;
}

int Start(const RunOptions& o) {
  auto prepared = Prepare(o);
  if (auto* error = std::get_if<int>(&prepared)) return *error;
  const Prepared& p = std::get<Prepared>(prepared);

  Runtime runtime(p.machine_root);
  ActiveRun active(runtime.Folder(), p.machine_root, /*keep=*/true);
  if (!active.Ok())
    return RunnerError("cannot write the machine folder " + p.machine_root.string() + ": " + active.Problem());
  SessionSettings settings = SettingsOf(o);
  settings.faults = p.faults;
  settings.interactive = false;  // nobody is at the terminal once `start` has returned
  // The session outlives this command: the program keeps reading it.
  fs::path session_file = runtime.Folder() / "sessions" / (std::to_string(getpid()) + ".json");
  { Session::Create(session_file, settings).Release(); }
  setenv("W9X_SESSION", session_file.c_str(), 1);
  std::string journal_problem;
  CreateLauncherWindows(runtime, p, settings, journal_problem);
  if (!journal_problem.empty())
    return RunnerError("cannot write the journal " + settings.journal.string() + ": " + journal_problem);

  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) return RunnerError("cannot start " + p.host_executable.string());
  const int lock_fd = active.Inheritable();  // without close-on-exec: the program inherits it
  const int write_fd = dup(ready[1]);        // likewise
  close(ready[1]);
  setenv("W9X_START_FD", std::to_string(write_fd).c_str(), 1);
  constexpr int kShowNormal = 1;
  ProgramStart start{p.host_executable, p.machine_root, p.program, p.command_line, p.program_path.Parent(), kShowNormal};
  int pid = StartProgram(start);
  close(write_fd);
  if (lock_fd >= 0) close(lock_fd);
  if (pid < 0) {
    close(ready[0]);
    return RunnerError("cannot start " + p.host_executable.string());
  }
  char c = 0;
  ssize_t n;
  do {
    n = read(ready[0], &c, 1);
  } while (n < 0 && errno == EINTR);
  close(ready[0]);
  if (n == 1) {
    std::printf("w9x: %s runs on (pid %d)\n", o.program.c_str(), pid);
    return 0;
  }
  return WaitFor(pid);  // it ended before waiting for input
}

namespace {

// True while the host process runs; a zombie (ended, not yet reaped by whoever inherited it)
// holds nothing any more and counts as gone.
bool HostProcessAlive(int pid) {
  if (kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

}  // namespace

int Stop(const fs::path& machine) {
  std::unique_ptr<Machine> probe;
  try {
    probe = std::make_unique<Machine>(machine);
  } catch (const MachineError& e) {
    return RunnerError(e.what());
  }
  Runtime& runtime = probe->Shared();
  std::vector<int> pids;
  for (auto& [pid, name] : runtime.Processes()) pids.push_back(pid);
  // As a forced shutdown: every window hears that the session ends, then its process ends.
  for (const WindowRecord& w : runtime.Windows()) {
    Messenger::Ask(w.host_pid, {{"op", "send"}, {"hwnd", w.hwnd}, {"message", 0x0016}, {"wparam", 1}, {"lparam", 0}},
                   std::chrono::seconds(5));
  }
  for (int pid : pids)
    if (!Messenger::Ask(pid, {{"op", "end"}}, std::chrono::seconds(2))) kill(pid, SIGKILL);
  // Wait for them to be gone, then clean up the runtime folder unless a run is still active.  A
  // process drops its record before it has exited and let go of the run's lock, so wait for the
  // processes themselves too.
  for (int i = 0; i < 100 && !runtime.Processes().empty(); ++i) usleep(50000);
  for (int i = 0; i < 100 && std::any_of(pids.begin(), pids.end(), HostProcessAlive); ++i) usleep(50000);
  { ActiveRun last(runtime.Folder(), probe->Root()); }
  return 0;
}

}  // namespace w9x::tool
