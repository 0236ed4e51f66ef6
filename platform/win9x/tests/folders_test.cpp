#include <windows.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using testing::Sjis;
using testing::TestMachine;

TEST(Folders, NamesIgnoreCaseAndKeepTheirSpelling) {
  TestMachine m;
  ASSERT_TRUE(CreateDirectoryA("c:\\kit\\MixedCase", nullptr));
  EXPECT_TRUE(fs::is_directory(m.Root() / "C" / "KIT" / "MixedCase"));
  EXPECT_TRUE(SetCurrentDirectoryA("C:\\KIT\\MIXEDCASE"));
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  EXPECT_STREQ(cwd, "C:\\KIT\\MIXEDCASE");  // the path as the program gave it
  EXPECT_FALSE(CreateDirectoryA("C:\\KIT\\MIXEDCASE", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(Folders, CreateDirectoryNeedsItsParent) {
  TestMachine m;
  EXPECT_FALSE(CreateDirectoryA("C:\\A\\B", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CreateDirectoryA("C:", nullptr));  // the drive's current folder exists
  EXPECT_FALSE(CreateDirectoryA("Q:\\A", nullptr));
  EXPECT_TRUE(CreateDirectoryA("A", nullptr));   // relative to the current folder, C:\KIT
  EXPECT_TRUE(fs::is_directory(m.Host("C:\\KIT\\A")));
}

TEST(Folders, DoubleByteNames) {
  TestMachine m;
  // 表 is 95 5C: its second byte is a backslash byte, never a separator.
  ASSERT_TRUE(CreateDirectoryA(Sjis("C:\\表").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(Sjis("C:\\表\\示").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(m.Root() / "C" / "表" / "示"));
  EXPECT_TRUE(SetCurrentDirectoryA(Sjis("C:\\表\\示\\").c_str()));
}

TEST(Folders, CurrentFolderOnlyChangesToAnExistingFolder) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\FILE.TXT", "x");
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\MISSING"));
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\KIT\\FILE.TXT"));
  EXPECT_TRUE(SetCurrentDirectoryA("..\\WINDOWS\\SYSTEM"));
  char cwd[MAX_PATH];
  EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, cwd), 17u);
  EXPECT_STREQ(cwd, "C:\\WINDOWS\\SYSTEM");
  EXPECT_EQ(GetCurrentDirectoryA(5, cwd), 18u);  // too small: the size needed
}

TEST(Folders, PathsLongerThanWindowsAllowsAreRefused) {
  TestMachine m;
  std::string path = "C:\\";
  while (path.size() < 259) path += "X";
  EXPECT_FALSE(CreateDirectoryA((path + "\\Y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST(Drives, TypesComeFromTheMachine) {
  TestMachine m;
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("c:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("D:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA("C:"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(GetDriveTypeA(nullptr), static_cast<UINT>(DRIVE_FIXED));
}

TEST(Mutex, ANameIsSharedByEveryHandleUntilTheLastCloses) {
  TestMachine m;
  HANDLE first = CreateMutexA(nullptr, FALSE, "DRUPDATE");
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexA(nullptr, FALSE, "DRUPDATE");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CreateMutexA(nullptr, FALSE, "drupdate");  // names are case-sensitive
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(first);
  CloseHandle(second);
  CreateMutexA(nullptr, FALSE, "DRUPDATE");
  EXPECT_EQ(GetLastError(), 0u);
}

TEST(Strings, CaseInsensitiveComparisonLeavesDoubleByteCharactersAlone) {
  TestMachine m;
  EXPECT_EQ(lstrcmpiA("zelkova.inf", "ZELKOVA.INF"), 0);
  EXPECT_NE(lstrcmpiA("\x82\x60", "\x82\x81"), 0);  // full-width A and a: different characters
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "kvo qt-51x", 9, "KVO QT-51", 9), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "KVO QT\0\0\0", 9, "KVO QT-51", 9), CSTR_LESS_THAN);
  const char text[] = "\x95\x5C\\";
  EXPECT_EQ(CharNextA(text), text + 2);
  EXPECT_EQ(CharNextA(text + 2), text + 3);
  EXPECT_EQ(CharNextA(text + 3), text + 3);
  EXPECT_EQ(CharPrevA(text, text + 2), text);
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_FALSE(IsDBCSLeadByte(0x5C));
}

TEST(MessageBox, AnswersAreTakenInOrderThenTheDefaultButton) {
  TestMachine m(::w9x::testing::TestMachineOptions{.session = {.answers = {"no", "7", "CANCEL"}}});
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), IDOK);  // CANCEL is not a button here
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
}

}  // namespace
}  // namespace w9x

namespace w9x {
namespace {

TEST(Mutex, ReleasedWhenItsProcessDiesWithoutClosingIt) {
  testing::TestMachine m;
  pid_t child = fork();
  if (child == 0) {
    CreateMutexA(nullptr, FALSE, "HELD");
    raise(SIGKILL);  // no cleanup of any kind
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  CreateMutexA(nullptr, FALSE, "HELD");
  EXPECT_EQ(GetLastError(), 0u);
}

}  // namespace
}  // namespace w9x
