#include "afx/app.h"

#include <gtest/gtest.h>

#include "afx/file.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::Sjis;
using w9x::testing::TestMachine;
using w9x::testing::TestMachineOptions;

struct NameCase {
  std::string module;       // UTF-8
  std::string exe_name;     // UTF-8
  std::string help_path;    // UTF-8
};

class AppNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(AppNames, ComeFromTheModulePath) {
  const NameCase& c = GetParam();
  TestMachine m(TestMachineOptions{.module_path = Sjis(c.module)});
  CWinApp app;
  EXPECT_EQ(AfxGetApp(), &app);
  app.SetCurrentHandles(nullptr, nullptr, SW_SHOWNORMAL);
  EXPECT_EQ(std::string(app.m_pszExeName), Sjis(c.exe_name));
  EXPECT_EQ(std::string(app.m_pszHelpFilePath), Sjis(c.help_path));
  EXPECT_STREQ(app.m_pszAppName, app.m_pszExeName);
}

INSTANTIATE_TEST_SUITE_P(
    Modules, AppNames,
    ::testing::Values(NameCase{"C:\\KIT\\DRUPDATE.EXE", "DRUPDATE", "C:\\KIT\\DRUPDATE.HLP"},
                      NameCase{"C:\\A.B\\PROG", "PROG", "C:\\A.B\\PROG.HLP"},
                      NameCase{"C:\\表示\\表.EXE", "表", "C:\\表示\\表.HLP"}));

TEST(CFile, GetStatusReportsExistenceAndAttributes) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\A.TXT", "12345");
  CFileStatus status;
  ASSERT_TRUE(CFile::GetStatus("c:\\kit\\a.txt", status));
  EXPECT_EQ(status.m_size, 5);
  EXPECT_EQ(status.m_attribute, CFile::archive);
  EXPECT_STREQ(status.m_szFullName, "C:\\kit\\a.txt");
  EXPECT_FALSE(CFile::GetStatus("C:\\KIT\\B.TXT", status));
  EXPECT_FALSE(CFile::GetStatus("C:\\KIT\\*.TXT", status));
  EXPECT_TRUE(CFile::GetStatus("C:\\KIT", status));
  EXPECT_EQ(status.m_attribute & CFile::directory, CFile::directory);
}

TEST(CFile, SetStatusThrowsWhenTheFileIsMissing) {
  TestMachine m;
  CFileStatus status;
  try {
    CFile::SetStatus("C:\\KIT\\MISSING.TXT", status);
    FAIL() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::fileNotFound);
    e->Delete();
  }
}

}  // namespace
