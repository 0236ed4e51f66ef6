// WinExec: how the program of a command line is found, and what the journal records.
// (Starting one of the kit's own programs is covered by the scenario tests.)
#include <windows.h>

#include <gtest/gtest.h>

#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::Sjis;
using testing::TestMachine;
using testing::TestMachineOptions;

struct ExecCase {
  const char* command_line;  // UTF-8
  const char* program;       // UTF-8; null: none found
};

class WinExecSearch : public ::testing::TestWithParam<ExecCase> {};

TEST_P(WinExecSearch, FindsTheProgram) {
  const ExecCase& c = GetParam();
  TestMachineOptions o;
  o.journal = true;
  TestMachine m(o);  // the current folder is C:\KIT
  for (const char* file : {"C:\\KIT\\TOOL.EXE", "C:\\WINDOWS\\TOOL.EXE", "C:\\WINDOWS\\SYSTEM\\SYSTOOL.EXE",
                           "C:\\MY KIT\\SETUP.EXE", "C:\\OTHER\\MY.EXE", "C:\\OTHER\\MY KIT\\SETUP.EXE",
                           "C:\\KIT\\SUB\\X.EXE", "C:\\WINDOWS\\SUB2\\Y.EXE", "C:\\表 示\\表.EXE",
                           "C:\\KIT\\README.TXT"})
    m.WriteFile(file, "MZ");
  const std::string line = Sjis(c.command_line);
  const UINT result = WinExec(line.c_str(), SW_HIDE);
  EXPECT_EQ(result, c.program ? 33u : 2u) << c.command_line;
  auto events = m.Events("WinExec");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["command_line"], c.command_line);
  EXPECT_EQ(events[0]["show"], 0);
  if (c.program) EXPECT_EQ(events[0]["program"], c.program) << c.command_line;
  else EXPECT_TRUE(events[0]["program"].is_null()) << c.command_line;
  EXPECT_EQ(events[0]["result"], result);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WinExecSearch,
    ::testing::Values(
        ExecCase{"rundll32.exe advpack.dll,LaunchINFSection C:\\KIT\\A.INF", "C:\\WINDOWS\\RUNDLL32.EXE"},
        ExecCase{"RUNDLL setupx.dll,InstallHinfSection DefaultInstall 132 C:\\A.INF", "C:\\WINDOWS\\RUNDLL.EXE"},
        ExecCase{"TOOL.EXE", "C:\\KIT\\TOOL.EXE"},                    // the current folder first
        ExecCase{"systool /q", "C:\\WINDOWS\\SYSTEM\\SYSTOOL.EXE"},   // ".EXE" added
        ExecCase{"C:\\MY KIT\\SETUP.EXE /Q", "C:\\MY KIT\\SETUP.EXE"},  // blanks in the folder, unquoted
        ExecCase{"C:\\OTHER\\MY KIT\\SETUP.EXE", "C:\\OTHER\\MY.EXE"},  // the shortest prefix wins
        ExecCase{"\"C:\\OTHER\\MY KIT\\SETUP.EXE\" /Q", "C:\\OTHER\\MY KIT\\SETUP.EXE"},
        ExecCase{"  C:\\MY KIT\\SETUP", "C:\\MY KIT\\SETUP.EXE"},
        ExecCase{"SUB\\X.EXE", "C:\\KIT\\SUB\\X.EXE"},                // a folder: from the current one
        ExecCase{"SUB2\\Y.EXE", nullptr},                             // ... and from nowhere else
        ExecCase{"C:\\表 示\\表.EXE", "C:\\表 示\\表.EXE"},           // 表 ends in 0x5C
        ExecCase{"C:\\KIT\\README.TXT", "C:\\KIT\\README.TXT"},       // any file is started
        ExecCase{"C:\\KIT", nullptr},                                 // a folder is no program
        ExecCase{"NOSUCH.EXE TOOL.EXE", nullptr}, ExecCase{"", nullptr}, ExecCase{"   ", nullptr},
        ExecCase{"C:\\A*.EXE", nullptr}, ExecCase{"\"C:\\MY KIT\\SETUP.EXE", nullptr}));

TEST(WinExec, NullAndOverlongCommandLines) {
  TestMachineOptions o;
  o.journal = true;
  TestMachine m(o);
  EXPECT_EQ(WinExec(nullptr, SW_HIDE), 2u);
  const std::string long_line = "C:\\" + std::string(300, 'A') + " " + std::string(5000, 'B');
  EXPECT_EQ(WinExec(long_line.c_str(), SW_SHOWNORMAL), 2u);
  auto events = m.Events("WinExec");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0]["command_line"].is_null());
  EXPECT_EQ(events[1]["show"], SW_SHOWNORMAL);
}

}  // namespace
}  // namespace w9x
