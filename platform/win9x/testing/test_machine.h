// A temporary machine image installed as the current machine for the duration of one test.
#pragma once

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "machine/context.h"
#include "machine/presets.h"

namespace w9x::testing {

struct TestMachineOptions {
  std::string preset = "win98se";
  PresetOptions preset_options;
  std::string module_path = "C:\\KIT\\DRUPDATE.EXE";  // the program the test plays; its folder is created
  SessionSettings session;
  bool journal = false;  // record the journal (read it back with Events())
};

class TestMachine {
 public:
  explicit TestMachine(TestMachineOptions options = {});
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  Machine& machine() { return *machine_; }
  Process& process() { return *process_; }

  // Host path of a Windows path ("C:\\WINDOWS\\WIN.INI" -> ROOT/C/WINDOWS/WIN.INI), by spelling.
  std::filesystem::path Host(const std::string& windows_path_utf8) const;
  // Writes / reads a file of the machine by its Windows path (UTF-8), creating its folders.
  void WriteFile(const std::string& windows_path_utf8, const std::string& bytes) const;
  std::string ReadFile(const std::string& windows_path_utf8) const;
  bool Exists(const std::string& windows_path_utf8) const;

  // Reopens the machine (after machine.ini changed) keeping the process.
  void Reload();

  // The journal recorded so far (with TestMachineOptions::journal), one object per event; with
  // a name, only the events of that name.
  std::vector<nlohmann::json> Events(const std::string& event = "") const;

 private:
  std::filesystem::path root_;
  TestMachineOptions options_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Process> process_;
  std::unique_ptr<ScopedContext> context_;
};

// Code page 932 bytes of UTF-8 text (test literals are UTF-8).
std::string Sjis(const std::string& utf8);

}  // namespace w9x::testing
