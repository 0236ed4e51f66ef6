// The shutdown program on a temporary machine: its settings in SYSTEM.INI, its command line, its
// start and delay, its dialogs and their placement, and a second instance.  WinMain runs here
// with its message loop; the simulated user's input comes from the session (answers, menu).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "talmorix.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::TestMachine;
using w9x::testing::TestMachineOptions;
using Section = std::map<std::string, std::string>;

const char kSystemIni[] = "C:\\WINDOWS\\SYSTEM.INI";

// Every start of the program begins with its variables' initial values.
void ResetProgram() {
  bQueryFlag = 1;
  uExitFlags = 9;
  nWait = -1;
  bSetup = 0;
  g_hWndParent = nullptr;
  hMenu = nullptr;
  hAccel = nullptr;
}

TestMachineOptions Options(std::vector<std::string> answers = {}, std::vector<std::string> input = {}) {
  TestMachineOptions o;
  o.module_path = "C:\\WINDOWS\\TALMORIX.EXE";
  o.journal = true;
  o.session.fast = true;
  o.session.answers = std::move(answers);
  o.session.window_input = std::move(input);
  return o;
}

// The [PowerOff] section as written on disk, key -> value.
Section PowerOff(const TestMachine& m) {
  Section out;
  const std::string ini = m.ReadFile(kSystemIni);
  bool in = false;
  std::size_t start = 0;
  while (start < ini.size()) {
    std::size_t end = ini.find('\n', start);
    std::string line = ini.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? ini.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      in = line == "[PowerOff]";
      continue;
    }
    auto eq = line.find('=');
    if (in && eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

void WritePowerOff(const TestMachine& m, const std::string& body) {
  m.WriteFile(kSystemIni, "[boot]\r\nshell=Explorer.exe\r\n\r\n[PowerOff]\r\n" + body);
}

int StartProgram(const char* command_line) {
  ResetProgram();
  std::string line = command_line;
  return WinMain(GetModuleHandleA(nullptr), nullptr, line.data(), SW_SHOWNORMAL);
}

std::vector<std::string> EventNames(const TestMachine& m) {
  std::vector<std::string> names;
  for (auto& e : m.Events()) names.push_back(e["event"]);
  return names;
}

std::size_t IndexOf(const std::vector<std::string>& names, const std::string& name) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return i;
  return names.size();
}

// ---------------------------------------------------------------------------------------------
// Settings

struct ReadCase {
  const char* section;  // nullptr: no [PowerOff] section at all
  BOOL query;
  UINT flags;
  int wait;
};

class LoadFlagsTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(LoadFlagsTest, ReadsTheSection) {
  TestMachine m(Options());
  if (GetParam().section) WritePowerOff(m, GetParam().section);
  ResetProgram();
  bQueryFlag = 7;  // replaced whatever it was
  uExitFlags = 0xFF;
  LoadFlags();
  EXPECT_EQ(bQueryFlag, GetParam().query);
  EXPECT_EQ(uExitFlags, GetParam().flags);
  EXPECT_EQ(nWait, GetParam().wait);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadFlagsTest,
    ::testing::Values(
        ReadCase{nullptr, 1, 9, -1},                                   // no section: ask, word 9, no delay key
        ReadCase{"QueryUser=no\r\n", 0, 9, -1},                        // "No" in any case turns the query off
        ReadCase{"QueryUser=NO\r\n", 0, 9, -1},
        ReadCase{"QueryUser=off\r\n", 1, 9, -1},                       // any other value leaves it on
        ReadCase{"QueryUser=0\r\n", 1, 9, -1},
        ReadCase{"QueryUser=\r\n", 1, 9, -1},
        ReadCase{"QueryUser=Nooooooooo\r\n", 1, 9, -1},                // cut to 7 characters: not "No"
        ReadCase{"DefMood=No\r\n", 1, 13, -1},                         // the forced standard word
        ReadCase{"DefMood=no\r\nFORCE=Yes\r\n", 1, 13, -1},            // flag keys need UserSet
        ReadCase{"UserSet=Yes\r\n", 1, 9, -1},                         // no flag keys: 9
        ReadCase{"UserSet=YES\r\nREBOOT=yes\r\nPOWEROFF=NO\r\n", 1, 3, -1},  // toggles from 9
        ReadCase{"DefMood=No\r\nUserSet=Yes\r\nFORCE=Yes\r\n", 1, 9, -1},    // 13 with bit 4 toggled off
        ReadCase{"DefMood=No\r\nUserSet=Yes\r\nSHUTDOWN=No\r\n", 1, 12, -1}, // toggles start from 13
        ReadCase{"UserSet=Yes\r\nLOGOFF=Yes\r\n", 1, 9, -1},           // LOGOFF is never read
        ReadCase{"UserSet=Yessss\r\nREBOOT=Yes\r\n", 1, 9, -1},        // UserSet must be exactly "Yes"
        ReadCase{"Wait=2500\r\n", 1, 9, 2500},
        ReadCase{"Wait=0\r\n", 1, 9, 0},
        ReadCase{"Wait=-1\r\n", 1, 9, -1}));

// Every state the menu can reach: the query on or off, and each of the 16 flag words (103 gives
// 0, the toggles 104 to 107 every combination from there).
TEST(SaveFlags, EveryReachableStateReadsBackAsSaved) {
  TestMachine m(Options());
  WritePowerOff(m, "Wait=1234\r\nUserSet=Yes\r\nREBOOT=Yes\r\n");
  for (BOOL query : {0, 1}) {
    for (UINT word = 0; word < 16; ++word) {
      ResetProgram();
      bQueryFlag = query;
      uExitFlags = word;
      SaveFlags();
      bQueryFlag = !query;
      uExitFlags = 0x55;
      LoadFlags();
      EXPECT_EQ(bQueryFlag, query) << "word " << word;
      EXPECT_EQ(uExitFlags, word) << "query " << query;
      EXPECT_EQ(nWait, 1234) << "a hand-written delay survives every save";
    }
  }
}

struct SaveCase {
  BOOL query;
  UINT flags;
  Section keys;  // the whole section afterwards, besides Wait
};

class SaveFlagsTest : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveFlagsTest, WritesExactlyTheseKeys) {
  TestMachine m(Options());
  // Keys of an earlier save of another kind are all gone afterwards.
  WritePowerOff(m, "Wait=15\r\nQueryUser=No\r\nDefMood=No\r\nUserSet=Yes\r\nLOGOFF=No\r\nSHUTDOWN=Yes\r\n"
                   "REBOOT=Yes\r\nFORCE=No\r\nPOWEROFF=No\r\n");
  ResetProgram();
  bQueryFlag = GetParam().query;
  uExitFlags = GetParam().flags;
  SaveFlags();
  Section expected = GetParam().keys;
  expected["Wait"] = "15";
  EXPECT_EQ(PowerOff(m), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveFlagsTest,
    ::testing::Values(
        SaveCase{1, 9, {}},                                            // the standard: nothing but Wait
        SaveCase{0, 9, {{"QueryUser", "No"}}},
        SaveCase{1, 13, {{"DefMood", "No"}}},
        SaveCase{0, 13, {{"QueryUser", "No"}, {"DefMood", "No"}}},
        SaveCase{1, 0,                                                 // log-off
                 {{"UserSet", "Yes"}, {"LOGOFF", "Yes"}, {"SHUTDOWN", "No"}, {"REBOOT", "No"}, {"FORCE", "No"},
                  {"POWEROFF", "No"}}},
        SaveCase{1, 4,                                                 // forced log-off
                 {{"UserSet", "Yes"}, {"LOGOFF", "No"}, {"SHUTDOWN", "No"}, {"REBOOT", "No"}, {"FORCE", "Yes"},
                  {"POWEROFF", "No"}}},
        SaveCase{0, 3,
                 {{"QueryUser", "No"}, {"UserSet", "Yes"}, {"LOGOFF", "No"}, {"SHUTDOWN", "Yes"}, {"REBOOT", "Yes"},
                  {"FORCE", "No"}, {"POWEROFF", "No"}}}));

// Whatever SYSTEM.INI holds, reading it gives settings the program can work with, and a save
// that cannot be written leaves the file whole: its old content or the new one, nothing between.
TEST(SettingsFile, AnyContentReadsAndAFailedSaveLeavesTheFileWhole) {
  std::string noise;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(seed >> 16));
  }
  const std::string huge(100000, 'o');
  const std::vector<std::string> contents = {
      noise,
      "[PowerOff]\r\n" + noise,
      "[PowerOff]\r\nQueryUser=N" + huge + "\r\nDefMood=No" + huge + "\r\nUserSet=Yes\r\nREBOOT=Yes" + huge +
          "\r\nWait=" + std::string(100000, '9') + "\r\n",
      "[PowerOff]\r\n" + huge + "\r\n[" + huge + "\r\n",
  };
  for (const std::string& content : contents) {
    TestMachine m(Options());
    m.WriteFile(kSystemIni, content);
    ResetProgram();
    LoadFlags();
    EXPECT_TRUE(bQueryFlag == 0 || bQueryFlag == 1);
    EXPECT_LT(uExitFlags, 16u);
  }

  TestMachine missing(Options());
  std::filesystem::remove(missing.Root() / "C" / "WINDOWS" / "SYSTEM.INI");
  ResetProgram();
  LoadFlags();
  EXPECT_EQ(bQueryFlag, 1);
  EXPECT_EQ(uExitFlags, 9u);
  EXPECT_EQ(nWait, -1);

  TestMachine locked(Options());
  const std::string before = "[PowerOff]\r\nQueryUser=No\r\n";
  locked.WriteFile(kSystemIni, before);
  const auto host = locked.Root() / "C" / "WINDOWS" / "SYSTEM.INI";
  std::filesystem::permissions(host, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
  ResetProgram();
  uExitFlags = 13;
  SaveFlags();
  const std::string after = locked.ReadFile(kSystemIni);
  EXPECT_TRUE(after == before || after == "[PowerOff]\r\nDefMood=No\r\n")
      << after;
}

// ---------------------------------------------------------------------------------------------
// Start

struct CommandLineCase {
  const char* line;
  BOOL setup;
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, SelectsTheMode) { EXPECT_EQ(IsSetupCommandLine(GetParam().line) != 0, GetParam().setup != 0); }

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineTest,
                         ::testing::Values(CommandLineCase{"setup", 1}, CommandLineCase{"SETUP", 1},
                                           CommandLineCase{"Setup", 1}, CommandLineCase{"setup ", 0},
                                           CommandLineCase{"/setup", 0}, CommandLineCase{"setup x", 0},
                                           CommandLineCase{"", 0}));

std::vector<nlohmann::json> ExitCalls(const TestMachine& m) { return m.Events("ExitWindowsEx"); }

TEST(Start, WaitMinusOneStartsWhenTheLoopRuns) {
  TestMachine m(Options());
  WritePowerOff(m, "QueryUser=No\r\n");
  EXPECT_EQ(StartProgram(""), 0);
  auto names = EventNames(m);
  ASSERT_EQ(ExitCalls(m).size(), 1u);
  EXPECT_EQ(ExitCalls(m)[0]["flags"], 9);
  EXPECT_LT(IndexOf(names, "ShowWindow"), IndexOf(names, "CreateThread"));
  EXPECT_TRUE(m.Events("SetTimer").empty());
}

TEST(Start, WaitZeroStartsInsideWindowCreation) {
  TestMachine m(Options());
  WritePowerOff(m, "QueryUser=No\r\nWait=0\r\n");
  EXPECT_EQ(StartProgram(""), 0);
  auto names = EventNames(m);
  // The thread starts before CreateWindowExA has returned, so before the window is shown.
  EXPECT_LT(IndexOf(names, "CreateThread"), IndexOf(names, "ShowWindow"));
  EXPECT_EQ(ExitCalls(m).size(), 1u);
}

TEST(Start, PositiveWaitStartsWhenTheTimerComes) {
  TestMachine m(Options());
  WritePowerOff(m, "QueryUser=No\r\nWait=4000\r\n");
  EXPECT_EQ(StartProgram(""), 0);
  auto timers = m.Events("SetTimer");
  auto ticks = m.Events("WM_TIMER");
  ASSERT_EQ(timers.size(), 1u);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(timers[0]["period"], 4000);
  EXPECT_GE(ticks[0]["at"].get<std::uint64_t>() - timers[0]["at"].get<std::uint64_t>(), 4000u);
  auto names = EventNames(m);
  EXPECT_LT(IndexOf(names, "WM_TIMER"), IndexOf(names, "CreateThread"));
  EXPECT_EQ(m.Events("KillTimer").size(), 1u);
  EXPECT_EQ(ExitCalls(m).size(), 1u);
}

// Without its shutdown thread the hidden program would wait for ever: it ends, without a shutdown.
TEST(Start, AShutdownThreadThatCannotBeMadeEndsTheProgram) {
  for (const char* section : {"QueryUser=No\r\n", "QueryUser=No\r\nWait=0\r\n", ""}) {
    TestMachine m(Options({"OK"}));
    WritePowerOff(m, section);
    m.process().Faults().Fail("CreateThread", 0, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(StartProgram(""), 0) << section;
    EXPECT_EQ(m.Events("InjectedFault").size(), 1u) << section;
    EXPECT_TRUE(ExitCalls(m).empty()) << section;
    std::size_t main_destroyed = 0;
    for (auto& e : m.Events("DestroyWindow")) main_destroyed += e["title"] == "TALMORIX.EXE";
    EXPECT_EQ(main_destroyed, 1u) << section;
    EXPECT_TRUE(m.Events("UserClose").empty()) << "ended by itself, not closed by the user: " << section;
  }
}

// ---------------------------------------------------------------------------------------------
// The query dialogs

struct DialogCase {
  const char* section;
  const char* answer;
  int template_id;
  int result;
  int flags;  // handed to ExitWindowsEx; -1: not called
};

class QueryDialogTest : public ::testing::TestWithParam<DialogCase> {};

TEST_P(QueryDialogTest, ButtonDecides) {
  const DialogCase& c = GetParam();
  TestMachine m(Options({c.answer}));
  WritePowerOff(m, c.section);
  EXPECT_EQ(StartProgram(""), 0);
  auto dialogs = m.Events("DialogBoxParamA");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["template"], std::to_string(c.template_id));
  EXPECT_EQ(dialogs[0]["result"], c.result);
  EXPECT_EQ(dialogs[0]["icon"], "!");
  if (c.flags < 0) {
    EXPECT_TRUE(ExitCalls(m).empty());
  } else {
    ASSERT_EQ(ExitCalls(m).size(), 1u);
    EXPECT_EQ(ExitCalls(m)[0]["flags"], c.flags);
  }
  // The settings file is never written by the shutdown path.
  Section before;
  if (std::string(c.section).find("DefMood") != std::string::npos) before["DefMood"] = "No";
  EXPECT_EQ(PowerOff(m), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryDialogTest,
    ::testing::Values(DialogCase{"", "OK", 1000, 1, 9}, DialogCase{"", "CANCEL", 1000, 2, -1},
                      DialogCase{"", "ENTER", 1000, 1, 9},  // OK is the default button
                      DialogCase{"", "ESC", 1000, 2, -1},
                      DialogCase{"DefMood=No\r\n", "1", 1001, 1, 13},   // はい: forced
                      DialogCase{"DefMood=No\r\n", "7", 1001, 7, 9},    // いいえ: not forced, this run only
                      DialogCase{"DefMood=No\r\n", "CANCEL", 1001, 2, -1},
                      DialogCase{"DefMood=No\r\n", "ENTER", 1001, 1, 13},
                      DialogCase{"DefMood=No\r\n", "ESC", 1001, 2, -1}));

TEST(QueryDialog, ShowsTheTextsOfTheTemplates) {
  TestMachine m(Options({"CANCEL"}));
  EXPECT_EQ(StartProgram(""), 0);
  auto dialogs = m.Events("DialogBoxParamA");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["title"], "Windows の終了");
  EXPECT_EQ(dialogs[0]["texts"], nlohmann::json({"Windows を終了します。", "よろしいですか？"}));
  EXPECT_EQ(dialogs[0]["buttons"],
            nlohmann::json::parse(R"([{"id":1,"text":"OK"},{"id":2,"text":"キャンセル"}])"));
  EXPECT_EQ(dialogs[0]["by"], "answer");
}

struct PlacementCase {
  unsigned width, height;  // the desktop
  const char* section;
  int x, y;
};

class DialogPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

// Dialog 1000 is 255 x 118 pixels, dialog 1001 525 x 136 (9-point font, dialog frame, caption).
TEST_P(DialogPlacementTest, CentredOnTheDesktopAndTopmost) {
  const PlacementCase& c = GetParam();
  TestMachine m(Options({"CANCEL"}));
  std::string ini = m.machine().Config().Serialize() + "\r\n[Display]\r\nWidth=" + std::to_string(c.width) +
                    "\r\nHeight=" + std::to_string(c.height) + "\r\n";
  std::FILE* f = std::fopen((m.Root() / "machine.ini").c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(ini.data(), 1, ini.size(), f);
  std::fclose(f);
  m.Reload();
  WritePowerOff(m, c.section);
  EXPECT_EQ(StartProgram(""), 0);
  auto moves = m.Events("SetWindowPos");
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0]["x"], c.x);
  EXPECT_EQ(moves[0]["y"], c.y);
  EXPECT_EQ(moves[0]["topmost"], true);
}

INSTANTIATE_TEST_SUITE_P(Cases, DialogPlacementTest,
                         ::testing::Values(PlacementCase{800, 600, "", 272, 241},      // 545 / 2 truncated
                                           PlacementCase{801, 601, "", 273, 241},
                                           PlacementCase{1024, 768, "DefMood=No\r\n", 249, 316},
                                           PlacementCase{201, 101, "", -27, -8}));  // signed, toward zero

// ---------------------------------------------------------------------------------------------
// Settings window

TEST(SettingsWindow, MenuCommandsChangeAndSaveTheSettings) {
  TestMachine m(Options({}, {"menu:103", "menu:106", "menu:102", "menu:101", "menu:109"}));
  EXPECT_EQ(StartProgram("setup"), 0);
  EXPECT_EQ(PowerOff(m), (Section{{"QueryUser", "No"}, {"UserSet", "Yes"}, {"LOGOFF", "No"}, {"SHUTDOWN", "No"},
                                  {"REBOOT", "No"}, {"FORCE", "Yes"}, {"POWEROFF", "No"}}));
  EXPECT_TRUE(ExitCalls(m).empty());  // no menu command shuts down
  auto created = m.Events("CreateWindowExA");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0]["title"], "TALMORIX.EXE");
  EXPECT_EQ(created[0]["style"], "0x00C80000");
}

TEST(SettingsWindow, EscapeHidesAndTheUserClosesTheHiddenProgram) {
  TestMachine m(Options({}, {"key:ESC"}));
  EXPECT_EQ(StartProgram("setup"), 0);
  auto shows = m.Events("ShowWindow");
  ASSERT_GE(shows.size(), 2u);
  EXPECT_EQ(shows[1]["visible"], false);
  auto closes = m.Events("UserClose");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0]["how"], "close-program");
}

TEST(SettingsWindow, WithNoInputTheUserPressesAltF4) {
  TestMachine m(Options());
  EXPECT_EQ(StartProgram("setup"), 0);
  auto closes = m.Events("UserClose");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0]["how"], "ALT+F4");
  EXPECT_EQ(m.Events("DestroyWindow").size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Second instance

class OtherProcess {
 public:
  OtherProcess() : pid_(fork()) {
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  ~OtherProcess() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  int pid() const { return pid_; }

 private:
  int pid_;
};

struct SecondCase {
  const char* command_line;
  bool visible_before;
  bool visible_after;
};

class SecondInstanceTest : public ::testing::TestWithParam<SecondCase> {};

TEST_P(SecondInstanceTest, OnlyShowsOrHidesTheFirst) {
  OtherProcess first;
  TestMachine m(Options());
  w9x::WindowRecord r{.title = "TALMORIX.EXE", .class_name = "TALMORIX", .visible = GetParam().visible_before,
                      .host_pid = first.pid(), .owner = "TALMORIX.EXE"};
  const std::uint32_t hwnd = m.machine().Shared().CreateWindowRecord(r);
  EXPECT_EQ(StartProgram(GetParam().command_line), 0);
  EXPECT_EQ(m.machine().Shared().ReadWindow(hwnd)->visible, GetParam().visible_after);
  EXPECT_TRUE(m.Events("CreateWindowExA").empty());
  EXPECT_TRUE(ExitCalls(m).empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SecondInstanceTest,
                         ::testing::Values(SecondCase{"", true, false},        // a plain start hides it
                                           SecondCase{"", false, false},       // ... also a hidden one
                                           SecondCase{"setup", false, true}));  // "setup" shows it

}  // namespace
