// w9x: create, run and inspect machine images of simulated Windows 9x PCs.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

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

// A usage error is one line naming the command and what is wrong with its arguments.
int Usage(const std::string& problem) {
  std::fprintf(stderr, "w9x: %s\n", problem.c_str());
  return kRunnerError;
}

fs::path OwnFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path() : self.parent_path();
}

struct NewOptions {
  std::string machine, preset, keyboard, registry_file, smbios_file;
};

int New(const NewOptions& a) {
  w9x::PresetOptions options;
  if (!a.keyboard.empty()) {
    const std::string& v = a.keyboard;
    auto comma = v.find(',');
    if (comma == std::string::npos || !w9x::ParseNumber(v.substr(0, comma), options.keyboard_type) ||
        !w9x::ParseNumber(v.substr(comma + 1), options.keyboard_subtype))
      return Usage("new: --keyboard takes TYPE,SUBTYPE (decimal or 0x-hexadecimal), got '" + v + "'");
  }
  const std::string& registry_file = a.registry_file;
  const std::string& smbios_file = a.smbios_file;
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
    w9x::CreateMachineImage(a.machine, a.preset, options);
    created = true;
    const fs::path root = a.machine;
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
    if (created) fs::remove_all(a.machine, ec);
    std::fprintf(stderr, "w9x: %s\n", e.what());
    return kRunnerError;
  }
  return 0;
}

int Journal(const std::string& file) {
  if (!w9x::tool::PrintJournal(file, std::cout)) {
    std::fprintf(stderr, "w9x: cannot read the journal %s\n", file.c_str());
    return kRunnerError;
  }
  return 0;
}

// `lint` runs in a program of its own beside w9x, which carries the update program's reader.
int Lint(const std::string& kit, bool json) {
  const std::string lint = (OwnFolder() / "w9x-lint").string();
  std::vector<std::string> args = {lint, kit};
  if (json) args.push_back("--json");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  execv(lint.c_str(), argv.data());
  std::fprintf(stderr, "w9x: cannot start %s: %s\n", lint.c_str(), std::strerror(errno));
  return kRunnerError;
}

// A comma-separated list; empty items are dropped.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) items.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// A repeatable option whose every occurrence is handled as it is read, so that the order of
// different options given together (menu picks and keys, actions on the driver) is kept.
CLI::Option* Repeatable(CLI::App* app, const std::string& name, std::function<void(const std::string&)> each,
                        const std::string& help) {
  return app->add_option_function<std::string>(name, std::move(each), help)->trigger_on_parse();
}

// The options `run` and `start` share.
void AddRunOptions(CLI::App* cmd, w9x::tool::RunOptions& o) {
  cmd->add_option("MACHINE", o.machine, "The machine image folder")->required();
  cmd->add_option("--journal", o.journal, "Write the run's journal of events to FILE")->type_name("FILE");
  Repeatable(cmd, "--answer", [&o](const std::string& v) { o.answers.push_back(v); },
             "Answer the next message box with BUTTON (repeatable, used in order)")
      ->type_name("BUTTON");
  Repeatable(cmd, "--menu", [&o](const std::string& v) {
    o.menu.push_back(v);
    o.window_input.push_back("menu:" + v);
  }, "Pick the menu item ID in the program's window (repeatable, in order with --key)")->type_name("ID");
  Repeatable(cmd, "--key", [&o](const std::string& v) { o.window_input.push_back("key:" + v); },
             "Press KEY in the program's window (repeatable, in order with --menu)")
      ->type_name("KEY");
  Repeatable(cmd, "--window", [&o](const std::string& v) { o.windows.push_back(v); },
             "Show a window titled TITLE on the desktop; with :refuse it refuses to close (repeatable)")
      ->type_name("TITLE[:refuse]");
  Repeatable(cmd, "--fail", [&o](const std::string& v) { o.faults.push_back(v); },
             "The Nth call of CALL (every one when N is 0 or left out) fails with the Windows error ERROR, "
             "by default the one of the call's usual failure (repeatable)")
      ->type_name("CALL[:N[:ERROR]]");
  cmd->add_flag("--fast", o.fast, "Do not wait where the program waits for time to pass");
}

// A usage error names the command it belongs to.
std::string CommandPath(const CLI::App& app) {
  std::string path;
  for (const CLI::App* a = &app; !a->get_subcommands().empty();) {
    a = a->get_subcommands().front();
    path += (path.empty() ? "" : " ") + a->get_name();
  }
  return path;
}

int Dispatch(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "help") args[0] = "--help";

  // For run and start, everything after the first "--" is the program and its arguments, which
  // are the program's own and never read as options.
  const bool runs = !args.empty() && (args[0] == "run" || args[0] == "start");
  std::vector<std::string> program;
  bool separated = false;
  if (runs) {
    auto sep = std::find(args.begin() + 1, args.end(), std::string("--"));
    if (sep != args.end()) {
      separated = true;
      program.assign(sep + 1, args.end());
      args.erase(sep, args.end());
    }
  }

  CLI::App app{"Create, run and inspect machine images of simulated Windows 9x PCs.", "w9x"};
  app.require_subcommand(1);
  // A single-valued option given twice takes its last value.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  std::function<int()> action;

  NewOptions new_options;
  auto* cmd_new = app.add_subcommand("new", "Create a machine image from a preset");
  cmd_new->add_option("MACHINE", new_options.machine, "The folder of the new machine image")->required();
  cmd_new->add_option("--preset", new_options.preset, "The preset the machine is made from")
      ->type_name("NAME")->required();
  cmd_new->add_option("--keyboard", new_options.keyboard,
                      "The keyboard type and subtype, decimal or 0x-hexadecimal")->type_name("TYPE,SUBTYPE");
  cmd_new->add_option("--registry", new_options.registry_file, "Start from the registry exported from a real machine")
      ->type_name("FILE.reg");
  cmd_new->add_option("--smbios", new_options.smbios_file, "Use the SMBIOS table dumped from a real machine")
      ->type_name("DUMP");
  cmd_new->callback([&] { action = [&] { return New(new_options); }; });

  w9x::tool::RunOptions run_options;
  auto* cmd_run = app.add_subcommand("run", "Run PROGRAM on a machine until it ends: w9x run MACHINE [OPTIONS] -- PROGRAM [ARGS...]");
  auto* cmd_start = app.add_subcommand("start", "Start PROGRAM on a machine and return while it runs: w9x start MACHINE [OPTIONS] -- PROGRAM [ARGS...]");
  for (auto* cmd : {cmd_run, cmd_start}) {
    AddRunOptions(cmd, run_options);
    cmd->footer("PROGRAM [ARGS...] follow a '--' after the options: the full Windows path of the program and its arguments.");
    const bool start = cmd == cmd_start;
    cmd->callback([&, start] {
      action = [&, start] {
        const std::string command = start ? "start" : "run";
        if (!separated || program.empty()) return Usage(command + ": '-- PROGRAM' is missing");
        run_options.bin_dir = OwnFolder();
        run_options.program = program[0];
        run_options.arguments.assign(program.begin() + 1, program.end());
        return start ? w9x::tool::Start(run_options) : w9x::tool::Run(run_options);
      };
    });
  }

  std::string machine;
  auto* cmd_stop = app.add_subcommand("stop", "End the programs that run on a machine");
  cmd_stop->add_option("MACHINE", machine, "The machine image folder")->required();
  cmd_stop->callback([&] { action = [&] { return w9x::tool::Stop(machine); }; });

  // keys reads its values itself: the options are handed on in the order they were given.
  std::vector<std::string> keys_args;
  std::vector<std::string> scan_codes;
  auto* cmd_keys = app.add_subcommand("keys", "Feed scan codes to the keyboard driver on a machine and report what it does");
  cmd_keys->add_option("MACHINE", machine, "The machine image folder")->required();
  cmd_keys->add_option("SCANCODE", scan_codes, "Scan codes, one byte in hex each (e.g. 5E)");
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"--json", "Report as JSON"},
           {"--real-clock", "Use the real clock instead of the simulated one"},
           {"--fail-start", "The device fails to start"},
           {"--query-id", "Ask the driver for the device's identity"},
           {"--hook-fails", "The keyboard hook cannot be set"}})
    cmd_keys->add_flag_callback(name, [&keys_args, name = name] { keys_args.push_back(name); }, text)->trigger_on_parse();
  for (const auto& [name, type, text] : std::vector<std::tuple<std::string, std::string, std::string>>{
           {"--reads", "N", "Keep N reads pending at the driver (0 to 64)"},
           {"--write", "LEDS", "Write the LED bits, a hex byte (repeatable)"},
           {"--stop", "K", "Stop the device after the K-th scan code (repeatable)"},
           {"--remove", "K", "Remove the device after the K-th scan code (repeatable)"},
           {"--start", "K", "Start the device again after the K-th scan code (repeatable)"},
           {"--cancel-read", "K", "Cancel a pending read after the K-th scan code (repeatable)"},
           {"--fail-alloc", "N", "The Nth allocation of memory fails (from 1 on)"},
           {"--module", "NAME=IMPORT,...", "A module the driver may load, with what it imports (repeatable)"},
           {"--without-module", "NAME", "The module file NAME is missing (repeatable)"}})
    Repeatable(cmd_keys, name, [&keys_args, name = name](const std::string& v) {
      keys_args.push_back(name);
      keys_args.push_back(v);
    }, text)->type_name(type);
  cmd_keys->callback([&] {
    action = [&] {
      keys_args.insert(keys_args.begin(), machine);
      keys_args.insert(keys_args.end(), scan_codes.begin(), scan_codes.end());
      return w9x::tool::Keys(keys_args, std::cout);
    };
  });

  std::string file;
  auto* cmd_journal = app.add_subcommand("journal", "Print a run's journal");
  cmd_journal->add_option("FILE", file, "The journal file")->required();
  cmd_journal->callback([&] { action = [&] { return Journal(file); }; });

  // reg MACHINE export [KEY] [--cp932] | reg MACHINE import FILE.reg
  std::string reg_action, reg_argument;
  bool cp932 = false;
  auto* cmd_reg = app.add_subcommand("reg", "Export a machine's registry, or import a .reg file into it: "
                                            "w9x reg MACHINE export [KEY] [--cp932] | w9x reg MACHINE import FILE.reg");
  cmd_reg->add_option("MACHINE", machine, "The machine image folder")->required();
  cmd_reg->add_option("ACTION", reg_action, "export or import")
      ->required()->check(CLI::IsMember({"export", "import"}));
  cmd_reg->add_option("KEY_OR_FILE", reg_argument, "export: the key to export (all by default); import: the .reg file");
  cmd_reg->add_flag("--cp932", cp932, "export: write the text in code page 932 instead of 1252");
  cmd_reg->callback([&] {
    action = [&] {
      if (reg_action == "import" && (reg_argument.empty() || cp932))
        return Usage("reg: import takes FILE.reg (and no --cp932)");
      std::vector<std::string> reg_args = {machine, reg_action};
      if (!reg_argument.empty()) reg_args.push_back(reg_argument);
      if (cp932) reg_args.push_back("--cp932");
      return w9x::tool::Reg(reg_args, std::cout);
    };
  });

  std::string journal;
  auto* cmd_boot = app.add_subcommand("boot", "Carry out what waits for the next start of Windows on a machine");
  cmd_boot->add_option("MACHINE", machine, "The machine image folder")->required();
  cmd_boot->add_option("--journal", journal, "Write the journal of events to FILE")->type_name("FILE");
  cmd_boot->callback([&] {
    action = [&] {
      std::vector<std::string> boot_args = {machine};
      if (!journal.empty()) boot_args.insert(boot_args.end(), {"--journal", journal});
      return w9x::tool::Boot(boot_args, std::cout);
    };
  });

  std::string other_machine;
  auto* cmd_diff = app.add_subcommand("diff", "Show how two machines' files and registries differ");
  cmd_diff->add_option("MACHINE_A", machine, "The first machine image folder")->required();
  cmd_diff->add_option("MACHINE_B", other_machine, "The second machine image folder")->required();
  cmd_diff->callback([&] { action = [&] { return w9x::tool::Diff({machine, other_machine}, std::cout); }; });

  std::string kit;
  bool json = false;
  auto* cmd_lint = app.add_subcommand("lint", "Check a kit folder's update script");
  cmd_lint->add_option("KIT_FOLDER", kit, "The kit folder")->required();
  cmd_lint->add_flag("--json", json, "Report as JSON");
  cmd_lint->callback([&] { action = [&] { return Lint(kit, json); }; });

  w9x::tool::TryOptions try_options;
  std::string jobs;
  auto* cmd_try = app.add_subcommand("try", "Run a kit on fresh machines of several presets and report each outcome");
  cmd_try->add_option("KIT_FOLDER", try_options.kit, "The kit folder")->required();
  Repeatable(cmd_try, "--presets", [&](const std::string& v) {
    for (auto& p : SplitList(v)) try_options.presets.push_back(p);
  }, "The presets to try, comma-separated (repeatable)")->type_name("P1,P2...");
  Repeatable(cmd_try, "--keyboard", [&](const std::string& v) { try_options.keyboards.push_back(v); },
             "Also try with the keyboard type and subtype T,S (repeatable)")->type_name("T,S");
  Repeatable(cmd_try, "--model", [&](const std::string& v) { try_options.models.push_back(v); },
             "Also try on the machine model NAME (repeatable)")->type_name("NAME");
  Repeatable(cmd_try, "--answer", [&](const std::string& v) { try_options.answers.push_back(v); },
             "Answer the next message box with BUTTON (repeatable, used in order)")->type_name("BUTTON");
  cmd_try->add_flag("--boot", try_options.boot, "Start Windows again after each run");
  cmd_try->add_option("--markdown", try_options.markdown, "Also write the report as Markdown to FILE")->type_name("FILE");
  cmd_try->add_option("--jobs", jobs, "Run N machines at a time (1 to 256)")->type_name("N");
  cmd_try->callback([&] {
    action = [&] {
      if (!jobs.empty()) {
        std::uint32_t n = 0;
        if (!w9x::ParseNumber(jobs, n) || n == 0 || n > 256) return Usage("try: --jobs takes a number from 1 to 256");
        try_options.jobs = n;
      }
      try_options.bin_dir = OwnFolder();
      return w9x::tool::Try(try_options, std::cout);
    };
  });

  if (!args.empty() && !args[0].starts_with("-") && std::as_const(app).get_subcommands([&](const CLI::App* s) {
        return s->get_name() == args[0];
      }).empty())
    return Usage("unknown command '" + args[0] + "' (see w9x --help)");
  try {
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string path = CommandPath(app);
    return Usage((path.empty() ? "" : path + ": ") + e.what() + " (see w9x " + (path.empty() ? "" : path + " ") +
                 "--help)");
  }
  return action ? action() : Usage("a command is missing");
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
