// The shutdown program run by `w9x run`, `w9x start` and `w9x stop`: its dialogs answered by the
// run's script, the end of the session as the run reports it, launcher windows that agree or
// refuse, and a first instance left running while a second one starts.
#include <gtest/gtest.h>

#include <fstream>

#include "scenario_support.h"

namespace scenario {
namespace {

const char kTalmorix[] = "C:\\WINDOWS\\TALMORIX.EXE";

void Prepare(Machine& m, const std::string& power_off = "") {
  m.Write(kTalmorix, "MZ");
  if (!power_off.empty())
    std::ofstream(m.Host("C:\\WINDOWS\\SYSTEM.INI"), std::ios::app) << "\r\n[PowerOff]\r\n" << power_off;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct EndCase {
  const char* power_off;
  std::vector<std::string> options;
  int flags;         // of ExitWindowsEx; -1 when it is not called
  int result;
  const char* line;  // what the run says at the end; empty when the session goes on
};

class TalmorixRun : public ::testing::TestWithParam<EndCase> {};

TEST_P(TalmorixRun, EndsTheSessionAsTheSettingsAndTheUserSay) {
  const EndCase& c = GetParam();
  Machine m("win98se");
  Prepare(m, c.power_off);
  Result r = m.Run(kTalmorix, c.options);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  auto calls = m.Events("ExitWindowsEx");
  if (c.flags < 0) {
    EXPECT_TRUE(calls.empty());
  } else {
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["flags"], c.flags);
    EXPECT_EQ(calls[0]["result"], c.result);
  }
  if (*c.line) {
    EXPECT_TRUE(Contains(r.out, std::string(c.line) + "\n")) << r.out;
  } else {
    EXPECT_FALSE(Contains(r.out, "Windows was")) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TalmorixRun,
    ::testing::Values(
        EndCase{"", {"--answer", "OK", "--window", "Launcher"}, 9, 1, "Windows was shut down and switched off"},
        EndCase{"", {"--answer", "CANCEL", "--window", "Launcher"}, -1, 0, ""},
        // A window that refuses stops a session end that is not forced ...
        EndCase{"", {"--answer", "OK", "--window", "Editor:refuse"}, 9, 0, ""},
        // ... but not a forced one ("はい" of dialog 1001).
        EndCase{"DefMood=No\r\n", {"--answer", "1", "--window", "Editor:refuse"}, 13, 1,
                "Windows was shut down and switched off"},
        // "いいえ" drops EWX_FORCE for this run: the refusal counts again.
        EndCase{"DefMood=No\r\n", {"--answer", "7", "--window", "Editor:refuse"}, 9, 0, ""},
        EndCase{"QueryUser=No\r\nUserSet=Yes\r\nREBOOT=Yes\r\nPOWEROFF=No\r\n", {}, 3, 1, "Windows was restarted"},
        EndCase{"QueryUser=No\r\nUserSet=Yes\r\nSHUTDOWN=No\r\nPOWEROFF=No\r\n", {}, 0, 1, "The user was logged off"},
        EndCase{"QueryUser=No\r\nWait=30000\r\nUserSet=Yes\r\nPOWEROFF=No\r\n", {"--fast"}, 1, 1,
                "Windows was shut down"}));

TEST(TalmorixRun, TheJournalShowsTheDialogAndTheLauncherAsked) {
  Machine m("win98se");
  Prepare(m);
  Result r = m.Run(kTalmorix, {"--answer", "OK", "--window", "Launcher"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto dialogs = m.Events("DialogBoxParamA");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["template"], "1000");
  EXPECT_EQ(dialogs[0]["pressed"], 1);
  EXPECT_EQ(dialogs[0]["by"], "answer");
  auto calls = m.Events("ExitWindowsEx");
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0]["asked"].size(), 1u);
  EXPECT_EQ(calls[0]["asked"][0]["title"], "Launcher");
  EXPECT_EQ(calls[0]["asked"][0]["answer"], 1);
  auto created = m.Events("CreateWindowExA");
  ASSERT_EQ(created.size(), 2u);  // the hidden main window and the dialog
  EXPECT_EQ(created[0]["visible"], false);
}

// With the scripted input used up the simulated user closes the program: Alt+F4 on the shown
// window, the close-program dialog once Escape (or "&Hide") has hidden it; never a shutdown.
TEST(TalmorixRun, ASettingsWindowLeftAloneIsClosedByTheUser) {
  struct Case {
    std::vector<std::string> options;
    const char* how;
  };
  for (const Case& c : {Case{{"--menu", "102", "--menu", "101"}, "ALT+F4"},
                        Case{{"--menu", "102", "--menu", "101", "--key", "ESC"}, "close-program"},
                        Case{{"--menu", "102", "--menu", "101", "--menu", "108"}, "close-program"}}) {
    Machine m("win98se");
    Prepare(m);
    Result r = m.Run(kTalmorix, c.options, {"setup"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto closes = m.Events("UserClose");
    ASSERT_EQ(closes.size(), 1u) << c.how;
    EXPECT_EQ(closes[0]["how"], c.how);
    EXPECT_TRUE(Contains(m.Read("C:\\WINDOWS\\SYSTEM.INI"), "[PowerOff]\r\nQueryUser=No\r\n")) << c.how;
    EXPECT_TRUE(m.Events("ExitWindowsEx").empty());
  }
}

// The shutdown thread cannot be made: the program ends by itself with 0 and nothing is shut down.
TEST(TalmorixRun, NoShutdownThreadEndsTheProgramWithoutAShutdown) {
  Machine m("win98se");
  Prepare(m);
  Result r = m.Run(kTalmorix, {"--fail", "CreateThread", "--answer", "OK", "--window", "Launcher"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(m.Events("ExitWindowsEx").empty());
  ASSERT_EQ(m.Events("InjectedFault").size(), 1u);
  EXPECT_EQ(m.Events("InjectedFault")[0]["call"], "CreateThread");
  EXPECT_TRUE(m.Events("UserClose").empty());
  EXPECT_FALSE(Contains(r.out, "Windows was")) << r.out;
}

TEST(TalmorixRun, ScriptErrorsAreRunnerErrors) {
  Machine m("win98se");
  Prepare(m);
  for (auto options : {std::vector<std::string>{"--menu", "abc"}, std::vector<std::string>{"--menu", "70000"},
                       std::vector<std::string>{"--fail", "CreateThreads"}}) {
    Result r = m.Run(kTalmorix, options);
    EXPECT_EQ(r.exit_code, 125) << options[1];
    EXPECT_FALSE(r.err.empty());
  }
}

// A first instance hidden with Escape keeps running; a plain start only hides it (no shutdown),
// a "setup" start shows it again; `w9x stop` ends it and the machine's runtime folder goes.
TEST(TalmorixStart, ASecondStartOnlyShowsOrHidesTheFirst) {
  Machine m("win98se");
  Prepare(m);
  Result started = W9x({"start", m.Root().string(), "--menu", "108", "--", kTalmorix, "setup"});
  ASSERT_EQ(started.exit_code, 0) << started.err;

  Result plain = m.Run(kTalmorix);
  EXPECT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_TRUE(m.Events("ExitWindowsEx").empty());
  EXPECT_TRUE(m.Events("CreateWindowExA").empty());
  auto shows = m.Events("ShowWindow");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_EQ(shows[0]["visible"], false);
  EXPECT_FALSE(Contains(plain.out, "Windows was"));

  Result setup = m.Run(kTalmorix, {}, {"setup"});
  EXPECT_EQ(setup.exit_code, 0) << setup.err;
  shows = m.Events("ShowWindow");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_EQ(shows[0]["was_visible"], false);
  EXPECT_EQ(shows[0]["visible"], true);

  Result stopped = W9x({"stop", m.Root().string()});
  EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
  EXPECT_FALSE(fs::exists(m.Root() / ".w9x"));
}

}  // namespace
}  // namespace scenario
