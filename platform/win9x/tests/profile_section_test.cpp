// Whole sections of profile files: GetPrivateProfileSectionA and WritePrivateProfileSectionA.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::TestMachine;

constexpr const char* kIni = "C:\\WINDOWS\\WININIT.INI";

// Lines "A=1", "B=22", "C=333": listed in 4 + 5 + 6 bytes and the closing NUL (16).
struct SectionCase {
  DWORD size;
  DWORD count;
  std::string bytes;  // the first `count + 2` bytes of the buffer
};

class SectionRead : public ::testing::TestWithParam<SectionCase> {};

TEST_P(SectionRead, CountAndBuffer) {
  const SectionCase& c = GetParam();
  TestMachine m;
  m.WriteFile(kIni, "[rename]\r\nA=1\r\n  B=22  \r\n\r\nC=333\r\n[next]\r\nD=4\r\n");
  std::string buffer(64, '#');
  EXPECT_EQ(GetPrivateProfileSectionA("RENAME", buffer.data(), c.size, kIni), c.count) << c.size;
  EXPECT_EQ(buffer.substr(0, c.bytes.size()), c.bytes) << c.size;
  EXPECT_EQ(buffer.substr(c.size), std::string(64 - c.size, '#')) << "nothing written past the buffer";
}

INSTANTIATE_TEST_SUITE_P(Sizes, SectionRead,
                         ::testing::Values(SectionCase{64, 15, "A=1\0B=22\0C=333\0\0"s},
                                           SectionCase{16, 15, "A=1\0B=22\0C=333\0\0"s},  // just fits
                                           SectionCase{15, 13, "A=1\0B=22\0C=33\0\0"s},   // cut: size - 2
                                           SectionCase{10, 8, "A=1\0B=22\0\0"s},
                                           SectionCase{3, 1, "A\0\0"s}, SectionCase{2, 0, "\0\0"s}));

TEST(SectionRead, MissingSectionOrFileIsEmpty) {
  TestMachine m;
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileSectionA("rename", buffer, sizeof buffer, kIni), 0u);
  EXPECT_EQ(std::string(buffer, 2), "\0\0"s);
  m.WriteFile(kIni, "[other]\r\nA=1\r\n");
  EXPECT_EQ(GetPrivateProfileSectionA("rename", buffer, sizeof buffer, kIni), 0u);
}

TEST(SectionRead, LinesEndAtTheirFirstNulByte) {
  TestMachine m;
  m.WriteFile(kIni, "[rename]\r\nA=1\0junk\r\n\0\0\r\nB=2\r\n"s);
  char buffer[32];
  ASSERT_EQ(GetPrivateProfileSectionA("rename", buffer, sizeof buffer, kIni), 8u);
  EXPECT_EQ(std::string(buffer, 9), "A=1\0B=2\0\0"s);
}

TEST(SectionWrite, CreatesFileAndSectionAndReplacesOnlyThatSection) {
  TestMachine m;
  ASSERT_TRUE(WritePrivateProfileSectionA("rename", "NUL=C:\\A.VXD\0NUL=C:\\A.VXD\0", kIni));
  EXPECT_EQ(m.ReadFile(kIni), "[rename]\r\nNUL=C:\\A.VXD\r\nNUL=C:\\A.VXD\r\n");

  m.WriteFile(kIni, "; kept\r\n[Rename]\r\nold=1\r\n\r\n[other]\r\nk=v\r\n");
  ASSERT_TRUE(WritePrivateProfileSectionA("rename", "new=2\0", kIni));
  EXPECT_EQ(m.ReadFile(kIni), "; kept\r\n[Rename]\r\nnew=2\r\n\r\n[other]\r\nk=v\r\n");
  for (auto& e : fs::directory_iterator(m.Host("C:\\WINDOWS")))
    EXPECT_EQ(e.path().filename().string().find(".w9x"), std::string::npos) << "no temporary file left";
}

TEST(SectionWrite, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
  TestMachine m;
  EXPECT_FALSE(WritePrivateProfileSectionA("rename", "a=1\0", "C:\\NONE\\WININIT.INI"));
  EXPECT_FALSE(m.Exists("C:\\NONE"));
}

}  // namespace
}  // namespace w9x
