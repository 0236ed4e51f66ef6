// One simulated process: its module, command line, current folder and handles.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "machine/fault_plan.h"
#include "machine/win_path.h"

namespace w9x {

// Anything a HANDLE can stand for (mutex, file, search, device).
class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

class HandleTable {
 public:
  std::uintptr_t Add(std::unique_ptr<KernelObject> object);
  template <typename T>
  T* Get(std::uintptr_t handle) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }
  // The first handle whose object is a T for which `match` holds; 0 when there is none.
  template <typename T, typename Match>
  std::uintptr_t FindIf(Match match) const {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, object] : objects_)
      if (const T* t = dynamic_cast<const T*>(object.get()); t && match(*t)) return handle;
    return 0;
  }
  bool Close(std::uintptr_t handle);
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return objects_.size();
  }

 private:
  // Every thread of the process uses the table; an object itself lives until its handle closes.
  mutable std::recursive_mutex mutex_;
  std::map<std::uintptr_t, std::unique_ptr<KernelObject>> objects_;
  std::uintptr_t next_ = 0x40;
};

class Process {
 public:
  // module_path: full Windows path of the program file; command_line: the whole command line
  // as GetCommandLineA gives it; current_dir: the process's current folder.
  Process(std::string module_path, std::string command_line, WinPath current_dir, int show = 1);

  const std::string& ModulePath() const { return module_path_; }
  // File name of the program, upper-cased ("DRUPDATE.EXE"), as the journal names processes.
  std::string Name() const;
  const std::string& CommandLine() const { return command_line_; }
  // The arguments: the command line after the program name and the blanks that follow it.
  std::string Arguments() const;
  int Show() const { return show_; }
  int Id() const { return id_; }

  const WinPath& CurrentDir() const { return current_dir_; }
  void SetCurrentDir(WinPath dir) { current_dir_ = std::move(dir); }

  HandleTable& Handles() { return handles_; }
  // The calls this process must fail (tests, `w9x run --fail`).
  FaultPlan& Faults() { return faults_; }

  // State that a system library keeps per process (the window system), made on first use.
  class Extension {
   public:
    virtual ~Extension() = default;
  };
  template <typename T>
  T& Ext() {
    std::lock_guard lock(extension_mutex_);
    if (!extension_) extension_ = std::make_unique<T>();
    return static_cast<T&>(*extension_);
  }
  // Ends the extension's life early (before the process object goes), e.g. to stop its threads.
  void ResetExtension() {
    std::unique_ptr<Extension> gone;
    {
      std::lock_guard lock(extension_mutex_);
      gone = std::move(extension_);
    }
  }
  ~Process() { ResetExtension(); }

 private:
  std::mutex extension_mutex_;
  std::unique_ptr<Extension> extension_;
  std::string module_path_;
  std::string command_line_;
  WinPath current_dir_;
  int show_;
  int id_;
  HandleTable handles_;
  FaultPlan faults_;
};

}  // namespace w9x
