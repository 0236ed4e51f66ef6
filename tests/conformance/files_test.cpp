// Files and folders as the file commands use them: copies over existing and read-only files,
// the attributes a copy takes, deletes and renames, folder creation, and names whose second
// byte is a backslash.
#include <algorithm>
#include <string>
#include <vector>

#include "conformance.h"

namespace conformance {
namespace {

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteBytes(source_, "source bytes"));
    ASSERT_TRUE(WriteBytes(target_, "old target"));
  }

  // The result and the last error of one call.
  template <typename Call>
  static std::pair<BOOL, DWORD> Outcome(Call call) {
    SetLastError(0);
    BOOL ok = call();
    return {ok ? TRUE : FALSE, ok ? 0 : GetLastError()};
  }

  static std::string NameOnDisk(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(path.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return "";
    FindClose(find);
    return found.cFileName;
  }

  const std::string source_ = Scratch("SOURCE.TXT");
  const std::string target_ = Scratch("TARGET.TXT");
};

using Result = std::pair<BOOL, DWORD>;

TEST_F(Files, CopyOverAnExistingFile) {
  EXPECT_EQ(Outcome([&] { return CopyFileA(source_.c_str(), target_.c_str(), TRUE); }),
            Result(FALSE, ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadBytes(target_), "old target");
  EXPECT_EQ(Outcome([&] { return CopyFileA(source_.c_str(), target_.c_str(), FALSE); }), Result(TRUE, 0));
  EXPECT_EQ(ReadBytes(target_), "source bytes");
  EXPECT_EQ(ReadBytes(source_), "source bytes");
}

TEST_F(Files, CopyOverAReadOnlyFileFails) {
  if (!ReadOnlyHonoured()) GTEST_SKIP() << kReadOnlyIgnored;
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Outcome([&] { return CopyFileA(source_.c_str(), target_.c_str(), FALSE); }),
            Result(FALSE, ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadBytes(target_), "old target");
}

TEST_F(Files, CopyFailures) {
  EXPECT_EQ(Outcome([&] { return CopyFileA(Scratch("NONE.TXT").c_str(), target_.c_str(), FALSE); }),
            Result(FALSE, ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Outcome([&] { return CopyFileA(source_.c_str(), Scratch("NODIR\\X.TXT").c_str(), FALSE); }),
            Result(FALSE, ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, CopyTakesTheSourceAttributes) {
  const std::string copy = Scratch("COPY.TXT");
  ASSERT_TRUE(SetFileAttributesA(source_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(CopyFileA(source_.c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(GetFileAttributesA(copy.c_str()), GetFileAttributesA(source_.c_str()));
  EXPECT_EQ(GetFileAttributesA(copy.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // The read-only copy cannot be replaced or deleted until its attribute is cleared.
  if (ReadOnlyHonoured()) {
    EXPECT_EQ(Outcome([&] { return CopyFileA(target_.c_str(), copy.c_str(), FALSE); }),
              Result(FALSE, ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(Outcome([&] { return DeleteFileA(copy.c_str()); }), Result(FALSE, ERROR_ACCESS_DENIED));
  ASSERT_TRUE(SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_TRUE(DeleteFileA(copy.c_str()));
}

TEST_F(Files, DeleteFailsOnAReadOnlyFile) {
  ASSERT_TRUE(SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Outcome([&] { return DeleteFileA(target_.c_str()); }), Result(FALSE, ERROR_ACCESS_DENIED));
  EXPECT_TRUE(Exists(target_));
  EXPECT_EQ(Outcome([&] { return DeleteFileA(source_.c_str()); }), Result(TRUE, 0));
  EXPECT_FALSE(Exists(source_));
  EXPECT_EQ(Outcome([&] { return DeleteFileA(source_.c_str()); }), Result(FALSE, ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Outcome([&] { return DeleteFileA(Scratch("NODIR\\X.TXT").c_str()); }),
            Result(FALSE, ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, MoveRenamesAndRefusesToReplace) {
  const std::string renamed = Scratch("RENAMED.TXT");
  EXPECT_EQ(Outcome([&] { return MoveFileA(source_.c_str(), renamed.c_str()); }), Result(TRUE, 0));
  EXPECT_FALSE(Exists(source_));
  EXPECT_EQ(ReadBytes(renamed), "source bytes");

  EXPECT_EQ(Outcome([&] { return MoveFileA(renamed.c_str(), target_.c_str()); }),
            Result(FALSE, ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadBytes(target_), "old target");
  EXPECT_EQ(Outcome([&] { return MoveFileA(source_.c_str(), Scratch("OTHER.TXT").c_str()); }),
            Result(FALSE, ERROR_FILE_NOT_FOUND));

  // A read-only file can be renamed.
  ASSERT_TRUE(SetFileAttributesA(renamed.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(Outcome([&] { return MoveFileA(renamed.c_str(), Scratch("Again.txt").c_str()); }), Result(TRUE, 0));
  EXPECT_EQ(NameOnDisk(Scratch("AGAIN.TXT")), "Again.txt");

  // Into another folder of the same drive.
  ASSERT_TRUE(CreateDirectoryA(Scratch("SUB").c_str(), nullptr));
  EXPECT_EQ(Outcome([&] { return MoveFileA(target_.c_str(), Scratch("SUB\\MOVED.TXT").c_str()); }), Result(TRUE, 0));
  EXPECT_EQ(ReadBytes(Scratch("SUB\\MOVED.TXT")), "old target");
}

TEST_F(Files, TrailingDotsAndBlanksOfTheLastNameAreDropped) {
  // "C.TXT." names C.TXT: a rename to it makes C.TXT, and the dotted name opens that file.
  struct Case {
    std::string to, named;
  } cases[] = {{"C.TXT.", "C.TXT"}, {"D.TXT. .", "D.TXT"}, {"E  ", "E"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteBytes(Scratch("X.TMP"), c.named));
    EXPECT_EQ(Outcome([&] { return MoveFileA(Scratch("X.TMP").c_str(), Scratch(c.to).c_str()); }), Result(TRUE, 0))
        << c.to;
    EXPECT_EQ(NameOnDisk(Scratch(c.named)), c.named) << c.to;
    EXPECT_EQ(ReadBytes(Scratch(c.to)), c.named) << c.to;
  }
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE handle = FindFirstFileA(Scratch("*").c_str(), &found);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(handle, &found));
  FindClose(handle);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"C.TXT", "D.TXT", "E", "SOURCE.TXT", "TARGET.TXT"}));
}

TEST_F(Files, CreateDirectoryNeedsItsParent) {
  const std::string folder = Scratch("NEW");
  EXPECT_EQ(Outcome([&] { return CreateDirectoryA(folder.c_str(), nullptr); }), Result(TRUE, 0));
  EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(Outcome([&] { return CreateDirectoryA(folder.c_str(), nullptr); }),
            Result(FALSE, ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Outcome([&] { return CreateDirectoryA(Scratch("MISSING\\NEW").c_str(), nullptr); }),
            Result(FALSE, ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Outcome([&] { return CreateDirectoryA(source_.c_str(), nullptr); }),
            Result(FALSE, ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  EXPECT_FALSE(SetCurrentDirectoryA(Scratch("MISSING").c_str()));
}

TEST_F(Files, FindListsTheMatchingNames) {
  ASSERT_TRUE(WriteBytes(Scratch("Mixed.Txt"), ""));
  ASSERT_TRUE(WriteBytes(Scratch("SETUP.INF"), ""));
  ASSERT_TRUE(CreateDirectoryA(Scratch("FOLDER.TXT").c_str(), nullptr));
  auto find = [](const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    SetLastError(0);
    HANDLE handle = FindFirstFileA(pattern.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return std::make_pair(names, GetLastError());
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(handle, &found));
    const DWORD end = GetLastError();
    FindClose(handle);
    std::sort(names.begin(), names.end());
    return std::make_pair(names, end);
  };
  using Found = std::pair<std::vector<std::string>, DWORD>;
  EXPECT_EQ(find(Scratch("*.txt")),
            Found({"FOLDER.TXT", "Mixed.Txt", "SOURCE.TXT", "TARGET.TXT"}, ERROR_NO_MORE_FILES));
  EXPECT_EQ(find(Scratch("?ETUP.*")), Found({"SETUP.INF"}, ERROR_NO_MORE_FILES));
  EXPECT_EQ(find(Scratch("mixed.txt")), Found({"Mixed.Txt"}, ERROR_NO_MORE_FILES));
  EXPECT_EQ(find(Scratch("*.EXE")), Found({}, ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(find(Scratch("NODIR\\*.TXT")), Found({}, ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, APathEndingInABackslashNamesNoFile) {
  // CFile::GetStatus rests on this: a folder path with its closing backslash is not found.
  ASSERT_TRUE(CreateDirectoryA(Scratch("SUB").c_str(), nullptr));
  WIN32_FIND_DATAA found;
  for (const std::string& path : {Scratch("SUB\\"), std::string(kScratch) + "\\"}) {
    SetLastError(0);
    HANDLE handle = FindFirstFileA(path.c_str(), &found);
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << path;
    if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND}) << path;
  }
  HANDLE handle = FindFirstFileA(Scratch("SUB").c_str(), &found);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
}

TEST_F(Files, NamesWithABackslashTrailByte) {
  // The second byte of 表 (0x95 0x5C) is a backslash: it is never a separator.
  const std::string folder = Scratch("表");
  ASSERT_EQ(folder.substr(folder.size() - 2), "\x95\x5C");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string file = folder + "\\ソ.TXT";  // ソ is 0x83 0x5C
  ASSERT_TRUE(CopyFileA(source_.c_str(), file.c_str(), FALSE));
  EXPECT_EQ(ReadBytes(file), "source bytes");
  EXPECT_EQ(NameOnDisk(folder), "表");
  EXPECT_EQ(NameOnDisk(file), "ソ.TXT");
  EXPECT_TRUE(MoveFileA(file.c_str(), (folder + "\\表示.TXT").c_str()));
  EXPECT_EQ(NameOnDisk(folder + "\\*.TXT"), "表示.TXT");
  EXPECT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  char current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof current, current), 0u);
  EXPECT_STREQ(current, folder.c_str());
}

}  // namespace
}  // namespace conformance
