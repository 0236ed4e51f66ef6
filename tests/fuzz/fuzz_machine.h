// What the fuzz targets that run code on the simulated platform share: one machine for the whole
// run, installed as the current one, and a check that stops the run with a message.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "machine/context.h"
#include "machine/presets.h"

namespace fuzzing {

namespace fs = std::filesystem;

inline void Check(bool ok, const char* target, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
  }
}

class FuzzMachine {
 public:
  // A win98se machine; `prepare` may add to the image before it is opened.  The process runs
  // `module_path` with C:\ as its current folder.
  FuzzMachine(const std::string& tag, const char* module_path,
              const std::function<void(const fs::path&)>& prepare = {}) {
    // Inputs rewrite files again and again: a memory-backed folder keeps that cheap.
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    root_ = base / (tag + "-" + std::to_string(getpid()));
    fs::remove_all(root_, ec);
    w9x::CreateMachineImage(root_, "win98se");
    if (prepare) prepare(root_);
    machine_ = std::make_unique<w9x::Machine>(root_);
    process_ = std::make_unique<w9x::Process>(module_path, module_path, *w9x::ParseFullPath("C:\\"));
    context_ = std::make_unique<w9x::ScopedContext>(*machine_, *process_);
  }
  ~FuzzMachine() {
    context_.reset();
    process_.reset();
    machine_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  const fs::path& Root() const { return root_; }
  w9x::Machine& Machine() { return *machine_; }

 private:
  fs::path root_;
  std::unique_ptr<w9x::Machine> machine_;
  std::unique_ptr<w9x::Process> process_;
  std::unique_ptr<w9x::ScopedContext> context_;
};

}  // namespace fuzzing
