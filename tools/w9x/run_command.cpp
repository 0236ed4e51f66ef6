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

#include "machine/host_file.h"
#include "machine/journal.h"
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

// Every run on the machine holds this lock shared; the last one to end removes the runtime
// folder, and the first to start removes what killed processes left.  Ok() is false (with the
// reason in Problem()) when the runtime folder cannot be made.
class ActiveRun {
 public:
  ActiveRun(const fs::path& runtime, const fs::path& machine_root) : runtime_(runtime) {
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
        if (Current()) RemoveStaleTemporaries(machine_root);
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
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
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

 private:
  fs::path runtime_;
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

int Run(const RunOptions& o) {
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
  fs::path host_executable = o.bin_dir / *executable;
  if (access(host_executable.c_str(), X_OK) != 0)
    return RunnerError("the host build of " + program_path->Leaf() + " is missing: " + host_executable.string());

  std::string command_line = *program;
  for (const std::string& arg : o.arguments) {
    auto a = text::ToCp932(arg);
    if (!a) return RunnerError("argument '" + arg + "' has no code page 932 form");
    command_line += " " + *a;
  }
  std::vector<std::string> window_titles;
  for (const std::string& title : o.windows) {
    auto t = text::ToCp932(title);
    if (!t) return RunnerError("window title '" + title + "' has no code page 932 form");
    window_titles.push_back(*t);
  }
  std::vector<FaultSpec> faults;
  for (const std::string& text : o.faults) {
    std::string problem;
    auto spec = ParseFaultSpec(text, problem);
    if (!spec) return RunnerError(problem);
    faults.push_back(*spec);
  }

  if (!o.journal.empty()) {
    int fd = open(o.journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return RunnerError("cannot write the journal " + o.journal.string() + ": " + std::strerror(errno));
    close(fd);
  }

  const fs::path machine_root = probe->Root();
  Runtime& runtime = probe->Shared();
  ActiveRun active(runtime.Folder(), machine_root);
  if (!active.Ok())
    return RunnerError("cannot write the machine folder " + machine_root.string() + ": " + active.Problem());

  SessionSettings settings;
  settings.journal = o.journal.empty() ? fs::path() : fs::absolute(o.journal);
  settings.answers = o.answers;
  settings.menu = o.menu;
  settings.fast = o.fast;
  settings.faults = std::move(faults);
  settings.interactive = o.answers.empty() && isatty(STDIN_FILENO);
  settings.bin_dir = fs::absolute(o.bin_dir);
  Session session = Session::Create(runtime.Folder() / "sessions" / (std::to_string(getpid()) + ".json"), settings);
  if (!ReadHostFile(session.File()))
    return RunnerError("cannot write the machine folder " + machine_root.string() + ": the session file " +
                       session.File().string() + " could not be written");
  setenv("W9X_SESSION", session.File().c_str(), 1);

  // The --window windows belong to the run itself, standing in for the kit's launcher.
  auto journal = settings.journal.empty() ? std::make_unique<Journal>()
                                          : std::make_unique<Journal>(settings.journal, "LAUNCHER", getpid());
  std::vector<std::uint32_t> windows;
  for (const std::string& title : window_titles) {
    WindowRecord record{.title = title, .visible = true, .host_pid = getpid(), .owner = "LAUNCHER"};
    std::uint32_t hwnd = runtime.CreateWindowRecord(record);
    windows.push_back(hwnd);
    journal->Record("CreateWindow", {{"hwnd", hwnd}, {"title", text::ToUtf8(title)}, {"visible", true}});
  }

  prctl(PR_SET_CHILD_SUBREAPER, 1);
  constexpr int kShowNormal = 1;
  ProgramStart start{host_executable, machine_root, *program, command_line, program_path->Parent(), kShowNormal};
  int pid = StartProgram(start);
  int code = pid < 0 ? RunnerError("cannot start " + host_executable.string()) : WaitFor(pid);
  WaitForAllDescendants();
  for (std::uint32_t hwnd : windows) runtime.DestroyWindowRecord(hwnd);
  // What a user of a dry run must see without reading the journal: the writes that failed.
  std::vector<std::string> failed = session.FailedWrites();
  if (!failed.empty()) {
    std::string line = std::to_string(failed.size()) + (failed.size() == 1 ? " write" : " writes") + " failed:";
    for (std::size_t i = 0; i < failed.size(); ++i) line += (i ? ", " : " ") + failed[i];
    std::fprintf(stderr, "w9x: %s\n", line.c_str());
  }
  if (journal->Failed())
    return RunnerError("cannot write the journal " + settings.journal.string() + ": " + journal->Problem());
  return code;
}

}  // namespace w9x::tool
