// CopyFileA, DeleteFileA and MoveFileA on the machine's drives.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using testing::Sjis;
using testing::TestMachine;

void MakeReadOnly(const TestMachine& m, const std::string& path) {
  fs::permissions(m.Host(path), fs::perms::owner_write, fs::perm_options::remove);
}

TEST(CopyFile, OverAnExistingFileUnlessAskedNotToOrItIsReadOnly) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\A.VXD", "new");
  m.WriteFile("C:\\WINDOWS\\a.vxd", "old");
  EXPECT_FALSE(CopyFileA("C:\\KIT\\A.VXD", "C:\\WINDOWS\\A.VXD", TRUE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS});
  ASSERT_TRUE(CopyFileA("C:\\KIT\\A.VXD", "C:\\WINDOWS\\A.VXD", FALSE));
  EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\a.vxd"), "new");  // the name there keeps its spelling

  m.WriteFile("C:\\KIT\\A.VXD", "newer");
  MakeReadOnly(m, "C:\\WINDOWS\\a.vxd");
  EXPECT_FALSE(CopyFileA("C:\\KIT\\A.VXD", "C:\\WINDOWS\\A.VXD", FALSE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\a.vxd"), "new");
}

TEST(CopyFile, TheCopyTakesTheSourcesAttributes) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\A.VXD", "x");
  ASSERT_TRUE(SetFileAttributesA("C:\\KIT\\A.VXD", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(CopyFileA("C:\\KIT\\A.VXD", "C:\\WINDOWS\\B.VXD", FALSE));
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\B.VXD"), DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN});
  EXPECT_FALSE(CopyFileA("C:\\KIT\\MISSING.VXD", "C:\\WINDOWS\\C.VXD", FALSE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(CopyFileA("C:\\KIT\\A.VXD", "C:\\NONE\\A.VXD", FALSE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

TEST(FindFirstFile, APathEndingInASeparatorNamesNoFile) {
  TestMachine m;
  m.WriteFile("C:\\表\\A.TXT", "x");
  WIN32_FIND_DATAA data;
  for (const char* path : {"C:\\WINDOWS\\", "C:\\WINDOWS/", "C:\\"}) {
    EXPECT_EQ(FindFirstFileA(path, &data), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND}) << path;
  }
  // 表 ends in the byte 0x5C, which is no separator.
  for (const std::string& path : {Sjis("C:\\表"), Sjis("C:\\表\\A.TXT"), std::string("C:\\WINDOWS")}) {
    HANDLE h = FindFirstFileA(path.c_str(), &data);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    FindClose(h);
  }
}

TEST(DeleteFile, ReadOnlyFilesStay) {
  TestMachine m;
  m.WriteFile("C:\\WINDOWS\\SYSTEM\\A.VXD", "x");
  m.WriteFile("C:\\WINDOWS\\SYSTEM\\B.VXD", "x");
  MakeReadOnly(m, "C:\\WINDOWS\\SYSTEM\\B.VXD");
  EXPECT_TRUE(DeleteFileA("c:\\windows\\system\\a.vxd"));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM\\A.VXD"));
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\B.VXD"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\SYSTEM\\B.VXD"));
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM\\A.VXD"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\SYSTEM"));  // a folder
}

TEST(MoveFile, RenamesKeepingAttributesAndRefusesATakenName) {
  TestMachine m;
  m.WriteFile("C:\\WINDOWS\\OLD.DLL", "old");
  m.WriteFile("C:\\WINDOWS\\TAKEN.DLL", "taken");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\OLD.DLL", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\OLD.DLL", "C:\\WINDOWS\\taken.dll"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  ASSERT_TRUE(MoveFileA("C:\\WINDOWS\\OLD.DLL", Sjis("C:\\WINDOWS\\表.DLL").c_str()));
  EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\表.DLL"), "old");
  EXPECT_EQ(GetFileAttributesA(Sjis("C:\\WINDOWS\\表.DLL").c_str()), DWORD{FILE_ATTRIBUTE_HIDDEN});
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\OLD.DLL"));
}

}  // namespace
}  // namespace w9x
