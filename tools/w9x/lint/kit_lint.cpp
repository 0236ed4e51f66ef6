#include "kit_lint.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "boot_command.h"
#include "machine/context.h"
#include "machine/host_file.h"
#include "machine/ini_file.h"
#include "machine/machine.h"
#include "machine/presets.h"
#include "machine/process.h"
#include "machine/text.h"
#include "update_app.h"
#include "update_command.h"

namespace w9x::lint {
namespace {

namespace fs = std::filesystem;

constexpr int kAllKinds = kOsWin32s | kOsWin9x | kOsWin98 | kOsWinNt | kOsWin98Se;
constexpr std::size_t kValueLimit = 511;     // bytes of a value the reader sees
constexpr std::size_t kFolderLimit = 259;    // a "!" folder with its backslash, without the NUL

std::string Utf8(const char* cp932) { return cp932 ? text::ToUtf8(cp932) : std::string(); }

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string KindsText(int mask) {
  if (mask == -1) return "every Windows";
  std::string s;
  const std::pair<int, const char*> kinds[] = {{kOsWin32s, "Win32s"},
                                               {kOsWin9x, "Windows 95 (9x but 4.10)"},
                                               {kOsWin98, "Windows 98"},
                                               {kOsWinNt, "Windows NT"},
                                               {kOsWin98Se, "Windows 98 SE"}};
  for (const auto& [bit, name] : kinds)
    if (mask & bit) s += (s.empty() ? "" : ", ") + std::string(name);
  return s.empty() ? "no Windows" : s;
}

// The scratch machine the program's reader runs on, removed at the end.
class Scratch {
 public:
  explicit Scratch(const std::string& script) {
    static std::atomic<unsigned> counter{0};
    root_ = fs::temp_directory_path() / ("w9x-lint-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(root_);
    CreateMachineImage(root_, "win98se", PresetOptions{});
    fs::create_directories(root_ / "C" / "KIT");
    // "!" folders are taken only where the folder OPTIONS stands at the root of the Windows
    // drive; the scratch machine has it, so that the rest of such a line is checked too.
    fs::create_directories(root_ / "C" / "OPTIONS");
    if (!WriteHostFileAtomically(root_ / "C" / "KIT" / "DRUPDATE.INI", script))
      throw std::runtime_error("cannot write a scratch machine in " + root_.parent_path().string());
    process_ = std::make_unique<Process>("C:\\KIT\\DRUPDATE.EXE", "C:\\KIT\\DRUPDATE.EXE", *ParseFullPath("C:\\KIT"));
    SessionSettings settings;
    settings.fast = true;
    machine_ = std::make_unique<Machine>(root_, Session(settings));
    context_ = std::make_unique<ScopedContext>(*machine_, *process_);
  }
  ~Scratch() {
    context_.reset();
    machine_.reset();
    process_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

 private:
  fs::path root_;
  std::unique_ptr<Process> process_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<ScopedContext> context_;
};

std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// Finds `relative` (UTF-8, backslashes) under `kit`, each name ignoring case as Windows does.
// When it is missing, `near` gets the names of its folder that come close to the missing one.
bool FindInKit(const fs::path& kit, const std::string& relative, std::vector<std::string>& near) {
  fs::path at = kit;
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= relative.size();) {
    std::size_t end = relative.find('\\', start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) parts.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string wanted = Upper(parts[i]);
    std::error_code ec;
    std::optional<fs::path> found;
    std::vector<std::string> close;
    for (const auto& entry : fs::directory_iterator(at, ec)) {
      const std::string name = entry.path().filename().string();
      if (Upper(name) == wanted) found = entry.path();
      else if (Distance(Upper(name), wanted) <= 2) close.push_back(name);
    }
    if (!found || (i + 1 < parts.size() && !fs::is_directory(*found))) {
      near = close;
      return false;
    }
    at = *found;
  }
  return fs::is_regular_file(at);
}

std::string Join(const std::vector<std::string>& names) {
  std::string s;
  for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
  return s;
}

// The destination folder as a kit author reads it: the Windows folder by name.
std::string Destination(UpdateCommand& command) {
  if (!command.DestDir.IsEmpty()) return Utf8(command.DestDir);
  CString dir;
  if (!command.ResolveDestDir(dir)) return "?";
  std::string d = Utf8(dir);
  const std::string windows = "C:\\WINDOWS\\";
  if (command.DestDir.IsEmpty() && command.DirId != 30 && d.starts_with(windows))
    return "<Windows folder>\\" + d.substr(windows.size());
  return d;
}

int CountCommas(const std::string& cp932) {
  int n = 0;
  for (std::size_t i = 0; i < cp932.size(); i += text::CharLength(cp932, i))
    if (cp932[i] == ',') ++n;
  return n;
}

// Why a "!" folder is not to be relied on, or empty.
std::string FolderProblem(const std::string& folder_cp932) {
  const std::string shown = text::ToUtf8(folder_cp932);
  if (folder_cp932.size() + 1 > kFolderLimit)
    return "folder !" + shown + " is too long: with its backslash it must fit in 259 bytes";
  if (folder_cp932.size() < 3 || folder_cp932[1] != ':' || folder_cp932[2] != '\\')
    return "folder !" + shown + " is not a full path such as C:\\FOLDER";
  if ((folder_cp932[0] & ~0x20) != 'C')
    return "folder !" + shown + " is on drive " + folder_cp932.substr(0, 2) +
           ", which a user's machine may not have as a fixed disk (the line is then dropped)";
  return {};
}

void LintCommand(const fs::path& kit, int key, std::string value, int allowed, Report& report) {
  const std::string where = "[Command] " + std::to_string(key);
  auto problem = [&](const std::string& reason) { report.problems.push_back({where, reason}); };
  CommandMeaning meaning;
  meaning.key = key;
  meaning.text = text::ToUtf8(value);

  std::vector<char> buffer(value.begin(), value.end());
  buffer.push_back('\0');
  char* arguments = nullptr;
  meaning.kind = SplitScriptLine(buffer.data(), &arguments);
  if (meaning.kind < 0) {
    meaning.summary = "ignored: no comma";
    problem("no comma after the kind: the line is ignored");
    report.commands.push_back(meaning);
    return;
  }
  if (meaning.kind == 0) {
    meaning.summary = "ignored: kind '" + text::ToUtf8(buffer.data()) + "'";
    problem("kind '" + text::ToUtf8(buffer.data()) + "' is not 1 to 4: the line is ignored");
    report.commands.push_back(meaning);
    return;
  }
  const std::string args = arguments;
  const int commas = CountCommas(args);
  UpdateCommand command;
  if (!command.Parse(arguments)) {
    if (commas > 6) {
      meaning.summary = "rejected: more than six commas";
      problem("more than six commas after the kind: the line is rejected");
    } else {
      meaning.summary = "rejected: its '!' folder";
      std::string folder = static_cast<const char*>(command.DestDir);
      if (!folder.empty()) folder.pop_back();
      std::string why = FolderProblem(folder);
      problem(why.empty() ? "folder !" + text::ToUtf8(folder) + " cannot be created: the line is dropped" : why);
    }
    report.commands.push_back(meaning);
    return;
  }
  meaning.kept = true;

  static const char* const kVerbs[] = {"", "copy", "delete", "install/start", "rename"};
  std::string s = std::string(kVerbs[meaning.kind]) + " " + Utf8(command.FileName);
  const std::string param = Utf8(command.Param);
  const std::string dest = Destination(command);
  switch (meaning.kind) {
    case 1: s += " from " + (command.Param ? (param.starts_with("*") ? "the kit folder" : param) : "?") + " to " + dest; break;
    case 2: s += " in " + dest; break;
    case 3: s += " from " + (command.Param ? (param.starts_with("*") ? "the kit folder" : param) : "?"); break;
    case 4: s += " to " + param + " in " + dest; break;
  }
  s += "; pass " + std::to_string(command.Pass);
  s += "; " + KindsText(command.OsMask);
  s += command.KeyboardCond == 0   ? "; any keyboard"
       : command.KeyboardCond == 1 ? "; keyboard check true"
       : command.KeyboardCond == 2 ? "; keyboard check false"
                                   : "; keyboard condition " + std::to_string(command.KeyboardCond);
  const std::string pattern = static_cast<const char*>(command.ModelPattern);
  s += pattern.empty() ? "; any model" : "; model " + text::ToUtf8(pattern);
  std::vector<std::string> defaults;
  if (commas < 2) defaults.push_back("folder = Windows folder");
  if (commas < 3) defaults.push_back("pass 1");
  if (commas < 4) defaults.push_back("every Windows");
  if (commas < 5) defaults.push_back("any keyboard");
  if (commas < 6) defaults.push_back("any model");
  if (!defaults.empty()) s += " (defaults: " + Join(defaults) + ")";
  if (!command.DestDir.IsEmpty()) s += "; only where the Windows drive has the folder \\OPTIONS";
  meaning.summary = s;

  // When it runs.
  if (command.Pass != 0 && command.Pass != 1)
    problem("pass " + std::to_string(command.Pass) + " never runs: only passes 0 and 1 are run");
  if (command.OsMask != -1 && (command.OsMask & allowed) == 0)
    problem("OS mask " + std::to_string(command.OsMask) + " matches no Windows kind the script's Target allows (" +
            KindsText(allowed) + "): the command never runs");
  if (command.KeyboardCond < 0 || command.KeyboardCond > 2)
    problem("keyboard condition " + std::to_string(command.KeyboardCond) + " is not 0, 1 or 2: the command never runs");
  if (!pattern.empty()) {
    const std::size_t star = pattern.find('*');
    const std::size_t blank = pattern.find(' ');
    if (command.Pass == 0 && pattern[0] != '*')
      problem("model pattern " + text::ToUtf8(pattern) + " in pass 0: the model is not known yet, so it never matches");
    else if (blank != std::string::npos && (star == std::string::npos || blank < star))
      problem("model pattern " + text::ToUtf8(pattern) + " holds a blank: the model name ends at its first blank, so it never matches");
  }
  if (!command.DestDir.IsEmpty()) {
    std::string folder = static_cast<const char*>(command.DestDir);
    folder.pop_back();
    if (std::string why = FolderProblem(folder); !why.empty()) problem(why);
  }

  // What it needs.
  if ((meaning.kind == 1 || meaning.kind == 3) && !command.Param)
    problem("no source folder (field 1): the line is dropped");
  if ((meaning.kind == 1 || meaning.kind == 3) && command.Param && command.Param[0] != '!') {
    std::string file = Utf8(command.FileName);
    if (meaning.kind == 1 && file.starts_with("/")) file.erase(0, 1);
    const std::string relative = (param.starts_with("*") ? "" : param + "\\") + file;
    std::vector<std::string> near;
    if (!FindInKit(kit, relative, near)) {
      const bool inf = Upper(file).ends_with(".INF");
      std::string reason = (inf ? "INF " : "source ") + relative + " is not in the kit: the line is dropped";
      if (!near.empty()) reason += " (near: " + Join(near) + ")";
      problem(reason);
    }
  }
  if (meaning.kind == 2 && command.Param && command.Param[0])
    problem("field 1 (" + param + ") is not used by a delete: it is ignored");
  if (meaning.kind == 4 && !command.Param) problem("no new name (field 1): the line is dropped");
  if (meaning.kind == 4 && command.Param && text::EqualNoCase(command.FileName, command.Param))
    problem("the new name is the old one (ignoring case): the line is dropped");
  if (meaning.kind == 2) {
    CString dir = command.DestDir;
    if (dir.IsEmpty()) command.ResolveDestDir(dir);
    const std::string path = std::string(static_cast<const char*>(dir)) + command.FileName;
    if (!tool::IsShortPath(path))
      problem("a file in use is deleted at restart through WININIT.INI, which knows only short 8.3 names: " +
              text::ToUtf8(path) + " is not one");
  }
  report.commands.push_back(meaning);
}

// The file line (from 1) of each key of the "Command" section, by upper-cased key name, and of
// the Target key: the first line of each, as the reader takes the first.
std::map<std::string, std::size_t> KeyLines(const std::string& bytes) {
  std::map<std::string, std::size_t> lines;
  std::string section;
  std::size_t number = 0;
  for (std::size_t start = 0; start < bytes.size();) {
    std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    ++number;
    std::string line = bytes.substr(start, end - start);
    start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line.erase(0, first);
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      section = Upper(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      continue;
    }
    const std::size_t equals = line.find('=');
    std::string key = Upper(line.substr(0, equals));
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
    if (section == "COMMAND") lines.try_emplace(key, number);
    if (section == "GENERAL" && key == "TARGET") lines.try_emplace("[General] Target", number);
  }
  return lines;
}

}  // namespace

Report LintKit(const fs::path& kit) {
  std::error_code ec;
  if (!fs::is_directory(kit, ec)) throw std::runtime_error("no kit folder " + kit.string());
  std::optional<fs::path> script_file;
  for (const auto& entry : fs::directory_iterator(kit, ec))
    if (Upper(entry.path().filename().string()) == "DRUPDATE.INI") script_file = entry.path();
  if (!script_file) throw std::runtime_error("no DRUPDATE.INI in the kit folder " + kit.string());
  auto bytes = ReadHostFile(*script_file);
  if (!bytes) throw std::runtime_error("cannot read " + script_file->string());

  Report report;
  Scratch scratch(*bytes);
  UpdateApp app;
  app.SetCurrentHandles(nullptr, nullptr, SW_SHOWNORMAL);
  app.LocateIni();

  // The Target as the program reads it.
  report.target = static_cast<int>(GetPrivateProfileIntA("General", "Target", static_cast<UINT>(-1), app.IniPath));
  int allowed = kAllKinds;
  if (report.target != -1) {
    allowed = report.target & kAllKinds;
    if (allowed == 0)
      report.problems.push_back({"[General] Target", "Target " + std::to_string(report.target) +
                                                         " allows no Windows kind (1, 2, 4, 8, 128): the program does nothing"});
  }

  CStringList lines;
  ReadScriptLines(app.IniPath, lines);
  const IniFile ini = IniFile::Parse(*bytes);
  const auto keys = ini.KeyNames("Command");
  if (!keys) report.problems.push_back({"DRUPDATE.INI", "no [Command] section: the script does nothing"});

  int key = 0;
  for (POSITION pos = lines.GetHeadPosition(); pos; ++key) {
    const std::string value = static_cast<const char*>(lines.GetNext(pos));
    const auto full = ini.Get("Command", std::to_string(key));
    if (full && full->size() > kValueLimit)
      report.problems.push_back({"[Command] " + std::to_string(key),
                                 "the value is " + std::to_string(full->size()) + " bytes: only the first 511 are read"});
    LintCommand(kit, key, value, allowed, report);
  }
  const int read = key;

  // Keys the reader never reaches.
  for (const std::string& name : keys.value_or(std::vector<std::string>{})) {
    const bool decimal = !name.empty() && name.size() <= 9 &&
                         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                         (name == "0" || name[0] != '0');
    if (!decimal) {
      report.problems.push_back({"[Command] " + text::ToUtf8(name),
                                 "key is never read: keys are the numbers 0, 1, 2, ... without sign or leading zeros"});
    } else if (std::atoi(name.c_str()) > read) {
      report.problems.push_back({"[Command] " + name, "never read: the numbering stops at " + std::to_string(read) +
                                                          " (missing or empty), and no later key is read"});
    }
  }
  // Each place also by its line in the file.
  const auto key_lines = KeyLines(*bytes);
  for (Problem& p : report.problems) {
    std::optional<std::size_t> line;
    if (p.where.starts_with("[Command] ")) {
      auto it = key_lines.find(Upper(p.where.substr(10)));
      if (it != key_lines.end()) line = it->second;
    } else if (auto it = key_lines.find(p.where); it != key_lines.end()) {
      line = it->second;
    }
    if (line) p.where = "line " + std::to_string(*line) + " " + p.where;
  }
  return report;
}

}  // namespace w9x::lint
