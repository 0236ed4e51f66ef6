// What the processes running on one machine image share while they run: the runtime folder
// MACHINE/.w9x/, with named mutexes (locked files, released by the kernel when their process
// ends, even by a crash), top-level window records and the sessions of the runs in progress.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace w9x {

namespace fs = std::filesystem;

// An open handle on a named mutex: the mutex exists while any process holds such a handle.
class NamedMutexHandle {
 public:
  explicit NamedMutexHandle(int fd) : fd_(fd) {}
  ~NamedMutexHandle();
  NamedMutexHandle(const NamedMutexHandle&) = delete;
  NamedMutexHandle& operator=(const NamedMutexHandle&) = delete;

 private:
  int fd_;
};

struct WindowRecord {
  std::uint32_t hwnd = 0;
  std::string title;       // code page 932
  std::string class_name;  // code page 932
  bool visible = false;
  int host_pid = 0;        // the process that owns the window
  std::string owner;       // its program name, for the journal
  // A window of a process without a socket (the launcher's windows of `w9x run --window`)
  // answers WM_QUERYENDSESSION with this; -1: ask the owning process.
  int query_answer = -1;
};

// How a Windows session ended (ExitWindowsEx), as the run reports it.
enum class SessionEnd { kLogOff, kShutdown, kPowerOff, kRestart };
// The kind of end a flag word of ExitWindowsEx asks for.
SessionEnd SessionEndOf(std::uint32_t flags);
// One line for the user: "Windows was shut down and switched off", ...
const char* DescribeSessionEnd(SessionEnd end);

class Runtime {
 public:
  explicit Runtime(fs::path machine_root);

  fs::path Folder() const { return folder_; }

  // Opens (creating when needed) the mutex of that name; `existed` tells whether another handle
  // on it was open, in this process or another.  Names are case-sensitive, as on Windows.
  std::unique_ptr<NamedMutexHandle> OpenMutex(const std::string& name, bool& existed);

  // Top-level windows of every process on the machine.
  std::uint32_t CreateWindowRecord(WindowRecord record);
  std::optional<WindowRecord> ReadWindow(std::uint32_t hwnd);
  bool WriteWindow(const WindowRecord& record);
  void DestroyWindowRecord(std::uint32_t hwnd);
  // Windows of live processes, in creation order.
  std::vector<WindowRecord> Windows();
  // Removes the records of the windows of a host process (when it ends).
  void DestroyWindowsOf(int host_pid);

  // Processes running on the machine: each registers itself while it runs.
  void RegisterProcess(int host_pid, const std::string& name);
  void UnregisterProcess(int host_pid);
  // Live processes by host pid, with their names.
  std::vector<std::pair<int, std::string>> Processes();

  // The session end of the machine, recorded by ExitWindowsEx for the runs to report: the flag
  // word and when (seconds since the epoch, host clock).
  void RecordSessionEnd(std::uint32_t flags);
  struct SessionEndRecord {
    std::uint32_t flags = 0;
    std::int64_t when = 0;
  };
  std::optional<SessionEndRecord> LastSessionEnd();

 private:
  fs::path Ensure(const char* sub);
  fs::path folder_;
};

// An exclusive lock on a file, held for the life of the object.
class FileLock {
 public:
  explicit FileLock(const fs::path& file);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace w9x
