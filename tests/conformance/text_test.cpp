// Stepping through code page 932 text: lead bytes, and double-byte characters whose second byte
// is a backslash.
#include <cstring>

#include "conformance.h"

namespace conformance {
namespace {

TEST(Text, LeadBytesOfCodePage932) {
  struct Case {
    unsigned char byte;
    BOOL lead;
  } cases[] = {
      {0x00, FALSE}, {0x41, FALSE}, {0x5C, FALSE}, {0x7F, FALSE}, {0x80, FALSE}, {0x81, TRUE},
      {0x95, TRUE},  {0x9F, TRUE},  {0xA0, FALSE}, {0xA1, FALSE}, {0xB1, FALSE}, {0xDF, FALSE},
      {0xE0, TRUE},  {0xEF, TRUE},  {0xFC, TRUE},  {0xFD, FALSE}, {0xFF, FALSE},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDBCSLeadByte(c.byte) ? TRUE : FALSE, c.lead) << int(c.byte);
}

TEST(Text, CharNextStepsOverWholeCharacters) {
  // a, 表 (0x95 0x5C), \, ｱ (one byte 0xB1), ソ (0x83 0x5C), b
  const char text[] = "a表\\\xB1ソb";
  ASSERT_EQ(std::strlen(text), 8u);
  const int steps[] = {1, 3, 4, 5, 7, 8};
  const char* p = text;
  for (int offset : steps) {
    p = CharNextA(p);
    EXPECT_EQ(p - text, offset);
  }
  EXPECT_EQ(CharNextA(p), p);  // at the end it stays put

  // Backwards from the end: every stop is the start of a character.
  const int back[] = {7, 5, 4, 3, 1, 0};
  p = text + 8;
  for (int offset : back) {
    p = CharPrevA(text, p);
    EXPECT_EQ(p - text, offset);
  }
  EXPECT_EQ(CharPrevA(text, text), text);
}

TEST(Text, LastBackslashOfAPath) {
  // The search the programs make for a file's folder: the trail bytes of 表 and ソ do not count.
  const char path[] = "C:\\KIT\\表\\ソ.EXE";
  const char* last = nullptr;
  for (const char* p = path; *p; p = CharNextA(p))
    if (*p == '\\') last = p;
  ASSERT_NE(last, nullptr);
  EXPECT_STREQ(last + 1, "ソ.EXE");
}

TEST(Text, CaseFoldingLeavesDoubleByteCharactersAlone) {
  EXPECT_EQ(lstrcmpiA("drupdate.ini", "DRUPDATE.INI"), 0);
  EXPECT_EQ(lstrcmpiA("表示.inf", "表示.INF"), 0);
  // ア (0x83 0x41) and ヂ (0x83 0x61): folding the trail byte as a letter would make them equal.
  EXPECT_NE(lstrcmpiA("ア", "ヂ"), 0);
}

}  // namespace
}  // namespace conformance
