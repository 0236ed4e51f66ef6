#include "testing/test_machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

#include "machine/file_system.h"
#include "machine/text.h"

namespace w9x::testing {

namespace fs = std::filesystem;

std::string Sjis(const std::string& utf8) {
  auto s = text::ToCp932(utf8);
  if (!s) throw std::runtime_error("no code page 932 form: " + utf8);
  return *s;
}

TestMachine::TestMachine(TestMachineOptions options) : options_(std::move(options)) {
  static std::atomic<unsigned> counter{0};
  root_ = fs::temp_directory_path() /
          ("w9x-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(root_);
  CreateMachineImage(root_, options_.preset, options_.preset_options);
  auto module = ParseFullPath(options_.module_path);
  if (!module) throw std::runtime_error("bad module path " + options_.module_path);
  fs::create_directories(Host(text::ToUtf8(module->Parent().ToString())));
  std::ofstream(Host(text::ToUtf8(module->ToString()))) << "MZ";
  if (options_.session.bin_dir.empty()) options_.session.bin_dir = W9X_BIN_DIR;
  if (options_.journal) options_.session.journal = root_.native() + ".journal";
  process_ = std::make_unique<Process>(options_.module_path, options_.module_path, module->Parent());
  for (const FaultSpec& f : options_.session.faults) process_->Faults().Fail(f.call, f.nth, f.error);
  Reload();
}

TestMachine::~TestMachine() {
  context_.reset();
  process_.reset();
  machine_.reset();
  std::error_code ec;
  fs::remove_all(root_, ec);
  if (options_.journal) fs::remove(options_.session.journal, ec);
}

void TestMachine::Reload() {
  context_.reset();
  machine_ = std::make_unique<Machine>(root_, Session(options_.session));
  machine_->OpenJournal(process_->Name(), process_->Id());
  context_ = std::make_unique<ScopedContext>(*machine_, *process_);
}

std::vector<nlohmann::json> TestMachine::Events(const std::string& event) const {
  std::vector<nlohmann::json> out;
  std::ifstream in(options_.session.journal);
  for (std::string line; std::getline(in, line);) {
    auto j = nlohmann::json::parse(line);
    if (event.empty() || j.value("event", "") == event) out.push_back(std::move(j));
  }
  return out;
}

fs::path TestMachine::Host(const std::string& windows_path_utf8) const {
  return w9x::SpelledHostPath(root_, windows_path_utf8);
}

void TestMachine::WriteFile(const std::string& path, const std::string& bytes) const {
  fs::path host = Host(path);
  fs::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << bytes;
}

std::string TestMachine::ReadFile(const std::string& path) const {
  std::ifstream in(Host(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TestMachine::Exists(const std::string& path) const { return fs::exists(Host(path)); }

}  // namespace w9x::testing
