#include "try_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "boot_command.h"
#include "diff_command.h"
#include "machine/journal.h"
#include "machine/machine.h"
#include "machine/presets.h"
#include "machine/text.h"

extern char** environ;

namespace w9x::tool {
namespace {

constexpr int kRunnerError = 125;

struct Combination {
  std::string preset;
  std::string keyboard;  // as given
  PresetOptions options;
  std::optional<std::string> model;  // UTF-8; none: the machine has no DMI driver
  std::string Label() const { return preset + " kb " + keyboard + (model ? " model " + *model : ""); }
};

// An SMBIOS dump in the layout `dmidecode --dump-bin` writes (a legacy "_DMI_" entry point whose
// table starts at offset 32) holding one System Information structure that names `product`
// (code page 932), and the end-of-table structure.
std::string SystemInfoDump(const std::string& product) {
  std::string table;
  // Type 1, formatted length 8: manufacturer (string 1), product name (string 2), version and
  // serial number without strings.
  table += std::string("\x01\x08\x01\x00\x01\x02\x00\x00", 8);
  table += "Maker";
  table += '\0';
  table += product;
  table += '\0';
  table += '\0';
  table += std::string("\x7F\x04\xFF\xFE\x00\x00", 6);  // end of table
  std::string dump(32, '\0');
  dump.replace(0, 5, "_DMI_");
  dump[0x06] = static_cast<char>(table.size() & 0xFF);
  dump[0x07] = static_cast<char>(table.size() >> 8);
  dump[0x08] = 32;  // the table's address
  dump[0x0C] = 2;   // two structures
  dump[0x0E] = 0x20;  // revision 2.0
  unsigned sum = 0;
  for (int i = 0; i < 0x0F; ++i) sum += static_cast<unsigned char>(dump[i]);
  dump[0x05] = static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
  return dump + table;
}

struct Outcome {
  std::vector<std::string> effects;  // in the order found
  std::string error;                 // a runner error of this combination
};

// Runs `w9x ARGS`, its output to `log`; the exit code.
int RunW9x(const fs::path& w9x, const std::vector<std::string>& args, const fs::path& log) {
  std::vector<std::string> all = {w9x.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, w9x.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) return kRunnerError;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return kRunnerError;
  return WIFEXITED(status) ? WEXITSTATUS(status) : kRunnerError;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// What the journal shows that the image does not keep: programs started and the closing message.
void JournalEffects(const fs::path& journal, std::vector<std::string>& effects) {
  std::ifstream in(journal);
  for (std::string line; std::getline(in, line);) {
    auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded()) continue;
    const std::string name = event.value("event", "");
    if (name == "WinExec") effects.push_back("program started " + event.value("command_line", ""));
    if (name == "MessageBoxA") {
      std::string text = event.value("text", "");
      for (std::size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, " / ");
      effects.push_back("message " + text);
    }
  }
}

Outcome RunCombination(const TryOptions& o, const Combination& c, const fs::path& work) {
  Outcome outcome;
  const fs::path machine = work / "machine", before = work / "before", journal = work / "journal.jsonl";
  try {
    CreateMachineImage(machine, c.preset, c.options);
    if (c.model) {
      auto product = text::ToCp932(*c.model);
      if (!product || product->size() > 0xFF00) throw std::runtime_error("model name '" + *c.model + "' cannot be stored");
      std::ofstream(machine / "smbios.bin", std::ios::binary) << SystemInfoDump(*product);
      std::ofstream(machine / "machine.ini", std::ios::app) << "\n[Devices]\nDMI=smbios.bin\n";
    }
    fs::copy(o.kit, machine / "C" / "KIT", fs::copy_options::recursive);
    fs::copy(machine, before, fs::copy_options::recursive);
  } catch (const std::exception& e) {
    outcome.error = c.Label() + ": " + e.what();
    return outcome;
  }
  std::vector<std::string> args = {"run", machine.string(), "--fast", "--journal", journal.string()};
  for (const std::string& a : o.answers) {
    args.push_back("--answer");
    args.push_back(a);
  }
  args.insert(args.end(), {"--", "C:\\KIT\\DRUPDATE.EXE"});
  const int code = RunW9x(o.bin_dir / "w9x", args, work / "run.log");
  if (code == kRunnerError) {
    std::ifstream log(work / "run.log");
    std::string text((std::istreambuf_iterator<char>(log)), {});
    outcome.error = c.Label() + ": " + FirstLine(text);
    return outcome;
  }
  try {
    Machine after_image(machine);
    if (o.boot) {
      Journal journal_file(journal, "WININIT", getpid());
      ProcessWininit(after_image, journal_file);
    }
    Machine a(before), b(machine);
    for (const Difference& d : DiffMachines(a, b)) {
      // A file's new size is not part of the effect; values of entries are.
      std::string effect = d.effect + " " + d.subject;
      if (d.effect != "file changed" && !d.detail.empty()) effect += ": " + d.detail;
      outcome.effects.push_back(effect);
    }
  } catch (const std::exception& e) {
    outcome.error = c.Label() + ": " + e.what();
    return outcome;
  }
  JournalEffects(journal, outcome.effects);
  if (code != 0) outcome.effects.push_back("exit code " + std::to_string(code));
  return outcome;
}

std::string EscapeMarkdown(const std::string& s) {
  std::string out;
  for (char ch : s) {
    if (ch == '|') out += "\\|";
    else out += ch;
  }
  return out;
}

}  // namespace

int Try(const TryOptions& o, std::ostream& out) {
  std::error_code ec;
  if (!fs::is_directory(o.kit, ec)) {
    std::fprintf(stderr, "w9x: try: no kit folder %s\n", o.kit.string().c_str());
    return kRunnerError;
  }
  std::vector<Combination> combinations;
  const std::vector<std::string> presets = o.presets.empty() ? PresetNames() : o.presets;
  const std::vector<std::string> keyboards =
      o.keyboards.empty() ? std::vector<std::string>{"7,0", "7,0x0D00"} : o.keyboards;
  for (const std::string& preset : presets) {
    const auto names = PresetNames();
    if (std::find(names.begin(), names.end(), preset) == names.end()) {
      std::fprintf(stderr, "w9x: try: unknown preset '%s'\n", preset.c_str());
      return kRunnerError;
    }
    for (const std::string& keyboard : keyboards) {
     for (std::size_t m = 0; m < std::max<std::size_t>(1, o.models.size()); ++m) {
      Combination c{preset, keyboard, {}, std::nullopt};
      if (!o.models.empty()) c.model = o.models[m];
      const auto comma = keyboard.find(',');
      if (comma == std::string::npos || !ParseNumber(keyboard.substr(0, comma), c.options.keyboard_type) ||
          !ParseNumber(keyboard.substr(comma + 1), c.options.keyboard_subtype)) {
        std::fprintf(stderr, "w9x: try: --keyboard takes TYPE,SUBTYPE, got '%s'\n", keyboard.c_str());
        return kRunnerError;
      }
      combinations.push_back(c);
     }
    }
  }

  const fs::path work = fs::temp_directory_path() / ("w9x-try-" + std::to_string(getpid()));
  fs::remove_all(work, ec);
  std::vector<Outcome> outcomes(combinations.size());
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i; (i = next++) < combinations.size();) {
      const fs::path dir = work / std::to_string(i);
      fs::create_directories(dir);
      outcomes[i] = RunCombination(o, combinations[i], dir);
    }
  };
  const unsigned cores = o.jobs ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < std::min<std::size_t>(cores, combinations.size()); ++t) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  fs::remove_all(work, ec);

  for (const Outcome& outcome : outcomes) {
    if (!outcome.error.empty()) {
      std::fprintf(stderr, "w9x: try: %s\n", outcome.error.c_str());
      return kRunnerError;
    }
  }

  // Rows: every effect in the order first seen; columns: the combinations.
  std::vector<std::string> rows;
  std::map<std::string, std::vector<bool>> marks;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    for (const std::string& effect : outcomes[i].effects) {
      auto [it, added] = marks.try_emplace(effect, std::vector<bool>(outcomes.size(), false));
      if (added) rows.push_back(effect);
      it->second[i] = true;
    }
  }

  for (std::size_t i = 0; i < combinations.size(); ++i)
    out << "column " << (i + 1) << ": " << combinations[i].Label() << "\n";
  std::string header;
  for (std::size_t i = 0; i < combinations.size(); ++i) {
    char cell[24];
    std::snprintf(cell, sizeof cell, "%2zu ", i + 1);
    header += cell;
  }
  out << header << "\n";
  for (const std::string& row : rows) {
    std::string line;
    for (bool mark : marks[row]) line += mark ? " x " : " . ";
    out << line << row << "\n";
  }
  if (rows.empty()) out << "(no effect on any combination)\n";

  if (!o.markdown.empty()) {
    std::ofstream md(o.markdown);
    md << "| effect |";
    for (const Combination& c : combinations) md << " " << EscapeMarkdown(c.Label()) << " |";
    md << "\n|---|";
    for (std::size_t i = 0; i < combinations.size(); ++i) md << ":-:|";
    md << "\n";
    for (const std::string& row : rows) {
      md << "| " << EscapeMarkdown(row) << " |";
      for (bool mark : marks[row]) md << (mark ? " x |" : "   |");
      md << "\n";
    }
    if (!md) {
      std::fprintf(stderr, "w9x: try: cannot write %s\n", o.markdown.string().c_str());
      return kRunnerError;
    }
  }
  return 0;
}

}  // namespace w9x::tool
