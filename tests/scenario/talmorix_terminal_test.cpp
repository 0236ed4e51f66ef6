// The settings window of the shutdown program on a real terminal: `w9x run ... setup` in a tmux
// session, worked with the keys a user presses, the screen read back, and the saved settings.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "scenario_support.h"
#include "terminal_session.h"

namespace scenario {
namespace {

const char kTalmorix[] = "C:\\WINDOWS\\TALMORIX.EXE";

std::vector<nlohmann::json> JournalEvents(const fs::path& journal, const std::string& name) {
  std::vector<nlohmann::json> out;
  std::ifstream in(journal);
  for (std::string line; std::getline(in, line);) {
    auto e = nlohmann::json::parse(line, nullptr, false);
    if (!e.is_discarded() && e.value("event", "") == name) out.push_back(e);
  }
  return out;
}

TEST(TalmorixTerminal, TheSettingsWindowIsWorkedWithTheKeys) {
  Machine m("win98se");
  m.Write(kTalmorix, "MZ");
  const fs::path journal = m.Root().parent_path() / (m.Root().filename().string() + "-terminal.jsonl");
  TerminalSession term(std::string(W9X_BIN_DIR) + "/w9x run '" + m.Root().string() + "' --journal '" +
                       journal.string() + "' -- 'C:\\WINDOWS\\TALMORIX.EXE' setup");

  std::string screen = term.WaitFor("TALMORIX.EXE");
  EXPECT_NE(TerminalSession::LineWith(screen, "Setup"), "") << screen;
  // F10 selects the menu bar, its mnemonic letter underlined; Enter opens the pop-up.
  term.Keys("F10");
  term.WaitFor("Setup");
  EXPECT_NE(term.Screen(true).find("\x1b[4mS"), std::string::npos) << term.Screen(true);
  term.Keys("Enter");
  screen = term.WaitFor("Save settings");

  // The ten items in order, check marks as the settings are (no [PowerOff]: query on, word 9),
  // the shortcut texts right-aligned on their lines.
  const std::vector<std::string> items = {"Default",         "Save settings",  "Q:Query",       "0:EWX_LOGOFF",
                                          "1:EWX_SHUTDOWN",  "2:EWX_REBOOT",   "4:EWX_FORCE",   "8:EWX_POWEROFF",
                                          "Hide",            "Exit"};
  std::size_t at = 0;
  for (const std::string& item : items) {
    const std::size_t found = screen.find(item, at);
    ASSERT_NE(found, std::string::npos) << item << " after offset " << at << ":\n" << screen;
    at = found + item.size();
  }
  for (const char* checked : {"Q:Query", "1:EWX_SHUTDOWN", "8:EWX_POWEROFF"})
    EXPECT_NE(TerminalSession::LineWith(screen, checked).find("✓"), std::string::npos) << checked << "\n" << screen;
  for (const char* unchecked : {"0:EWX_LOGOFF", "2:EWX_REBOOT", "4:EWX_FORCE"})
    EXPECT_EQ(TerminalSession::LineWith(screen, unchecked).find("✓"), std::string::npos) << unchecked << "\n" << screen;
  const std::string hide = TerminalSession::LineWith(screen, "Hide");
  const std::string exit = TerminalSession::LineWith(screen, "Exit");
  ASSERT_NE(hide.find("ESC"), std::string::npos) << screen;
  ASSERT_NE(exit.find("Alt+F4"), std::string::npos) << screen;
  EXPECT_EQ(hide.find("ESC") + 3, exit.find("Alt+F4") + 6) << "shortcuts end in one column:\n" << screen;

  // "q" chooses Q:Query (the menu closes), "2" the reboot bit; the marks follow.
  term.Keys("q");
  term.WaitFor("Save settings", false);
  term.Keys("F10 Enter 2");
  term.WaitFor("Save settings", false);
  term.Keys("F10 Enter");
  screen = term.WaitFor("Save settings");
  EXPECT_EQ(TerminalSession::LineWith(screen, "Q:Query").find("✓"), std::string::npos) << screen;
  EXPECT_NE(TerminalSession::LineWith(screen, "2:EWX_REBOOT").find("✓"), std::string::npos) << screen;
  // Escape closes the pop-up only, the menu bar stays selected: Enter opens it again, "s" saves;
  // Alt+F4 then closes the window.
  term.Keys("Escape");
  term.WaitFor("Save settings", false);
  term.Keys("Enter");
  term.WaitFor("Save settings");
  term.Keys("s");
  term.WaitFor("Save settings", false);
  term.Keys("M-F4");
  EXPECT_EQ(term.ExitCode(), 0);

  const std::string ini = m.Read("C:\\WINDOWS\\SYSTEM.INI");
  EXPECT_NE(ini.find("[PowerOff]\r\nQueryUser=No\r\nUserSet=Yes\r\nLOGOFF=No\r\nSHUTDOWN=Yes\r\nREBOOT=Yes\r\n"
                     "FORCE=No\r\nPOWEROFF=Yes\r\n"),
            std::string::npos)
      << ini;
  auto commands = JournalEvents(journal, "MenuCommand");
  ASSERT_EQ(commands.size(), 3u);
  for (auto& c : commands) EXPECT_EQ(c["by"], "terminal");
  EXPECT_TRUE(JournalEvents(journal, "ExitWindowsEx").empty());
  fs::remove(journal);
}

}  // namespace
}  // namespace scenario
