#include <gtest/gtest.h>

#include <random>

#include "app_fixture.h"
#include "dmi_machine.h"

namespace drupdate_test {
namespace {

struct OsCase {
  DWORD platform, major, minor, build;
  int os_kind;
  DWORD build_number;
};

class OsKindTest : public ::testing::TestWithParam<OsCase> {};

TEST_P(OsKindTest, Classifies) {
  const OsCase& c = GetParam();
  AppFixture f;
  f.app.OsKind = -1;
  f.app.BuildNumber = 0;
  OSVERSIONINFOA v{};
  v.dwPlatformId = c.platform;
  v.dwMajorVersion = c.major;
  v.dwMinorVersion = c.minor;
  v.dwBuildNumber = c.build;
  f.app.ClassifyWindows(v);
  EXPECT_EQ(f.app.OsKind, c.os_kind);
  EXPECT_EQ(f.app.BuildNumber, c.build_number);
}

INSTANTIATE_TEST_SUITE_P(Versions, OsKindTest,
                         ::testing::Values(OsCase{0, 3, 10, 0, 1, 0},                      // Win32s
                                           OsCase{1, 4, 0, 0x040003B6, 2, 950},            // Windows 95
                                           OsCase{1, 4, 90, 0x045A0BB8, 2, 3000},          // 4.90
                                           OsCase{1, 4, 10, 0x040A07CE, 4, 1998},          // Windows 98
                                           OsCase{1, 4, 10, 0x040A08AE, 128, 2222},        // Second Edition
                                           OsCase{1, 4, 10, 0x000008AE, 128, 2222},        // only the low word counts
                                           OsCase{2, 4, 0, 1381, 8, 0},                    // NT: no build number
                                           OsCase{3, 4, 0, 1381, 0, 0}));                  // unknown platform

struct KeyboardCase {
  DWORD type, subtype;
  const char* subtype_line;  // [keyboard] line in SYSTEM.INI, or null for none
  int expected;
};

class KeyboardCheckTest : public ::testing::TestWithParam<KeyboardCase> {};

TEST_P(KeyboardCheckTest, Decides) {
  const KeyboardCase& c = GetParam();
  TestMachineOptions o = Options("win98se");
  o.preset_options = {.keyboard_type = c.type, .keyboard_subtype = c.subtype};
  AppFixture f(o);
  if (c.subtype_line) {
    std::string ini = f.machine.ReadFile("C:\\WINDOWS\\SYSTEM.INI");
    ini.replace(ini.find("[keyboard]\r\n"), 12, std::string("[keyboard]\r\n") + c.subtype_line + "\r\n");
    f.machine.WriteFile("C:\\WINDOWS\\SYSTEM.INI", ini);
  }
  EXPECT_EQ(f.app.KeyboardCheck(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keyboards, KeyboardCheckTest,
    ::testing::Values(KeyboardCase{4, 0, nullptr, 1},                 // not Japanese: always true
                      KeyboardCase{4, 0x0D00, "subtype=32767", 1},
                      KeyboardCase{7, 0x0D00, "subtype=2", 0},        // second byte 0x0D: false
                      KeyboardCase{7, 0x0100, nullptr, 1},            // any other non-zero byte: true
                      KeyboardCase{7, 0x0002, nullptr, 0},            // byte 0, no entry: false
                      KeyboardCase{7, 0x0000, "subtype=2", 1},        // byte 0, an entry: true
                      KeyboardCase{7, 0x0000, "SubType = 0", 1},      // names ignore case, blanks trimmed
                      KeyboardCase{7, 0x0000, "subtype=32767", 0}));  // the "missing" value itself

class InitInstanceTest : public ::testing::Test {
 protected:
  // Runs the program's start-up hook; the journal of the run is then available.
  static BOOL RunApp(AppFixture& f) { return f.app.InitInstance(); }
  static std::vector<nlohmann::json> Boxes(AppFixture& f) { return f.machine.Events("MessageBoxA"); }
};

const char kTitle[] = "KVO ユニティパック for Windows(R) 98 Second Edition";
const char kDone[] = "更新処理が終了しました。コンピュータを再起動してください。";
const char kReminder[] = "\n再起動後、Windows(R) 98 Second Edition のセットアップをおこなってください。";

TEST_F(InitInstanceTest, ClosingMessageOnSecondEditionHasOnlyItsFirstPart) {
  AppFixture f(Options("win98se", true));
  EXPECT_FALSE(RunApp(f));
  auto boxes = Boxes(f);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["title"], kTitle);
  EXPECT_EQ(boxes[0]["text"], kDone);
  EXPECT_EQ(boxes[0]["flags"], "0x40");
  ASSERT_EQ(f.machine.Events("Sleep").size(), 1u);
  EXPECT_EQ(f.machine.Events("Sleep")[0]["ms"], 2500);
}

TEST_F(InitInstanceTest, ClosingMessageAsksForTheSetupWhenTheKeyboardCheckIsFalse) {
  for (const char* preset : {"win95", "win98"}) {
    AppFixture f(Options(preset, true));  // type 7, subtype 0, no SYSTEM.INI entry: check is false
    RunApp(f);
    auto boxes = Boxes(f);
    ASSERT_EQ(boxes.size(), 1u) << preset;
    EXPECT_EQ(boxes[0]["text"], std::string(kDone) + kReminder) << preset;
  }
}

TEST_F(InitInstanceTest, TargetGate) {
  struct Case {
    const char* preset;
    const char* general;  // [General] section, or null for no script
    bool runs;
  } cases[] = {
      {"win95", "Target=130", true},   {"win98se", "Target=130", true}, {"win98", "Target=130", false},
      {"nt4", "Target=130", false},    {"win98", "Target=0", false},    {"nt4", nullptr, true},
      {"win98", "Target=-1", true},    {"win98", "Other=1", true},
  };
  for (const Case& c : cases) {
    AppFixture f(Options(c.preset, true));
    if (c.general) f.WriteScript(std::string("[General]\r\n") + c.general + "\r\n");
    RunApp(f);
    EXPECT_EQ(Boxes(f).size(), c.runs ? 1u : 0u) << c.preset << " " << (c.general ? c.general : "(no script)");
    EXPECT_EQ(f.machine.Events("Sleep").size(), c.runs ? 1u : 0u);
  }
}

TEST_F(InitInstanceTest, SecondCopyEndsAtOnce) {
  AppFixture f(Options("win98se", true));
  HANDLE other = CreateMutexA(nullptr, FALSE, "DRUPDATE");  // another copy holds the name
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(RunApp(f));
  EXPECT_TRUE(Boxes(f).empty());
  EXPECT_TRUE(f.machine.Events("Sleep").empty());
  CloseHandle(other);
}

TEST_F(InitInstanceTest, HidesTheLauncherWindow) {
  AppFixture f(Options("win98se", true));
  w9x::WindowRecord launcher{.title = kLauncherTitle, .visible = true, .host_pid = getpid(), .owner = "LAUNCHER"};
  std::uint32_t hwnd = f.machine.machine().Shared().CreateWindowRecord(launcher);
  w9x::WindowRecord other{.title = "Another window", .visible = true, .host_pid = getpid(), .owner = "OTHER"};
  std::uint32_t other_hwnd = f.machine.machine().Shared().CreateWindowRecord(other);
  RunApp(f);
  EXPECT_FALSE(f.machine.machine().Shared().ReadWindow(hwnd)->visible);
  EXPECT_TRUE(f.machine.machine().Shared().ReadWindow(other_hwnd)->visible);
  auto shows = f.machine.Events("ShowWindow");
  ASSERT_EQ(shows.size(), 1u);
  EXPECT_EQ(shows[0]["command"], 0);
}

TEST_F(InitInstanceTest, ModelNameIsCutAtTheFirstBlankAndOnlyQueriedForOneKeyboardFamily) {
  struct Case {
    DWORD keyboard_subtype;  // type 7: 0x0100 makes the keyboard check true, 0x0D00 false
    const char* product;
    const char* model;       // ModelName after the run
    int xy_line_runs;        // the base test of a pass 1 line limited to XY-100*
  } cases[] = {
      {0x0100, "XY-100 A", "XY-100", 1},
      {0x0100, "XY-1000", "XY-1000", 1},
      {0x0100, "AB-123 X", "AB-123", 0},
      {0x0100, "", "", 0},
      {0x0D00, "XY-100 A", "", 0},  // no query at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product);
    TestMachineOptions o = Options("win98se", true);
    o.preset_options = {.keyboard_type = 7, .keyboard_subtype = c.keyboard_subtype};
    o.session.fast = true;
    AppFixture f(o);
    InstallDump(f.machine, Dump({SystemInfo({.product = c.product})}));
    RunApp(f);
    EXPECT_STREQ(f.app.ModelName, c.model);
    EXPECT_EQ(f.machine.Events("DeviceIoControl").size(), c.keyboard_subtype == 0x0100 ? 3u : 0u);
    UpdateCommand line;
    ASSERT_EQ(line.Parse("A,,0,1,-1,0,XY-100*"), 1);
    EXPECT_EQ(line.Run(1), c.xy_line_runs);
  }
}

// Bad scripts run to the closing message: random bytes, NUL bytes, huge lines, many keys.
TEST_F(InitInstanceTest, BadScriptsRunToTheClosingMessage) {
  std::mt19937 random(42);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string keys = "[Command]\r\n";
  for (int i = 0; i < 100000; ++i) keys += std::to_string(i) + "=" + std::to_string(i % 7) + ",F" + std::to_string(i) + "\r\n";
  const std::string scripts[] = {
      noise,
      std::string("[Command]\r\n0=1,A\0B,*\r\n1=\0\0\0\r\n", 28),
      "[Command]\r\n0=1," + std::string(100000, 'x') + "\r\n1=2," + std::string(100000, ',') + "\r\n",
      keys,
  };
  for (const std::string& script : scripts) {
    AppFixture f(Options("win98se", true));
    f.machine.WriteFile("C:\\KIT\\DRUPDATE.INI", script);
    EXPECT_FALSE(RunApp(f));
    EXPECT_EQ(Boxes(f).size(), 1u);
  }
}

}  // namespace
}  // namespace drupdate_test
