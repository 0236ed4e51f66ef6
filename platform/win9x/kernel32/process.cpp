// Starting programs: WinExec.
//
// The program of a command line is looked for as Windows does: for a line without quotes, each
// prefix that ends at a blank is tried in turn, shortest first, so that "C:\MY KIT\SETUP.EXE /Q"
// tries "C:\MY", then "C:\MY KIT\SETUP.EXE".  A name without an extension gets ".EXE".  A name
// with a folder is taken as given (relative names from the current folder); a bare name is
// looked for in the current folder, the Windows folder and its SYSTEM folder.
//
// A program found that is one of the kit's own is started as a new simulated process on the same
// machine (the host build of that program), which runs on its own: nothing waits for it here.
// Any other file (the setup components RUNDLL.EXE and RUNDLL32.EXE among them) is only a
// stand-in on the machine: its start is recorded and reported as done.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel32/api_support.h"
#include "machine/program_start.h"

using namespace w9x;

namespace {

// Results of WinExec: above 31 the program was started.
constexpr UINT kStarted = 33;
constexpr UINT kNotFound = ERROR_FILE_NOT_FOUND;
constexpr UINT kCannotRun = ERROR_BAD_FORMAT;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Position after the last folder separator of a name, or 0.
std::size_t LeafStart(std::string_view name) {
  std::size_t leaf = 0;
  for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i))
    if (name[i] == '\\' || name[i] == '/' || name[i] == ':') leaf = i + 1;
  return leaf;
}

// The path with each name spelled as on the disk (names match ignoring case).
WinPath AsOnDisk(WinPath path, fs::path host) {
  for (std::size_t i = path.parts.size(); i-- > 0; host = host.parent_path())
    if (auto name = FileSystem::WindowsName(host.filename())) path.parts[i] = *name;
  return path;
}

// The existing file that a program name stands for.
std::optional<WinPath> FindProgram(std::string name) {
  const std::size_t leaf = LeafStart(name);
  if (text::Find(std::string_view(name).substr(leaf), '.') == std::string_view::npos) name += ".EXE";

  const WinPath& windows = CurrentMachine().WindowsDir();
  std::vector<WinPath> folders = {CurrentProcess().CurrentDir()};
  if (leaf == 0) {
    folders.push_back(windows);
    folders.push_back(windows.Child("SYSTEM"));
  }
  for (const WinPath& folder : folders) {
    auto path = ResolvePath(folder, name);
    if (!path || path->IsRoot()) continue;
    if (auto entry = api::Lookup(*path); entry && !entry->is_folder) return AsOnDisk(*path, entry->host);
  }
  return std::nullopt;
}

// The program that a command line starts, by the rules above.
std::optional<WinPath> ProgramOf(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  line.remove_prefix(start);
  if (line.empty()) return std::nullopt;
  if (line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    return FindProgram(std::string(line.substr(1, close - 1)));
  }
  for (std::size_t i = 0;; i += text::CharLength(line, i)) {
    const bool end = i == line.size();
    if ((end || IsBlank(line[i])) && i > 0 && !IsBlank(line[i - 1])) {
      if (auto found = FindProgram(std::string(line.substr(0, i)))) return found;
    }
    if (end) return std::nullopt;
  }
}

// Starts one of the kit's programs as a new process of this machine, in the caller's current
// folder; false when its host build cannot be started.
bool StartDeliverable(const WinPath& program, const std::string& executable, const char* command_line, UINT show) {
  Machine& machine = CurrentMachine();
  const fs::path& bin_dir = machine.RunSession().Settings().bin_dir;
  if (bin_dir.empty()) return false;
  ProgramStart start{bin_dir / executable, machine.Root(), program.ToString(), command_line,
                     CurrentProcess().CurrentDir(), static_cast<int>(show)};
  return StartProgram(start) > 0;
}

}  // namespace

UINT WINAPI WinExec(LPCSTR command_line, UINT show) {
  // A failed start gives its error as the result; one that does not fit below 32 reads as 0, out
  // of resources.
  std::optional<DWORD> fault = api::InjectedFault("WinExec");
  std::optional<WinPath> program = command_line && !fault ? ProgramOf(command_line) : std::nullopt;
  UINT result = fault ? (*fault < 32 ? static_cast<UINT>(*fault) : 0u) : kNotFound;
  if (program) {
    auto executable = DeliverableExecutable(program->Leaf());
    result = !executable || StartDeliverable(*program, *executable, command_line, show) ? kStarted : kCannotRun;
  }
  api::Record("WinExec", {{"command_line", api::Utf8(command_line)},
                          {"show", show},
                          {"program", api::Utf8(program ? program->ToString().c_str() : nullptr)},
                          {"result", result}});
  return result;
}
