// A command run on a terminal of its own: a tmux session (its own server socket) of 100 x 30
// cells, UTF-8, whose screen the test reads and to which it sends keys.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace scenario {

class TerminalSession {
 public:
  // Runs `command` (a shell command line) in the session, in a fresh folder (Dir); once it
  // ends, its exit code is kept (ExitCode) and the pane stays.
  explicit TerminalSession(const std::string& command) {
    static std::atomic<unsigned> counter{0};
    dir_ = std::filesystem::temp_directory_path() /
           ("w9x-terminal-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir_);
    socket_ = (dir_ / "tmux").native();
    std::ofstream script(dir_ / "run.sh");
    script << "export LC_ALL=C.UTF-8 TERM=xterm-256color\ncd " << dir_.native() << "\n"
           << command << "\necho $? >" << (dir_ / "exit").native() << "\nsleep 60\n";
    script.close();
    Tmux("new-session -d -x 100 -y 30 'sh " + (dir_ / "run.sh").native() + "'");
  }
  ~TerminalSession() {
    Tmux("kill-server");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }

  // The screen as text; with `attributes`, with the escape sequences of underline, reverse ...
  std::string Screen(bool attributes = false) const {
    return Tmux(std::string("capture-pane -p") + (attributes ? " -e" : "") + " -t 0");
  }
  // Keys by tmux names: "F10", "Enter", "Escape", "M-f", "M-F4", "Tab", "s" ...
  void Keys(const std::string& keys) const { Tmux("send-keys -t 0 " + keys); }

  // Waits until the screen shows `text` (or, with present = false, no longer shows it); the
  // screen at the end.  A test failure when that does not happen within a few seconds.
  std::string WaitFor(const std::string& text, bool present = true) const {
    std::string screen;
    for (int i = 0; i < 200; ++i) {
      screen = Screen();
      if ((screen.find(text) != std::string::npos) == present) return screen;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the screen " << (present ? "never shows " : "keeps showing ") << text << ":\n" << screen;
    return screen;
  }

  // The exit code of the command once it has ended; -1 when it does not end within a few seconds.
  int ExitCode() const {
    for (int i = 0; i < 200; ++i) {
      std::ifstream in(dir_ / "exit");
      int code = -1;
      if (in >> code) return code;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  // The line of a screen that holds `text`; empty when none does.
  static std::string LineWith(const std::string& screen, const std::string& text) {
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);)
      if (line.find(text) != std::string::npos) return line;
    return {};
  }

 private:
  std::string Tmux(const std::string& args) const {
    std::string out;
    if (FILE* p = popen(("tmux -S " + socket_ + " " + args + " 2>&1").c_str(), "r")) {
      std::array<char, 4096> buf;
      while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
      pclose(p);
    }
    return out;
  }

  std::filesystem::path dir_;
  std::string socket_;
};

}  // namespace scenario
