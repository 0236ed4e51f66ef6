// Starting a simulated program: a host process running our host build of a deliverable on the
// same machine image.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "machine/win_path.h"

namespace w9x {

namespace fs = std::filesystem;

// Host executable of a deliverable, by the Windows file name of the program ("DRUPDATE.EXE",
// any case); nullopt for a file that is not one of ours.
std::optional<std::string> DeliverableExecutable(std::string_view windows_file_name);

struct ProgramStart {
  fs::path executable;       // host build of the program
  fs::path machine_root;
  std::string module_path;   // Windows path of the program file (code page 932)
  std::string command_line;  // as GetCommandLineA gives it (code page 932)
  WinPath current_dir;
  int show = 1;
};

// The arguments the loader of a host program takes.
std::vector<std::string> LoaderArguments(const ProgramStart& start);

// Starts the program as a child process; its host pid, or -1 when it could not be started.
// Standard input and output are shared with the caller, nothing else.
int StartProgram(const ProgramStart& start);

}  // namespace w9x
