#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;

const char kIni[] = "C:\\KIT\\TEST.INI";

class Profile : public ::testing::Test {
 protected:
  TestMachine m{::w9x::testing::TestMachineOptions{.journal = true}};
  void Write(const std::string& bytes) { m.WriteFile(kIni, bytes); }
  std::string Get(const char* section, const char* key, const char* fallback = "", DWORD size = 64,
                  DWORD* count = nullptr) {
    char buffer[512];
    std::memset(buffer, '#', sizeof buffer);
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, size, kIni);
    if (count) *count = n;
    return std::string(buffer, n);
  }
};

TEST_F(Profile, ValuesAsWindowsReadsThem) {
  Write("[Sec]\r\nplain=abc\r\n  spaced  =  x y  \r\nquoted=\" q \"\r\nsingle='s'\r\nhalf=\"h\r\nempty=\r\n"
        "[sec]\r\nplain=second section\r\n");
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "abc"}, {"SPACED", "x y"}, {"quoted", " q "}, {"single", "s"}, {"half", "\"h"}, {"empty", ""},
  };
  for (auto& [key, expected] : cases) EXPECT_EQ(Get("SEC", key), expected) << key;
  EXPECT_EQ(Get("Sec", "missing", "dflt  "), "dflt");  // a default loses its trailing blanks
  EXPECT_EQ(Get("Nope", "plain", "d"), "d");
  EXPECT_EQ(GetPrivateProfileIntA("Sec", "plain", 7, kIni), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("Sec", "missing", -1, kIni), static_cast<UINT>(-1));
}

TEST_F(Profile, IntegersAsAtoiReadsThem) {
  Write("[N]\r\na=130\r\nb= -5 \r\nc=12abc\r\nd=0x10\r\ne=\r\n");
  EXPECT_EQ(GetPrivateProfileIntA("N", "a", 0, kIni), 130u);
  EXPECT_EQ(GetPrivateProfileIntA("N", "b", 0, kIni), static_cast<UINT>(-5));
  EXPECT_EQ(GetPrivateProfileIntA("N", "c", 0, kIni), 12u);
  EXPECT_EQ(GetPrivateProfileIntA("N", "d", 0, kIni), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("N", "e", 9, kIni), 9u);  // an empty value gives the default
}

TEST_F(Profile, TruncationCounts) {
  Write("[S]\r\nk=0123456789\r\n");
  DWORD n = 0;
  EXPECT_EQ(Get("S", "k", "", 5, &n), "0123");
  EXPECT_EQ(n, 4u);  // size - 1
  EXPECT_EQ(Get("S", "k", "", 11, &n), "0123456789");
  EXPECT_EQ(n, 10u);
  Get("S", "k", "", 10, &n);
  EXPECT_EQ(n, 9u);
}

TEST_F(Profile, ListsOfKeysAndSections) {
  Write("[A]\r\nx=1\r\nyy=2\r\n[B]\r\n");
  char buffer[64];
  DWORD n = GetPrivateProfileStringA("A", nullptr, "", buffer, sizeof buffer, kIni);
  EXPECT_EQ(std::string(buffer, n + 1), std::string("x\0yy\0\0", 6));
  n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, kIni);
  EXPECT_EQ(std::string(buffer, n + 1), std::string("A\0B\0\0", 5));
  n = GetPrivateProfileStringA("A", nullptr, "", buffer, 4, kIni);
  EXPECT_EQ(n, 2u);  // does not fit: size - 2
  EXPECT_EQ(std::string(buffer, 4), std::string("x\0\0\0", 4));
}

TEST_F(Profile, SectionReadCountsAndWriteBack) {
  Write("[rename]\r\nNUL=C:\\A\r\nNUL=C:\\B\r\n");
  char buffer[64];
  DWORD n = GetPrivateProfileSectionA("rename", buffer, sizeof buffer, kIni);
  EXPECT_EQ(std::string(buffer, n + 1), std::string("NUL=C:\\A\0NUL=C:\\B\0\0", 19));
  EXPECT_EQ(GetPrivateProfileSectionA("rename", buffer, 10, kIni), 8u);  // does not fit: size - 2
  EXPECT_EQ(GetPrivateProfileSectionA("missing", buffer, sizeof buffer, kIni), 0u);

  const char lines[] = "NUL=C:\\A\0NUL=C:\\B\0NUL=C:\\C\0";
  ASSERT_TRUE(WritePrivateProfileSectionA("rename", lines, kIni));
  EXPECT_EQ(m.ReadFile(kIni), "[rename]\r\nNUL=C:\\A\r\nNUL=C:\\B\r\nNUL=C:\\C\r\n");
  ASSERT_TRUE(WritePrivateProfileSectionA("rename", "X=1\0", "C:\\KIT\\NEW.INI"));
  EXPECT_EQ(m.ReadFile("C:\\KIT\\NEW.INI"), "[rename]\r\nX=1\r\n");
  EXPECT_FALSE(WritePrivateProfileSectionA("rename", "X=1\0", "C:\\NOWHERE\\NEW.INI"));
}

TEST_F(Profile, WritesChangeOnlyTheirLine) {
  Write("; comment\r\n[keyboard]\r\nkeyboard.dll=\r\nsubtype=2\r\ntype=7\r\n\r\n[other]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("KEYBOARD", "SubType", nullptr, kIni));
  EXPECT_EQ(m.ReadFile(kIni), "; comment\r\n[keyboard]\r\nkeyboard.dll=\r\ntype=7\r\n\r\n[other]\r\nx=1\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("other", "y", "2", kIni));
  ASSERT_TRUE(WritePrivateProfileStringA("other", "x", "3", kIni));
  EXPECT_EQ(m.ReadFile(kIni), "; comment\r\n[keyboard]\r\nkeyboard.dll=\r\ntype=7\r\n\r\n[other]\r\nx=3\r\ny=2\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("other", nullptr, nullptr, kIni));
  EXPECT_EQ(Get("other", "x", "gone"), "gone");
  // Removing a key that is not there changes nothing and writes nothing.
  auto writes = m.Events("WritePrivateProfileStringA").size();
  ASSERT_TRUE(WritePrivateProfileStringA("keyboard", "absent", nullptr, kIni));
  EXPECT_EQ(m.Events("WritePrivateProfileStringA").size(), writes + 1);
}

TEST_F(Profile, BareFileNamesAreInTheWindowsFolder) {
  ASSERT_TRUE(WritePrivateProfileStringA("PowerOff", "QueryUser", "No", "system.ini"));
  EXPECT_NE(m.ReadFile("C:\\WINDOWS\\SYSTEM.INI").find("[PowerOff]\r\nQueryUser=No\r\n"), std::string::npos);
}

TEST_F(Profile, ParsedOnceAndReparsedWhenTheFileChanges) {
  Write("[S]\r\nk=1\r\n");
  ProfileStore& store = m.machine().Profiles();
  const IniFile* first = store.Load(m.Host(kIni));
  EXPECT_EQ(store.Load(m.Host(kIni)), first);  // the same parse, no new one
  EXPECT_EQ(Get("S", "k"), "1");
  Write("[S]\r\nk=22\r\n");  // another writer, same size class
  EXPECT_EQ(Get("S", "k"), "22");
}

}  // namespace
}  // namespace w9x
