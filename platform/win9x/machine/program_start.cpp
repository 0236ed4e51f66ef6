#include "machine/program_start.h"

#include <spawn.h>
#include <sys/wait.h>

#include <vector>

#include "machine/text.h"

extern char** environ;

namespace w9x {

std::optional<std::string> DeliverableExecutable(std::string_view windows_file_name) {
  static constexpr std::pair<std::string_view, std::string_view> kPrograms[] = {
      {"DRUPDATE.EXE", "drupdate"},
      {"TALMORIX.EXE", "talmorix"},
      {"CFGSYSFIX.EXE", "cfgsysfix"},
      {"DISPFIX.EXE", "dispfix"},
  };
  const std::string upper = text::Upper(windows_file_name);
  for (auto& [file, executable] : kPrograms)
    if (upper == file) return std::string(executable);
  return std::nullopt;
}

std::vector<std::string> LoaderArguments(const ProgramStart& s) {
  return {s.executable.native(),
          "--w9x-machine=" + s.machine_root.native(),
          "--w9x-module=" + s.module_path,
          "--w9x-command-line=" + s.command_line,
          "--w9x-current-dir=" + s.current_dir.ToString(),
          "--w9x-show=" + std::to_string(s.show)};
}

int StartProgram(const ProgramStart& start) {
  std::vector<std::string> args = LoaderArguments(start);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, start.executable.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

}  // namespace w9x
