// w9x: create, run and inspect machine images of simulated Windows 9x PCs.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "boot_command.h"
#include "diff_command.h"
#include "journal_view.h"
#include "keys_command.h"
#include "machine/host_file.h"
#include "machine/machine_config.h"
#include "machine/presets.h"
#include "machine/registry_import.h"
#include "machine/smbios.h"
#include "reg_command.h"
#include "try_command.h"
#include "run_command.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRunnerError = 125;

const char kUsage[] =
    "usage:\n"
    "  w9x new MACHINE --preset NAME [--keyboard TYPE,SUBTYPE] [--registry FILE.reg] [--smbios DUMP]\n"
    "  w9x run MACHINE [--journal FILE] [--answer BUTTON]... [--menu ID]... [--key KEY]... [--fast]\n"
    "                  [--window TITLE[:refuse]]... [--fail CALL[:N[:ERROR]]]... -- PROGRAM [ARGS...]\n"
    "                  (--fail: the Nth call of CALL, every one when N is 0 or left out, fails with\n"
    "                  the Windows error ERROR, by default the one of the call's usual failure)\n"
    "  w9x start MACHINE [the options of run] -- PROGRAM [ARGS...]\n"
    "  w9x stop MACHINE\n"
    "  w9x keys MACHINE [--json] [options] SCANCODE...\n"
    "  w9x boot MACHINE [--journal FILE]\n"
    "  w9x diff MACHINE_A MACHINE_B\n"
    "  w9x lint KIT_FOLDER [--json]\n"
    "  w9x try KIT_FOLDER [--presets P1,P2...] [--keyboard T,S]... [--model NAME]... [--answer BUTTON]...\n"
    "                     [--boot] [--markdown FILE] [--jobs N]\n"
    "  w9x journal FILE\n"
    "  w9x reg MACHINE export [KEY] [--cp932]\n"
    "  w9x reg MACHINE import FILE.reg\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "w9x: %s\n%s", problem.c_str(), kUsage);
  return kRunnerError;
}

fs::path OwnFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

int New(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("new: MACHINE is missing");
  std::string preset, registry_file, smbios_file;
  w9x::PresetOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--preset" && i + 1 < args.size()) {
      preset = args[++i];
    } else if (args[i] == "--keyboard" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      auto comma = v.find(',');
      if (comma == std::string::npos || !w9x::ParseNumber(v.substr(0, comma), options.keyboard_type) ||
          !w9x::ParseNumber(v.substr(comma + 1), options.keyboard_subtype))
        return Usage("new: --keyboard takes TYPE,SUBTYPE (decimal or 0x-hexadecimal), got '" + v + "'");
    } else if (args[i] == "--registry" && i + 1 < args.size()) {
      registry_file = args[++i];
    } else if (args[i] == "--smbios" && i + 1 < args.size()) {
      smbios_file = args[++i];
    } else {
      return Usage("new: unexpected argument '" + args[i] + "'");
    }
  }
  if (preset.empty()) return Usage("new: --preset NAME is missing");
  // What comes from a real machine is checked before anything is created.
  std::string registry_text;
  if (!registry_file.empty()) {
    auto bytes = w9x::ReadHostFile(registry_file);
    if (!bytes) return Usage("new: cannot read " + registry_file);
    w9x::RegistryTree tree;
    std::string error;
    if (!w9x::ImportRegistry(tree, *bytes, error)) {
      std::fprintf(stderr, "w9x: new: %s: %s\n", registry_file.c_str(), error.c_str());
      return kRunnerError;
    }
    registry_text = tree.Serialize();
  }
  if (!smbios_file.empty()) {
    w9x::smbios::ParseResult dump = w9x::smbios::ParseFile(smbios_file);
    // A dump of a real machine's table ends where its entry point says; one whose walk stops
    // early is not such a dump.
    const std::string problem = !dump.ok()                     ? dump.error
                                : !dump.table.warning.empty()  ? dump.table.warning
                                : dump.table.structures.empty() ? std::string("no structures")
                                                                : std::string();
    if (!problem.empty()) {
      std::fprintf(stderr, "w9x: new: %s is not an SMBIOS dump: %s\n", smbios_file.c_str(), problem.c_str());
      return kRunnerError;
    }
  }
  bool created = false;
  try {
    w9x::CreateMachineImage(args[0], preset, options);
    created = true;
    const fs::path root = args[0];
    if (!registry_file.empty() && !w9x::WriteHostFileAtomically(root / "registry.reg", registry_text))
      throw std::runtime_error("cannot write " + (root / "registry.reg").string());
    if (!smbios_file.empty()) {
      fs::copy_file(smbios_file, root / "smbios.bin", fs::copy_options::overwrite_existing);
      auto config = w9x::MachineConfig::Parse(w9x::ReadHostFile(root / "machine.ini").value_or(""));
      config.dmi = "smbios.bin";
      if (!w9x::WriteHostFileAtomically(root / "machine.ini", config.Serialize()))
        throw std::runtime_error("cannot write " + (root / "machine.ini").string());
    }
  } catch (const std::exception& e) {
    // The image was made here from an absent or empty folder: a half-made one goes again.
    std::error_code ec;
    if (created) fs::remove_all(args[0], ec);
    std::fprintf(stderr, "w9x: %s\n", e.what());
    return kRunnerError;
  }
  return 0;
}

int Run(const std::vector<std::string>& args, bool start) {
  const std::string command = start ? "start" : "run";
  if (args.empty()) return Usage(command + ": MACHINE is missing");
  w9x::tool::RunOptions o;
  o.machine = args[0];
  o.bin_dir = OwnFolder();
  std::size_t i = 1;
  for (; i < args.size() && args[i] != "--"; ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--journal" && has_value) o.journal = args[++i];
    else if (a == "--answer" && has_value) o.answers.push_back(args[++i]);
    else if (a == "--menu" && has_value) {
      o.menu.push_back(args[++i]);
      o.window_input.push_back("menu:" + args[i]);
    } else if (a == "--key" && has_value) o.window_input.push_back("key:" + args[++i]);
    else if (a == "--window" && has_value) o.windows.push_back(args[++i]);
    else if (a == "--fail" && has_value) o.faults.push_back(args[++i]);
    else if (a == "--fast") o.fast = true;
    else return Usage(command + ": unexpected argument '" + a + "'");
  }
  if (i + 1 >= args.size()) return Usage(command + ": '-- PROGRAM' is missing");
  o.program = args[i + 1];
  o.arguments.assign(args.begin() + static_cast<long>(i) + 2, args.end());
  return start ? w9x::tool::Start(o) : w9x::tool::Run(o);
}

int Journal(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("journal: FILE is missing");
  if (!w9x::tool::PrintJournal(args[0], std::cout)) {
    std::fprintf(stderr, "w9x: cannot read the journal %s\n", args[0].c_str());
    return kRunnerError;
  }
  return 0;
}

// `lint` runs in a program of its own beside w9x, which carries the update program's reader.
int Lint(char** argv) {
  const std::string lint = (OwnFolder() / "w9x-lint").string();
  argv[1] = const_cast<char*>(lint.c_str());
  std::fflush(stdout);
  execv(lint.c_str(), argv + 1);
  std::fprintf(stderr, "w9x: cannot start %s: %s\n", lint.c_str(), std::strerror(errno));
  return kRunnerError;
}

int Try(const std::vector<std::string>& args) {
  w9x::tool::TryOptions o;
  o.bin_dir = OwnFolder();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    auto list = [](const std::string& text) {
      std::vector<std::string> items;
      for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
      }
      return items;
    };
    if (a == "--presets" && has_value) {
      for (auto& p : list(args[++i])) o.presets.push_back(p);
    } else if (a == "--keyboard" && has_value) o.keyboards.push_back(args[++i]);
    else if (a == "--answer" && has_value) o.answers.push_back(args[++i]);
    else if (a == "--model" && has_value) o.models.push_back(args[++i]);
    else if (a == "--markdown" && has_value) o.markdown = args[++i];
    else if (a == "--boot") o.boot = true;
    else if (a == "--jobs" && has_value) {
      std::uint32_t n = 0;
      if (!w9x::ParseNumber(args[++i], n) || n == 0 || n > 256) return Usage("try: --jobs takes a number from 1 to 256");
      o.jobs = n;
    }
    else if (o.kit.empty() && !a.starts_with("--")) o.kit = a;
    else return Usage("try: unexpected argument '" + a + "'");
  }
  if (o.kit.empty()) return Usage("try: KIT_FOLDER is missing");
  return w9x::tool::Try(o, std::cout);
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) return Usage("a command is missing");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "new") return New(args);
  if (command == "run") return Run(args, false);
  if (command == "start") return Run(args, true);
  if (command == "stop") {
    if (args.size() != 1) return Usage("stop: MACHINE is missing");
    return w9x::tool::Stop(args[0]);
  }
  if (command == "journal") return Journal(args);
  if (command == "keys") return w9x::tool::Keys(args, std::cout);
  if (command == "reg") return w9x::tool::Reg(args, std::cout);
  if (command == "boot") return w9x::tool::Boot(args, std::cout);
  if (command == "diff") return w9x::tool::Diff(args, std::cout);
  if (command == "lint") return Lint(argv);
  if (command == "try") return Try(args);
  if (command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Usage("unknown command '" + command + "'");
}

}  // namespace

// Whatever goes wrong on the host (a folder that cannot be written, a file that cannot be read)
// is a runner error of one line, never an abort.
int main(int argc, char** argv) {
  try {
    return Dispatch(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "w9x: %s\n", e.what());
    return kRunnerError;
  }
}
