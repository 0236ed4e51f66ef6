#include "scenario_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "machine/file_system.h"
#include "machine/host_file.h"

extern char** environ;

namespace scenario {

namespace {

fs::path TempPath(const std::string& what) {
  static std::atomic<unsigned> counter{0};
  return fs::temp_directory_path() /
         ("w9x-scenario-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" + what);
}

}  // namespace

Result W9x(const std::vector<std::string>& args) {
  fs::path out = TempPath("out"), err = TempPath("err");
  std::vector<std::string> all = {std::string(W9X_BIN_DIR) + "/w9x"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  Result r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = w9x::ReadHostFile(out).value_or("");
  r.err = w9x::ReadHostFile(err).value_or("");
  fs::remove(out);
  fs::remove(err);
  return r;
}

Machine::Machine(const std::string& preset, const std::vector<std::string>& new_options)
    : root_(TempPath("machine")), journal_(TempPath("journal")) {
  std::vector<std::string> args = {"new", root_.string(), "--preset", preset};
  args.insert(args.end(), new_options.begin(), new_options.end());
  Result r = W9x(args);
  if (r.exit_code != 0) throw std::runtime_error("w9x new failed: " + r.err);
}

Machine::~Machine() {
  std::error_code ec;
  fs::remove_all(root_, ec);
  fs::remove(journal_, ec);
}

fs::path Machine::Host(const std::string& p) const {
  return w9x::SpelledHostPath(root_, p);
}

void Machine::Write(const std::string& path, const std::string& bytes) const {
  fs::path host = Host(path);
  fs::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << bytes;
}

std::string Machine::Read(const std::string& path) const { return w9x::ReadHostFile(Host(path)).value_or(""); }

bool Machine::Exists(const std::string& path) const { return fs::exists(Host(path)); }

Result Machine::Run(const std::string& program, const std::vector<std::string>& options,
                    const std::vector<std::string>& args) {
  std::vector<std::string> all = {"run", root_.string(), "--journal", journal_.string()};
  all.insert(all.end(), options.begin(), options.end());
  all.push_back("--");
  all.push_back(program);
  all.insert(all.end(), args.begin(), args.end());
  return W9x(all);
}

std::vector<nlohmann::json> Machine::Events(const std::string& event) const {
  std::vector<nlohmann::json> out;
  std::ifstream in(journal_);
  for (std::string line; std::getline(in, line);) {
    auto j = nlohmann::json::parse(line);
    if (event.empty() || j.value("event", "") == event) out.push_back(std::move(j));
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> Snapshot(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    out.emplace_back(rel, e.is_regular_file() ? w9x::ReadHostFile(e.path()).value_or("") : std::string("<dir>"));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace scenario
