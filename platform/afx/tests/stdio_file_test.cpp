#include <gtest/gtest.h>

#include "afx/file.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::TestMachine;

TEST(CStdioFile, OpenFlagsAndTextMode) {
  struct Case {
    const char* name;
    bool exists;
    UINT flags;
    BOOL opens;
    LONG end;           // the position Seek(0, end) gives
    std::string after;  // the file after "a\nb" is written at the end, when it opens
  } cases[] = {
      {"text mode appends with CR LF, keeping the content", true,
       CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::typeText, TRUE, 5, "old\r\na\r\nb"},
      {"created when missing", false, CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate, TRUE, 0, "a\r\nb"},
      {"modeCreate alone empties the file", true, CFile::modeWrite | CFile::modeCreate, TRUE, 0, "a\r\nb"},
      {"binary mode writes the line feed as it is", true, CFile::modeReadWrite | CFile::typeBinary, TRUE, 5, "old\r\na\nb"},
      {"without modeCreate a missing file does not open", false, CFile::modeWrite, FALSE, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine m;
    if (c.exists) m.WriteFile("C:\\T.TXT", "old\r\n");
    CFileException error(CFileException::none, 0, "");
    {
      CStdioFile file;
      ASSERT_EQ(file.Open("C:\\T.TXT", c.flags, &error), c.opens);
      if (!c.opens) {
        EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
        EXPECT_FALSE(m.Exists("C:\\T.TXT"));
        continue;
      }
      EXPECT_EQ(file.Seek(0, CFile::end), c.end);
      file.WriteString("a\nb");
    }  // the destructor closes the file
    EXPECT_EQ(m.ReadFile("C:\\T.TXT"), c.after);
  }
}

TEST(CStdioFile, WriteFailureIsThrown) {
  TestMachine m;
  m.WriteFile("C:\\T.TXT", "old");
  CStdioFile file;
  ASSERT_TRUE(file.Open("C:\\T.TXT", CFile::modeRead));
  try {
    file.WriteString("x\n");
    ADD_FAILURE() << "no exception";
  } catch (CFileException* e) {
    EXPECT_NE(e->m_lOsError, 0);
    e->Delete();
  }
  EXPECT_EQ(m.ReadFile("C:\\T.TXT"), "old");
}

}  // namespace
