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
};

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
