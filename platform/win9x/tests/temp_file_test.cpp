#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using testing::Sjis;
using testing::TestMachine;
using testing::TestMachineOptions;

TEST(TempFileName, NumberZeroCreatesAnEmptyFileUnderAFreeName) {
  TestMachine m(TestMachineOptions{.journal = true});
  char first[MAX_PATH], second[MAX_PATH];
  UINT n = GetTempFileNameA("C:\\", "zyx", 0, first);
  ASSERT_NE(n, 0u);
  char expected[MAX_PATH];
  std::snprintf(expected, sizeof expected, "C:\\zyx%X.TMP", n);
  EXPECT_STREQ(first, expected);
  EXPECT_TRUE(m.Exists(first));
  EXPECT_EQ(fs::file_size(m.Host(first)), 0u);

  ASSERT_NE(GetTempFileNameA("C:\\", "zyx", 0, second), 0u);
  EXPECT_STRNE(first, second);
  EXPECT_TRUE(m.Exists(first));  // the first file is left alone

  auto events = m.Events("GetTempFileNameA");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]["name"], first);
  EXPECT_EQ(events[0]["result"], true);
}

TEST(TempFileName, SkipsNamesThatAreTaken) {
  // The count starts from the clock in milliseconds: take the next thousand names, in either
  // case, one of them as a folder, and the next call goes past all of them.
  TestMachine m;
  char name[MAX_PATH];
  const UINT start = GetTempFileNameA("C:\\", "zyx", 0, name);
  ASSERT_NE(start, 0u);
  auto taken = [](UINT n) {
    char s[32];
    std::snprintf(s, sizeof s, n % 2 ? "C:\\ZYX%X.TMP" : "C:\\zyx%x.tmp", n);
    return std::string(s);
  };
  for (UINT n = start + 1; n < start + 1000; ++n) {
    if (n == start + 7) fs::create_directories(m.Host(taken(n)));
    else m.WriteFile(taken(n), "taken");
  }
  EXPECT_EQ(GetTempFileNameA("C:\\", "zyx", 0, name), start + 1000);
  EXPECT_EQ(m.ReadFile(taken(start + 1)), "taken");
}

TEST(TempFileName, FolderAndPrefixFormTheName) {
  TestMachine m;
  struct Case {
    const char* folder;
    const char* prefix;
    std::string name;  // with [0-9A-F]+ for the number
  } cases[] = {
      {"C:\\WINDOWS", "zyx", R"(C:\\WINDOWS\\zyx[0-9A-F]+\.TMP)"},
      {"C:\\WINDOWS\\", "abcdef", R"(C:\\WINDOWS\\abc[0-9A-F]+\.TMP)"},
      {"C:\\", nullptr, R"(C:\\[0-9A-F]+\.TMP)"},
      {".", "t", R"(\.\\t[0-9A-F]+\.TMP)"},  // relative to the current folder, as given
  };
  for (const Case& c : cases) {
    char name[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(c.folder, c.prefix, 0, name), 0u) << c.folder;
    EXPECT_TRUE(std::regex_match(name, std::regex(c.name))) << name;
    EXPECT_TRUE(m.Exists(c.folder[0] == '.' ? "C:\\KIT\\" + std::string(name + 2) : std::string(name))) << name;
  }
  // A double-byte character is never cut in half: of 表示 only 表 fits in three bytes.
  char name[MAX_PATH];
  ASSERT_NE(GetTempFileNameA("C:\\", Sjis("表示").c_str(), 0, name), 0u);
  EXPECT_EQ(std::string(name).substr(0, 5), Sjis("C:\\表"));
  EXPECT_NE(std::string(name).substr(5, 1), "\x8E");
}

TEST(TempFileName, AGivenNumberOnlyFormsTheName) {
  TestMachine m;
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("C:\\", "zyx", 0x1A2B, name), 0x1A2Bu);
  EXPECT_STREQ(name, "C:\\zyx1A2B.TMP");
  EXPECT_FALSE(m.Exists(name));
  EXPECT_EQ(GetTempFileNameA("C:\\", "zyx", 0x12345, name), 0x2345u);  // the low 16 bits
  EXPECT_STREQ(name, "C:\\zyx2345.TMP");
}

TEST(TempFileName, MissingFolderFails) {
  TestMachine m;
  char name[MAX_PATH] = "unchanged";
  for (const char* folder : {"C:\\MISSING", "C:\\AUTOEXEC.BAT", "Q:\\", ""}) {
    SetLastError(0);
    EXPECT_EQ(GetTempFileNameA(folder, "zyx", 0, name), 0u) << folder;
    EXPECT_NE(GetLastError(), 0u) << folder;
  }
  EXPECT_STREQ(name, "unchanged");
  SetLastError(0);
  GetTempFileNameA("C:\\MISSING", "zyx", 0, name);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(m.Exists("C:\\MISSING"));
}

}  // namespace
}  // namespace w9x
