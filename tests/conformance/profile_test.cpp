// The private-profile functions as the kit's programs use them: values read with and without
// quotes and blanks, names in any letter case, integers, the counts of a cut answer, and the
// writes that set, remove and replace.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"

namespace conformance {
namespace {

const char kProfile[] =
    "[General]\r\n"
    "Target=130\r\n"
    "Quoted=\"  two words  \"\r\n"
    "Single='x'\r\n"
    "  Padded Key  =   padded value   \r\n"
    "Empty=\r\n"
    "Number=  42abc\r\n"
    "Negative=-5\r\n"
    "Sjis=表示\\A\r\n"
    "\r\n"
    "[Command]\r\n"
    "1=2,FOO.TXT\r\n"
    "2=1,BAR.TXT\r\n"
    "\r\n"
    "[Mixed Case]\r\n"
    "Key=Lower\r\n";

class Profile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(WriteBytes(ini_, kProfile)); }

  std::string String(const char* section, const char* key, const char* fallback = "") const {
    char buffer[256];
    std::memset(buffer, '#', sizeof buffer);
    DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer, sizeof buffer, ini_.c_str());
    EXPECT_EQ(n, std::strlen(buffer)) << section << "/" << key;
    return buffer;
  }

  // A list answer (names or lines), split at its NULs; `count` is the function's result.
  static std::vector<std::string> Split(const char* buffer, DWORD count) {
    std::vector<std::string> items;
    for (const char* p = buffer; p < buffer + count && *p; p += std::strlen(p) + 1) items.emplace_back(p);
    return items;
  }

  const std::string ini_ = Scratch("TEST.INI");
};

TEST_F(Profile, ValuesLoseQuotesAndOuterBlanks) {
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"General", "Target", "130"},
      {"General", "Quoted", "  two words  "},
      {"General", "Single", "x"},
      {"General", "Padded Key", "padded value"},
      {"General", "Empty", ""},
      {"General", "Sjis", "表示\\A"},
      {"general", "TARGET", "130"},
      {"MIXED CASE", "key", "Lower"},
      {"Command", "2", "1,BAR.TXT"},
  };
  for (const Case& c : cases) EXPECT_EQ(String(c.section, c.key), c.value) << c.section << "/" << c.key;
}

TEST_F(Profile, MissingKeysSectionsAndFilesGiveTheDefault) {
  EXPECT_EQ(String("General", "Absent", "dflt"), "dflt");
  EXPECT_EQ(String("Absent", "Target", "dflt"), "dflt");
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("General", "Target", "dflt", buffer, sizeof buffer,
                                     Scratch("NOFILE.INI").c_str()), 4u);
  EXPECT_STREQ(buffer, "dflt");
  // A missing key whose default is empty counts 0: the script reader stops there.
  EXPECT_EQ(GetPrivateProfileStringA("Command", "3", "", buffer, sizeof buffer, ini_.c_str()), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(Profile, IntegersReadLeadingDigits) {
  struct Case {
    const char* key;
    int fallback;
    UINT value;
  } cases[] = {
      {"Target", -1, 130u}, {"Number", 0, 42u},   {"Negative", 0, static_cast<UINT>(-5)},
      {"Absent", -1, static_cast<UINT>(-1)},      {"Absent", 0x7FFF, 0x7FFFu},
      {"Quoted", 7, 0u},    {"Empty", 9, 9u},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetPrivateProfileIntA("General", c.key, c.fallback, ini_.c_str()), c.value) << c.key;
  EXPECT_EQ(GetPrivateProfileIntA("General", "Target", -1, Scratch("NOFILE.INI").c_str()), static_cast<UINT>(-1));
}

TEST_F(Profile, CutValueCountsTheCharactersKept) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  // "padded value" into 8 bytes: 7 characters and the NUL.
  EXPECT_EQ(GetPrivateProfileStringA("General", "Padded Key", "", buffer, sizeof buffer, ini_.c_str()), 7u);
  EXPECT_STREQ(buffer, "padded ");
}

TEST_F(Profile, CutListsCountTheBufferLessTwo) {
  char buffer[12];
  // Key names of [General] do not fit in 12 bytes.
  std::memset(buffer, '#', sizeof buffer);
  DWORD n = GetPrivateProfileStringA("General", nullptr, "", buffer, sizeof buffer, ini_.c_str());
  EXPECT_EQ(n, sizeof buffer - 2);
  EXPECT_EQ(buffer[n], '\0');
  // Windows ends the cut list with two NULs; Wine writes only the first.
  if (!OnWine()) {
    EXPECT_EQ(buffer[n + 1], '\0');
  }
  EXPECT_EQ(Split(buffer, n).front(), "Target");

  // Section names: [General], [Command], [Mixed Case] need 28 bytes.
  std::memset(buffer, '#', sizeof buffer);
  n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, ini_.c_str());
  EXPECT_EQ(n, sizeof buffer - 2);
  EXPECT_EQ(buffer[n], '\0');

  // A whole section that does not fit: the count is exactly the size less 2, and the buffer
  // ends with two NULs.
  for (DWORD size : {4u, 12u, 24u}) {
    std::vector<char> section(size, '#');
    EXPECT_EQ(GetPrivateProfileSectionA("Command", section.data(), size, ini_.c_str()), size - 2) << size;
    EXPECT_EQ(section[size - 2], '\0') << size;
    EXPECT_EQ(section[size - 1], '\0') << size;
  }
}

TEST_F(Profile, WholeListsEndWithTwoNuls) {
  char buffer[256];
  DWORD n = GetPrivateProfileSectionA("Command", buffer, sizeof buffer, ini_.c_str());
  ASSERT_EQ(n, 24u);  // "1=2,FOO.TXT" NUL "2=1,BAR.TXT" NUL, counted without the final NUL
  EXPECT_EQ(buffer[n], '\0');
  EXPECT_EQ(Split(buffer, n), (std::vector<std::string>{"1=2,FOO.TXT", "2=1,BAR.TXT"}));

  n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, ini_.c_str());
  EXPECT_EQ(Split(buffer, n), (std::vector<std::string>{"General", "Command", "Mixed Case"}));

  EXPECT_EQ(GetPrivateProfileSectionA("Absent", buffer, sizeof buffer, ini_.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileSectionA("Command", buffer, sizeof buffer, Scratch("NOFILE.INI").c_str()), 0u);
}

TEST_F(Profile, WritesSetAndRemoveKeys) {
  EXPECT_TRUE(WritePrivateProfileStringA("General", "Target", "2", ini_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("general", "New Key", "new value", ini_.c_str()));
  EXPECT_TRUE(WritePrivateProfileStringA("Added", "K", "V", ini_.c_str()));
  EXPECT_EQ(String("General", "Target"), "2");
  EXPECT_EQ(String("GENERAL", "new key"), "new value");
  EXPECT_EQ(String("Added", "K"), "V");

  // A null value removes the key, a null key the whole section.
  EXPECT_TRUE(WritePrivateProfileStringA("General", "NUMBER", nullptr, ini_.c_str()));
  EXPECT_EQ(String("General", "Number", "gone"), "gone");
  EXPECT_EQ(String("General", "Negative"), "-5");
  EXPECT_TRUE(WritePrivateProfileStringA("Command", nullptr, nullptr, ini_.c_str()));
  EXPECT_EQ(String("Command", "1", "gone"), "gone");
  EXPECT_EQ(String("Mixed Case", "Key"), "Lower");

  // Removing what is not there succeeds and changes nothing.
  EXPECT_TRUE(WritePrivateProfileStringA("General", "Absent", nullptr, ini_.c_str()));
  EXPECT_EQ(String("General", "Target"), "2");
}

TEST_F(Profile, WritesCreateTheFile) {
  const std::string fresh = Scratch("FRESH.INI");
  EXPECT_TRUE(WritePrivateProfileStringA("keyboard", "subtype", "1", fresh.c_str()));
  EXPECT_EQ(GetPrivateProfileIntA("keyboard", "subtype", 0x7FFF, fresh.c_str()), 1u);
  auto bytes = ReadBytes(fresh);
  ASSERT_TRUE(bytes);
  EXPECT_NE(bytes->find("[keyboard]"), std::string::npos) << *bytes;
  EXPECT_NE(bytes->find("subtype=1"), std::string::npos) << *bytes;
}

TEST_F(Profile, SectionWriteReplacesTheSection) {
  const char lines[] = "1=4,NEW.TXT\0NUL=C:\\OLD.TXT\0";  // ends with the second NUL of the literal
  EXPECT_TRUE(WritePrivateProfileSectionA("Command", lines, ini_.c_str()));
  char buffer[256];
  DWORD n = GetPrivateProfileSectionA("Command", buffer, sizeof buffer, ini_.c_str());
  EXPECT_EQ(Split(buffer, n), (std::vector<std::string>{"1=4,NEW.TXT", "NUL=C:\\OLD.TXT"}));
  EXPECT_EQ(String("Command", "2", "gone"), "gone");
  EXPECT_EQ(String("General", "Target"), "130");

  // A missing file and section are created.
  const std::string wininit = Scratch("WININIT.INI");
  const char rename[] = "NUL=C:\\KIT\\A.TXT\0";
  EXPECT_TRUE(WritePrivateProfileSectionA("rename", rename, wininit.c_str()));
  n = GetPrivateProfileSectionA("rename", buffer, sizeof buffer, wininit.c_str());
  EXPECT_EQ(Split(buffer, n), (std::vector<std::string>{"NUL=C:\\KIT\\A.TXT"}));
}

TEST_F(Profile, BareFileNameMeansTheWindowsFolder) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  const std::string in_windows = std::string(windows) + "\\CONFORM.INI";
  ASSERT_TRUE(WritePrivateProfileStringA("PowerOff", "QueryUser", "No", "conform.ini"));
  char buffer[8];
  EXPECT_EQ(GetPrivateProfileStringA("PowerOff", "QueryUser", "Yes", buffer, sizeof buffer, in_windows.c_str()), 2u);
  EXPECT_STREQ(buffer, "No");
  EXPECT_TRUE(DeleteFileA(in_windows.c_str()));
}

}  // namespace
}  // namespace conformance
