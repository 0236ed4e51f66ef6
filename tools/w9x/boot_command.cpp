// The restart step that runs before Windows starts.  It works in real mode, below the file
// system that knows long names: it sees only short 8.3 names, acts on files only, and never
// stops for an error.  A line it cannot apply is left alone and the next one is taken.
#include "boot_command.h"

#include <unistd.h>

#include <cstdio>
#include <set>
#include <system_error>

#include "machine/host_file.h"
#include "machine/ini_file.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/text.h"

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

int Error(const std::string& message) {
  std::fprintf(stderr, "w9x: %s\n", message.c_str());
  return kRunnerError;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A short name: 1 to 8 bytes, optionally a dot and 1 to 3 more, none of the characters DOS
// refuses in names.  A double-byte character counts as its two bytes.
bool IsShortName(std::string_view name) {
  static constexpr std::string_view kRefused = " \"*+,/:;<=>?[\\]|";
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '.') {
      if (dot != std::string_view::npos) return false;
      dot = i;
    } else if (c < 0x20 || (c < 0x80 && kRefused.find(static_cast<char>(c)) != std::string_view::npos)) {
      return false;
    }
  }
  const std::size_t base = dot == std::string_view::npos ? name.size() : dot;
  const std::size_t extension = dot == std::string_view::npos ? 0 : name.size() - dot - 1;
  if (base == 0 || base > 8 || extension > 3) return false;
  return dot == std::string_view::npos || extension > 0;
}

// The host path of an existing file (not a folder), or the reason there is none.
std::optional<fs::path> FindFile(Machine& machine, const WinPath& path, std::string& why) {
  struct stat status {};
  auto host = machine.Files().Find(path, &status);
  if (!host) {
    why = "no file " + text::ToUtf8(path.ToString());
    return std::nullopt;
  }
  if (S_ISDIR(status.st_mode)) {
    why = text::ToUtf8(path.ToString()) + " is a folder";
    return std::nullopt;
  }
  return host;
}

void Forget(Machine& machine, const fs::path& host) {
  machine.Files().Removed(host.parent_path(), host.filename().native());
}

// Deletes the file; the reason when it cannot.
std::string Delete(Machine& machine, const WinPath& path) {
  std::string why;
  auto host = FindFile(machine, path, why);
  if (!host) return why;
  std::error_code ec;
  if (!fs::remove(*host, ec) || ec) return "cannot delete " + text::ToUtf8(path.ToString()) + ": " + ec.message();
  Forget(machine, *host);
  machine.Attributes().Forget(path);
  return {};
}

// Moves the file `from` to `to`, replacing a file there; the reason when it cannot.
std::string Move(Machine& machine, const WinPath& to, const WinPath& from) {
  std::string why;
  auto source = FindFile(machine, from, why);
  if (!source) return why;
  auto target = machine.Files().Place(to);
  if (!target) return "no folder " + text::ToUtf8(to.Parent().ToString());
  struct stat status {};
  const bool replacing = machine.Files().Find(to, &status).has_value();
  if (replacing && S_ISDIR(status.st_mode)) return text::ToUtf8(to.ToString()) + " is a folder";
  if (to.Key() == from.Key()) return {};  // the file already has that name
  std::error_code ec;
  if (replacing) {
    fs::remove(*target, ec);
    if (ec) return "cannot replace " + text::ToUtf8(to.ToString()) + ": " + ec.message();
    Forget(machine, *target);
    machine.Attributes().Forget(to);
  }
  // A replaced file keeps its name as it was spelled; a new one takes the line's spelling.
  const fs::path spelled = replacing ? *target : target->parent_path() / text::ToUtf8(to.Leaf());
  fs::rename(*source, spelled, ec);
  if (ec) return "cannot move " + text::ToUtf8(from.ToString()) + ": " + ec.message();
  Forget(machine, *source);
  machine.Files().Added(spelled.parent_path(), spelled.filename().native());
  machine.Attributes().Move(from, to);
  return {};
}

}  // namespace

bool IsShortPath(const std::string& cp932_path) {
  // Only "X:\..." with nothing the resolver would tidy away: what is written is what is used.
  if (cp932_path.size() < 3 || cp932_path[1] != ':' || cp932_path[2] != '\\') return false;
  auto path = ParseFullPath(cp932_path);
  if (!path || path->IsRoot() || !text::EqualNoCase(path->ToString(), cp932_path)) return false;
  for (const std::string& part : path->parts)
    if (!IsShortName(part)) return false;
  return true;
}

std::vector<WininitStep> ProcessWininit(Machine& machine, Journal& journal) {
  std::vector<WininitStep> steps;
  const WinPath ini_path = machine.WindowsDir().Child("WININIT.INI");
  struct stat status {};
  auto ini_host = machine.Files().Find(ini_path, &status);
  if (!ini_host || S_ISDIR(status.st_mode)) return steps;
  auto bytes = ReadHostFile(*ini_host);
  if (!bytes) throw std::runtime_error("cannot read " + ini_host->string());

  const IniFile ini = IniFile::Parse(*bytes);
  std::set<std::string> seen;
  for (const std::string& line : ini.SectionLines("rename").value_or(std::vector<std::string>{})) {
    if (line[0] == ';') continue;  // a comment
    WininitStep step;
    step.line = text::ToUtf8(line);
    std::string why;
    const std::size_t equals = text::Find(line, '=');
    const std::string dest(Trim(std::string_view(line).substr(0, equals == std::string::npos ? 0 : equals)));
    const std::string source(equals == std::string::npos ? "" : Trim(std::string_view(line).substr(equals + 1)));
    const bool remove = text::EqualNoCase(dest, "NUL");
    if (!seen.insert(text::Upper(dest) + "=" + text::Upper(source)).second) {
      why = "repeats an earlier line";
    } else if (equals == std::string::npos || source.empty() || dest.empty()) {
      why = "not of the form DEST=SOURCE or NUL=PATH";
    } else if (!IsShortPath(source)) {
      why = text::ToUtf8(source) + " is not a full path of short 8.3 names";
    } else if (!remove && !IsShortPath(dest)) {
      why = text::ToUtf8(dest) + " is not a full path of short 8.3 names";
    } else if (!machine.Files().DriveRoot(static_cast<char>(source[0] & ~0x20)) || (!remove && !machine.Files().DriveRoot(static_cast<char>(dest[0] & ~0x20)))) {
      why = "no such drive";
    } else if (remove) {
      const WinPath path = *ParseFullPath(source);
      why = Delete(machine, path);
      if (why.empty()) step.outcome = "deleted " + text::ToUtf8(path.ToString());
    } else {
      const WinPath from = *ParseFullPath(source), to = *ParseFullPath(dest);
      why = Move(machine, to, from);
      if (why.empty()) step.outcome = "moved " + text::ToUtf8(from.ToString()) + " to " + text::ToUtf8(to.ToString());
    }
    step.applied = why.empty();
    if (!step.applied) step.outcome = why;
    journal.Record("Wininit", {{"line", step.line}, {"applied", step.applied}, {"outcome", step.outcome}});
    steps.push_back(std::move(step));
  }

  // Done: the file is kept as WININIT.BAK, so that the next start finds nothing to do.  A line
  // may have deleted or moved the file itself; then there is nothing left to keep.
  if (!fs::exists(*ini_host)) return steps;
  const WinPath bak_path = machine.WindowsDir().Child("WININIT.BAK");
  std::error_code ec;
  if (auto old = machine.Files().Find(bak_path)) {
    fs::remove(*old, ec);
    Forget(machine, *old);
  }
  const fs::path bak = ini_host->parent_path() / "WININIT.BAK";
  fs::rename(*ini_host, bak, ec);
  if (ec) throw std::runtime_error("cannot rename " + ini_host->string() + ": " + ec.message());
  Forget(machine, *ini_host);
  machine.Files().Added(bak.parent_path(), bak.filename().native());
  machine.Attributes().Move(ini_path, bak_path);
  journal.Record("Wininit", {{"renamed", text::ToUtf8(ini_path.ToString())}, {"to", text::ToUtf8(bak_path.ToString())}});
  WininitStep renamed;
  renamed.applied = true;
  renamed.outcome = "renamed " + text::ToUtf8(ini_path.ToString()) + " to " + text::ToUtf8(bak_path.ToString());
  steps.push_back(std::move(renamed));
  return steps;
}

void PrintSteps(const std::vector<WininitStep>& steps, std::ostream& out) {
  if (steps.empty()) {
    out << "no WININIT.INI: nothing to do\n";
    return;
  }
  for (const WininitStep& step : steps) {
    if (step.applied) out << step.outcome << "\n";
    else out << "skipped '" << step.line << "': " << step.outcome << "\n";
  }
}

int Boot(const std::vector<std::string>& args, std::ostream& out) {
  std::string machine_path, journal_path;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--journal" && i + 1 < args.size()) journal_path = args[++i];
    else if (machine_path.empty() && !args[i].starts_with("--")) machine_path = args[i];
    else return Error("boot: unexpected argument '" + args[i] + "'");
  }
  if (machine_path.empty()) return Error("usage: w9x boot MACHINE [--journal FILE]");
  std::unique_ptr<Machine> machine;
  try {
    machine = std::make_unique<Machine>(machine_path);
  } catch (const MachineError& e) {
    return Error(e.what());
  }
  // The start-up step runs before Windows does: not while programs still run on the machine.
  if (!machine->Shared().Processes().empty())
    return Error("boot: programs still run on " + machine_path + " (end them with w9x stop first)");
  auto journal = journal_path.empty() ? std::make_unique<Journal>()
                                      : std::make_unique<Journal>(journal_path, "WININIT", getpid());
  if (journal->Failed()) return Error("cannot write the journal " + journal_path + ": " + journal->Problem());
  std::vector<WininitStep> steps;
  try {
    steps = ProcessWininit(*machine, *journal);
  } catch (const std::exception& e) {
    return Error(e.what());
  }
  PrintSteps(steps, out);
  if (journal->Failed()) return Error("cannot write the journal " + journal_path + ": " + journal->Problem());
  return 0;
}

}  // namespace w9x::tool
