// The C runtime's file streams over the machine's files (text-mode bytes are also checked,
// through cfgsysfix's rewrite, in fixtools/tests).
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "msvcrt/msvcrt.h"
#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;
using testing::TestMachineOptions;

std::string ReadAll(FILE* f, int piece_size) {
  std::string out;
  char buffer[64];
  while (fgets(buffer, piece_size, f)) out += std::string(buffer) + "|";
  return out;
}

TEST(CRuntime, TextModeConvertsLineEndsAndBinaryModeDoesNot) {
  TestMachine m(TestMachineOptions{.journal = true});
  m.WriteFile("C:\\KIT\\IN.TXT", "ab\r\ncdef\rg\x1Ah\r\n");
  FILE* f = w9x_fopen("c:\\kit\\in.txt", "rt");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f, 4), "ab\n|cde|f\rg|");  // pieces of at most 3 characters; Ctrl-Z ends the file
  EXPECT_EQ(fclose(f), 0);
  f = w9x_fopen("IN.TXT", "rb");  // relative to the current folder
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f, 64), "ab\r\n|cdef\rg\x1Ah\r\n|");
  fclose(f);

  f = w9x_fopen("C:\\KIT\\OUT.TXT", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(fputs("one\ntwo\r\n", f), 0);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(m.ReadFile("C:\\KIT\\OUT.TXT"), "one\r\ntwo\r\r\n");
  f = w9x_fopen("C:\\KIT\\OUT.TXT", "wb");  // truncates
  fputs("x\n", f);
  fclose(f);
  EXPECT_EQ(m.ReadFile("C:\\KIT\\OUT.TXT"), "x\n");

  // Writes are journaled: the opening, and at the close what reached the file.
  auto opens = m.Events("fopen");
  auto closes = m.Events("fclose");
  ASSERT_EQ(opens.size(), 2u);
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(opens[0]["path"], "C:\\KIT\\OUT.TXT");
  EXPECT_EQ(opens[0]["mode"], "w");
  EXPECT_EQ(closes[0]["bytes"], 11);
  EXPECT_EQ(closes[0]["result"], true);
}

TEST(CRuntime, OpenFailuresSetErrno) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\RO.TXT", "x");
  chmod(m.Host("C:\\KIT\\RO.TXT").c_str(), 0444);
  struct Case {
    const char* path;
    const char* mode;
    int error;
  } cases[] = {
      {"C:\\KIT\\NONE.TXT", "r", ENOENT},
      {"C:\\KIT", "r", EACCES},
      {"C:\\KIT", "w", EACCES},
      {"C:\\KIT\\RO.TXT", "wt", EACCES},
      {"C:\\NOFOLDER\\X.TXT", "w", ENOENT},
      {"Q:\\X.TXT", "r", ENOENT},
      {"C:\\KIT\\RO.TXT", "a", EINVAL},   // modes the programs do not use
      {"C:\\KIT\\RO.TXT", "r+", EINVAL},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(w9x_fopen(c.path, c.mode), nullptr) << c.path << " " << c.mode;
    EXPECT_EQ(errno, c.error) << c.path << " " << c.mode;
  }
  FILE* f = w9x_fopen("C:\\KIT\\RO.TXT", "r");  // a read-only file can be read
  ASSERT_NE(f, nullptr);
  fclose(f);
}

TEST(CRuntime, AccessTestsExistenceAndWriting) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\RO.TXT", "x");
  chmod(m.Host("C:\\KIT\\RO.TXT").c_str(), 0444);
  EXPECT_EQ(w9x_access("c:\\kit\\ro.txt", 0), 0);
  EXPECT_EQ(w9x_access("C:\\KIT\\RO.TXT", 4), 0);
  EXPECT_EQ(w9x_access("C:\\KIT\\RO.TXT", 2), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(w9x_access("C:\\WINDOWS", 0), 0);  // folders exist too
  EXPECT_EQ(w9x_access("C:\\KIT\\NONE.TXT", 0), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(w9x_access(nullptr, 0), -1);
}

}  // namespace
}  // namespace w9x
