// cfgsysfix's choice of lines and its rewrite of a text file, byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "config_sys.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::TestMachine;
using w9x::testing::TestMachineOptions;

const char kKeyword[] = "DOS=HIGH,UMB";

TEST(LineTest, CommentsTheKeywordAnywhereUnlessTheLineIsAComment) {
  struct Case {
    const char* line;
    bool comment;
  } cases[] = {
      {"DOS=HIGH,UMB\n", true},
      {" \t dos=high,umb\n", true},            // leading blanks and tabs, lower case
      {"DOS=HIGH,UMB,AUTO\n", true},           // further options
      {"SHELL=X DOS=HIGH,UMB\n", true},        // other text before it
      {"DOS=HIGH,UMB", true},                  // a last line without newline
      {"DOS=UMB,HIGH\n", false},               // the other order
      {"DOS = HIGH,UMB\n", false},             // blanks around "="
      {"DOS=HIGH, UMB\n", false},
      {"REM DOS=HIGH,UMB\n", false},           // already a comment
      {"\trem DOS=HIGH,UMB\n", false},
      {"REMARK DOS=HIGH,UMB\n", false},        // a longer word starting with REM counts too
      {"ReM\n", false},
      {"\n", false},
      {"  \n DOS=HIGH,UMB", false},            // the newline comes first
      {"", false},
      {"  ", false},
      {"DOS=HIGH,UM\n", false},
      {"DEVICE=HIMEM.SYS\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLineToComment(c.line, kKeyword) != FALSE, c.comment) << '"' << c.line << '"';
}

TEST(LineTest, TheKeywordIsComparedAsGiven) {
  // Only the line is turned to upper case: a keyword with small letters never matches.
  EXPECT_FALSE(IsLineToComment("dos=high,umb\n", "dos=high,umb"));
  EXPECT_TRUE(IsLineToComment("Files=40\n", "FILES"));
}

class RewriteTest : public ::testing::Test {
 protected:
  TestMachine machine{TestMachineOptions{.module_path = "C:\\CFGSYSFIX.EXE"}};

  // Rewrites `bytes` from C:\CONFIG.SYS into C:\OUT.TMP; the result and the new bytes.
  std::pair<int, std::string> Run(const std::string& bytes) {
    machine.WriteFile("C:\\CONFIG.SYS", bytes);
    int result = Rewrite("C:\\CONFIG.SYS", "C:\\OUT.TMP");
    return {result, machine.ReadFile("C:\\OUT.TMP")};
  }
};

TEST_F(RewriteTest, TextModeBytesOut) {
  const std::string x255(255, 'X'), x288(288, 'X');
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"CR LF lines", "DEVICE=HIMEM.SYS\r\nDOS=HIGH,UMB\r\nFILES=40\r\n",
       "DEVICE=HIMEM.SYS\r\nREM DOS=HIGH,UMB\r\nFILES=40\r\n"},
      {"LF only", "A\nDOS=HIGH,UMB\n", "A\r\nREM DOS=HIGH,UMB\r\n"},
      {"lone CR kept", "A\rB\r\ndos=high,umb\rC\n", "A\rB\r\nREM dos=high,umb\rC\r\n"},
      {"CR CR LF", "A\r\r\nB", "A\r\r\nB"},
      {"CR at the very end", "A\r", "A\r"},
      {"Ctrl-Z in the middle ends the file", "A\r\nB\x1A" "DOS=HIGH,UMB\r\n", "A\r\nB"},
      {"trailing Ctrl-Z removed", "A\r\n\x1A", "A\r\n"},
      {"CR before Ctrl-Z", "A\r\x1A\n", "A\r"},
      {"last line without newline", "FILES=40\r\nDOS=HIGH,UMB", "FILES=40\r\nREM DOS=HIGH,UMB"},
      {"several lines, each once", "DOS=HIGH,UMB\n  DOS=HIGH,UMB,NOAUTO\nREM DOS=HIGH,UMB\n",
       "REM DOS=HIGH,UMB\r\nREM   DOS=HIGH,UMB,NOAUTO\r\nREM DOS=HIGH,UMB\r\n"},
      {"empty file", "", ""},
      // 255 characters fill a piece; the rest of the line is a piece of its own.
      {"keyword in the second piece", x255 + "DOS=HIGH,UMB\r\n", x255 + "REM DOS=HIGH,UMB\r\n"},
      {"keyword in the first piece", "DOS=HIGH,UMB" + x255 + "Y\r\n", "REM DOS=HIGH,UMB" + x255 + "Y\r\n"},
      {"keyword cut by the piece boundary", std::string(250, 'X') + "DOS=HIGH,UMB\n",
       std::string(250, 'X') + "DOS=HIGH,UMB\r\n"},
      {"CR LF right at the boundary", std::string(254, 'X') + "\r\nDOS=HIGH,UMB\r\n",
       std::string(254, 'X') + "\r\nREM DOS=HIGH,UMB\r\n"},
      // The file is read in blocks of 4096 bytes: a pair split between two blocks is still one.
      {"CR LF split between reads", std::string(4095, 'X') + "\r\nDOS=HIGH,UMB",
       std::string(4095, 'X') + "\r\nREM DOS=HIGH,UMB"},
      // The file that tests/wine/fixtools.sh gives the tool under Wine, with the same result.
      {"all together", "DEVICE=C:\\WINDOWS\\HIMEM.SYS\ndos=high,umb\rA\r\nDOS=HIGH,UMB" + x288 +
                           "\r\n\tREM DOS=HIGH,UMB\r\nFILES=40\r\n\x1A" "DOS=HIGH,UMB\r\n",
       "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nREM dos=high,umb\rA\r\nREM DOS=HIGH,UMB" + x288 +
           "\r\n\tREM DOS=HIGH,UMB\r\nFILES=40\r\n"},
  };
  for (const Case& c : cases) {
    auto [result, out] = Run(c.in);
    EXPECT_EQ(result, REWRITE_DONE) << c.name;
    EXPECT_EQ(out, c.out) << c.name;
  }
}

TEST_F(RewriteTest, ASecondRunChangesNothing) {
  auto first = Run("DEVICE=HIMEM.SYS\nDOS=HIGH,UMB\n\x1A");
  auto second = Run(first.second);
  EXPECT_EQ(second.first, REWRITE_DONE);
  EXPECT_EQ(second.second, "DEVICE=HIMEM.SYS\r\nREM DOS=HIGH,UMB\r\n");
  EXPECT_EQ(second.second, first.second);
}

TEST_F(RewriteTest, AThreeHundredCharacterLineComesOutWhole) {
  std::string line = "DOS=HIGH,UMB";
  while (line.size() < 300) line += static_cast<char>('A' + line.size() % 26);
  auto [result, out] = Run(line + "\r\nFILES=40\r\n");
  EXPECT_EQ(result, REWRITE_DONE);
  EXPECT_EQ(out, "REM " + line + "\r\nFILES=40\r\n");
}

TEST_F(RewriteTest, MissingSourceAndFilesThatCannotBeOpened) {
  machine.WriteFile("C:\\OUT.TMP", "old");
  EXPECT_EQ(Rewrite("C:\\NONE.SYS", "C:\\OUT.TMP"), REWRITE_NO_SOURCE);
  EXPECT_EQ(machine.ReadFile("C:\\OUT.TMP"), "old");

  EXPECT_EQ(Rewrite("C:\\WINDOWS", "C:\\OUT.TMP"), REWRITE_FAILED);  // a folder exists but cannot be read

  machine.WriteFile("C:\\CONFIG.SYS", "DOS=HIGH,UMB\r\n");
  chmod(machine.Host("C:\\OUT.TMP").c_str(), 0444);  // read-only
  EXPECT_EQ(Rewrite("C:\\CONFIG.SYS", "C:\\OUT.TMP"), REWRITE_FAILED);
  EXPECT_EQ(machine.ReadFile("C:\\OUT.TMP"), "old");
  EXPECT_EQ(Rewrite("C:\\CONFIG.SYS", "C:\\NOFOLDER\\OUT.TMP"), REWRITE_FAILED);
  EXPECT_EQ(machine.ReadFile("C:\\CONFIG.SYS"), "DOS=HIGH,UMB\r\n");
}

}  // namespace
