// The settings of one `w9x run`, shared by every process that the run starts: where the journal
// goes, the calls that fail, the buttons the user presses, the virtual clock, and where the host builds of the
// deliverables are.  A run writes them to MACHINE/.w9x/sessions/ and names the file in the
// environment variable W9X_SESSION, which every process started by the run inherits.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "machine/fault_plan.h"

namespace w9x {

namespace fs = std::filesystem;

struct SessionSettings {
  fs::path journal;                  // empty: no journal
  std::vector<std::string> answers;  // OK, CANCEL, YES, NO or a number, in order
  std::vector<std::string> menu;     // menu command ids for programs with a main window, in order
  // What the user does in a program's shown window, in order: "menu:ID" or "key:KEY".
  std::vector<std::string> window_input;
  bool fast = false;                 // virtual clock
  bool interactive = false;          // ask the terminal user once the answers are used up
  fs::path bin_dir;                  // folder of the host builds of the deliverables
  std::vector<FaultSpec> faults;     // calls every process of the run fails (--fail)
};

class Session {
 public:
  // A session kept in memory only (tests).
  explicit Session(SessionSettings settings = {}) : settings_(std::move(settings)) {}
  // Writes the session file for a run; the file is removed with the object.
  static Session Create(const fs::path& file, SessionSettings settings);
  // Reads the session file of the run this process belongs to.
  static std::optional<Session> Load(const fs::path& file);

  Session(Session&&) noexcept;
  Session& operator=(Session&&) noexcept;
  ~Session();

  const SessionSettings& Settings() const { return settings_; }
  // Leaves the session file in place when the object goes (a run whose programs outlive it).
  void Release() { owner_ = false; }
  const fs::path& File() const { return file_; }

  // The next button of --answer, shared by all processes of the run; nullopt when used up.
  std::optional<std::string> NextAnswer();
  // The next of --menu / --key, shared the same way; nullopt when used up.
  std::optional<std::string> NextWindowInput();

  // Notes a platform write that failed ("C:\WINDOWS\WININIT.INI (disk full)", UTF-8), for the
  // summary the run prints at its end; shared by all processes of the run.
  void NoteFailedWrite(const std::string& what);
  // The failed writes noted so far by every process of the run, in order.
  std::vector<std::string> FailedWrites() const;

 private:
  SessionSettings settings_;
  fs::path file_;
  bool owner_ = false;
  std::optional<std::string> Next(const std::vector<std::string>& list, const char* suffix, std::size_t& local_pos);
  std::size_t answer_pos_ = 0;  // used when there is no file
  std::vector<std::string> failed_writes_;  // used when there is no file
  std::size_t window_input_pos_ = 0;
};

}  // namespace w9x
