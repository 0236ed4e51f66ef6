#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;
using testing::TestMachineOptions;

struct VersionCase {
  const char* preset;
  DWORD platform, major, minor, build_number;
};

class VersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionTest, ReportsThePresetsWindows) {
  const VersionCase& c = GetParam();
  TestMachine m(TestMachineOptions{.preset = c.preset});
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, c.platform);
  EXPECT_EQ(info.dwMajorVersion, c.major);
  EXPECT_EQ(info.dwMinorVersion, c.minor);
  EXPECT_EQ(info.dwBuildNumber, c.build_number);
}

INSTANTIATE_TEST_SUITE_P(Presets, VersionTest,
                         ::testing::Values(VersionCase{"win95", 1, 4, 0, 0x040003B6},
                                           VersionCase{"win95osr2", 1, 4, 0, 0x04000457},
                                           VersionCase{"win98", 1, 4, 10, 0x040A07CE},
                                           VersionCase{"win98se", 1, 4, 10, 0x040A08AE},
                                           VersionCase{"winme", 1, 4, 90, 0x045A0BB8},
                                           VersionCase{"nt4", 2, 4, 0, 1381}));

TEST(Version, Windows9xKnowsOnlyThePlainRecord) {
  TestMachine m;
  OSVERSIONINFOA info{};
  for (DWORD size : {0u, 147u, 149u, 156u}) {
    info.dwOSVersionInfoSize = size;
    EXPECT_FALSE(GetVersionExA(&info)) << size;
  }
}

TEST(WindowsDirectory, ReportsLengthOrNeededSize) {
  TestMachine m;
  char buffer[260];
  EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  char small[10];
  EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), 11u);  // does not fit: size with the NUL
}

TEST(Keyboard, ReportsTypeAndSubtypeOfTheMachine) {
  TestMachine m(TestMachineOptions{.preset_options = {.keyboard_type = 7, .keyboard_subtype = 0x0D01}});
  EXPECT_EQ(GetKeyboardType(0), 7);
  EXPECT_EQ(GetKeyboardType(1), 0x0D01);
}

}  // namespace
}  // namespace w9x
