// The copy, delete and rename commands, and AppendSectionLine.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace drupdate_test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

void MakeReadOnly(const TestMachine& m, const std::string& path) {
  fs::permissions(m.Host(path), fs::perms::owner_write, fs::perm_options::remove);
}

// The lines of a section as the profile functions hand them out.
std::vector<std::string> SectionLines(const char* section, const std::string& ini) {
  std::vector<char> buffer(1 << 20);
  DWORD n = GetPrivateProfileSectionA(section, buffer.data(), static_cast<DWORD>(buffer.size()), ini.c_str());
  std::vector<std::string> lines;
  for (DWORD i = 0; i < n; i += static_cast<DWORD>(lines.back().size()) + 1) lines.emplace_back(&buffer[i]);
  return lines;
}

// A folder below C:\KIT whose file F.VXD has a full path of exactly `length` characters.
std::string FolderForPathLength(std::size_t length) {
  const std::string file = "\\F.VXD";
  std::string folder = "C:\\KIT\\L";
  while (folder.size() + file.size() < length) {
    folder += folder.size() % 60 == 59 ? '\\' : 'D';
  }
  if (folder.back() == '\\') folder.back() = 'E';
  EXPECT_EQ(folder.size() + file.size(), length);
  return folder;
}

// ---------------------------------------------------------------------------------------------
// Copy

struct CopyParseCase {
  const char* line;  // UTF-8
  int keep;
  const char* source_dir;
  const char* file_name;
  const char* dest_dir;
};

class CopyParse : public ::testing::TestWithParam<CopyParseCase> {};

TEST_P(CopyParse, Fields) {
  const CopyParseCase& c = GetParam();
  AppFixture f;
  for (const char* file : {"C:\\KIT\\DRIVERS\\NEW.VXD", "C:\\KIT\\DRIVERS\\OLD.VXD", "C:\\KIT\\TOOL.EXE",
                           "C:\\KIT\\!DRV\\X.VXD", "C:\\KIT\\表\\表.VXD", "C:\\WINDOWS\\SYSTEM\\OLD.VXD"})
    f.machine.WriteFile(file, "data");
  CopyCommand cmd;
  ASSERT_EQ(cmd.Parse(Sjis(c.line).c_str()), c.keep) << c.line;
  if (!c.keep) return;
  EXPECT_EQ(std::string(cmd.SourceDir), Sjis(c.source_dir)) << c.line;
  EXPECT_EQ(std::string(cmd.FileName), Sjis(c.file_name)) << c.line;
  EXPECT_STREQ(cmd.DestDir, c.dest_dir) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CopyParse,
    ::testing::Values(
        CopyParseCase{"NEW.VXD,DRIVERS,11", 1, "C:\\KIT\\DRIVERS\\", "NEW.VXD", "C:\\WINDOWS\\SYSTEM\\"},
        CopyParseCase{"NEW.VXD,DRIVERS\\,11", 1, "C:\\KIT\\DRIVERS\\", "NEW.VXD", "C:\\WINDOWS\\SYSTEM\\"},
        CopyParseCase{"TOOL.EXE,*", 1, "C:\\KIT\\", "TOOL.EXE", "C:\\WINDOWS\\"},
        CopyParseCase{"TOOL.EXE,*DRIVERS,30", 1, "C:\\KIT\\", "TOOL.EXE", "C:\\"},  // "*" whatever follows
        CopyParseCase{"TOOL.EXE,", 1, "C:\\KIT\\\\", "TOOL.EXE", "C:\\WINDOWS\\"},   // empty: a backslash added
        CopyParseCase{"X.VXD,!DRV", 1, "C:\\KIT\\!DRV\\", "X.VXD", "C:\\WINDOWS\\"},  // no "!" form here
        CopyParseCase{"表.VXD,表,11", 1, "C:\\KIT\\表\\", "表.VXD", "C:\\WINDOWS\\SYSTEM\\"},  // 表 ends in 0x5C
        CopyParseCase{"TOOL.EXE", 0},                 // no source folder
        CopyParseCase{",DRIVERS,11", 0},              // no file name: a folder is no file
        CopyParseCase{"/,DRIVERS,11", 0},
        CopyParseCase{"MISSING.VXD,DRIVERS,11", 0},   // no source file
        CopyParseCase{"/NEW.VXD,DRIVERS,11", 0},      // update only, nothing to update
        CopyParseCase{"/OLD.VXD,DRIVERS,11", 1, "C:\\KIT\\DRIVERS\\", "OLD.VXD", "C:\\WINDOWS\\SYSTEM\\"}));

class CopyRun : public ::testing::Test {
 protected:
  CopyRun() : f(Options("win98se", true)) {
    f.machine.WriteFile(kSource, "new");
    f.machine.WriteFile(kTarget, "old");
  }
  static constexpr const char* kSource = "C:\\KIT\\DRIVERS\\NEW.VXD";
  static constexpr const char* kTarget = "C:\\WINDOWS\\SYSTEM\\NEW.VXD";
  AppFixture f;
  CopyCommand cmd;
};

TEST_F(CopyRun, CopiesOverTheFileThereAndClearsOnlyTheReadOnlyBit) {
  ASSERT_TRUE(SetFileAttributesA(kSource, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                              FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_EQ(cmd.Parse("NEW.VXD,DRIVERS,11"), 1);
  EXPECT_EQ(cmd.Run(0), 0);  // not its pass
  EXPECT_EQ(f.machine.ReadFile(kTarget), "old");
  EXPECT_EQ(cmd.Run(1), 1);
  EXPECT_EQ(f.machine.ReadFile(kTarget), "new");
  EXPECT_EQ(GetFileAttributesA(kTarget), DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(GetFileAttributesA(kSource), DWORD{0x27});  // the kit's file is left as it was
  auto changes = f.machine.Events("SetFileAttributesA");
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[1]["path"], kTarget);
  EXPECT_EQ(changes[1]["attributes"], "0x26");
}

TEST_F(CopyRun, ReadOnlyFileThereIsNotReplacedAndTheCommandIsNotDone) {
  MakeReadOnly(f.machine, kTarget);
  ASSERT_EQ(cmd.Parse("NEW.VXD,DRIVERS,11"), 1);
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_EQ(f.machine.ReadFile(kTarget), "old");
  auto copies = f.machine.Events("CopyFileA");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0]["error"], ERROR_ACCESS_DENIED);
  EXPECT_TRUE(f.machine.Events("SetFileAttributesA").empty());
}

TEST_F(CopyRun, MissingDestinationFolderIsNotCreated) {
  ASSERT_EQ(cmd.Parse("NEW.VXD,DRIVERS,40"), 1);  // SYSTEM32\DRIVERS does not exist on Windows 98
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_FALSE(f.machine.Exists("C:\\WINDOWS\\SYSTEM32"));
}

TEST_F(CopyRun, FailedAttributeChangeStillCountsAsACopyMade) {
  MakeReadOnly(f.machine, kSource);
  ASSERT_EQ(cmd.Parse("NEW.VXD,DRIVERS,11"), 1);
  // The attribute change fails, as on a file system that refuses it.
  f.machine.process().Faults().Fail("SetFileAttributesA", 1, ERROR_ACCESS_DENIED);
  const int done = cmd.Run(1);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(f.machine.ReadFile(kTarget), "new");
  EXPECT_EQ(GetFileAttributesA(kTarget), DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE});
  auto changes = f.machine.Events("SetFileAttributesA");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0]["result"], false);
  EXPECT_EQ(changes[0]["error"], ERROR_ACCESS_DENIED);
}

// ---------------------------------------------------------------------------------------------
// Delete

constexpr const char* kDoomed = "C:\\WINDOWS\\SYSTEM\\OLD.VXD";
constexpr const char* kWininit = "C:\\WINDOWS\\WININIT.INI";

TEST(DeleteCommandTest, DeletesTheFileOrIsDroppedWhenItIsNotThere) {
  AppFixture f;
  DeleteCommand missing;
  EXPECT_EQ(missing.Parse("OLD.VXD,,11"), 0);
  DeleteCommand folder;  // no file name: the folder itself is not a file to delete
  EXPECT_EQ(folder.Parse(",,11"), 0);
  f.machine.WriteFile(kDoomed, "x");
  DeleteCommand cmd;
  ASSERT_EQ(cmd.Parse("OLD.VXD,,11"), 1);
  EXPECT_STREQ(cmd.DestDir, "C:\\WINDOWS\\SYSTEM\\");
  EXPECT_EQ(cmd.Run(1), 1);
  EXPECT_FALSE(f.machine.Exists(kDoomed));
  EXPECT_FALSE(f.machine.Exists(kWininit));
}

struct PendingCase {
  const char* name;
  const char* wininit;   // null: no WININIT.INI
  const char* expected;  // WININIT.INI afterwards
};

class PendingDeletion : public ::testing::TestWithParam<PendingCase> {};

TEST_P(PendingDeletion, LineGoesLastInTheRenameSection) {
  const PendingCase& c = GetParam();
  AppFixture f;
  f.machine.WriteFile(kDoomed, "x");
  MakeReadOnly(f.machine, kDoomed);  // the immediate deletion fails
  if (c.wininit) f.machine.WriteFile(kWininit, c.wininit);
  DeleteCommand cmd;
  ASSERT_EQ(cmd.Parse("OLD.VXD,,11"), 1);
  EXPECT_EQ(cmd.Run(1), 1) << c.name;
  EXPECT_TRUE(f.machine.Exists(kDoomed));
  EXPECT_EQ(f.machine.ReadFile(kWininit), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Wininit, PendingDeletion,
    ::testing::Values(
        PendingCase{"no file", nullptr, "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n"},
        PendingCase{"no section", "[other]\r\nA=1\r\n",
                    "[other]\r\nA=1\r\n[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n"},
        PendingCase{"lines there",
                    "[rename]\r\nNUL=C:\\A.TXT\r\nC:\\B.NEW=C:\\B.OLD\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n\r\n[x]\r\ny=1\r\n",
                    "[rename]\r\nNUL=C:\\A.TXT\r\nC:\\B.NEW=C:\\B.OLD\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n"
                    "NUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n\r\n[x]\r\ny=1\r\n"}));

TEST(PendingDeletion, EachFailedRunAddsItsOwnLine) {
  AppFixture f;
  f.machine.WriteFile(kDoomed, "x");
  MakeReadOnly(f.machine, kDoomed);
  for (int run = 0; run < 2; ++run) {
    DeleteCommand cmd;
    ASSERT_EQ(cmd.Parse("OLD.VXD,,11"), 1);
    EXPECT_EQ(cmd.Run(1), 1);
  }
  EXPECT_EQ(SectionLines("rename", "C:\\WINDOWS\\WININIT.INI"),
            (std::vector<std::string>{"NUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD", "NUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD"}));
}

TEST(PendingDeletion, NotDoneWhenWininitCannotBeWritten) {
  AppFixture f;
  f.machine.WriteFile(kDoomed, "x");
  MakeReadOnly(f.machine, kDoomed);
  fs::create_directories(f.machine.Host(kWininit));  // a folder in its place
  DeleteCommand cmd;
  ASSERT_EQ(cmd.Parse("OLD.VXD,,11"), 1);
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_TRUE(fs::is_directory(f.machine.Host(kWininit)));
}

// ---------------------------------------------------------------------------------------------
// AppendSectionLine

// Sections whose listing (lines, their NULs and the closing NUL) is around and beyond the first
// 260-byte buffer: every line is kept, in order, before the new one.
TEST(AppendSectionLineTest, SectionsOfAnyLengthAreReadWhole) {
  for (std::size_t listing : {257u, 258u, 259u, 260u, 261u, 262u, 519u, 520u, 521u, 5000u}) {
    AppFixture f;
    // Lines of 10 bytes ("NUL=C:\Xnn" with its NUL: 11 bytes in the listing), the last one
    // padded to reach the listing size exactly.
    std::vector<std::string> lines;
    std::size_t used = 1;
    while (used + 11 <= listing) {
      lines.push_back("NUL=C:\\" + std::string(1, static_cast<char>('A' + lines.size() % 26)) +
                      std::to_string(10 + lines.size() % 90));
      used += 11;
    }
    if (used < listing) lines.back() += std::string(listing - used, 'P');
    std::string ini = "[rename]\r\n";
    for (auto& l : lines) ini += l + "\r\n";
    f.machine.WriteFile(kWininit, ini);
    ASSERT_EQ(AppendSectionLine("rename", "NUL=C:\\NEW.VXD", kWininit), 1) << listing;
    lines.push_back("NUL=C:\\NEW.VXD");
    EXPECT_EQ(SectionLines("rename", kWininit), lines) << listing;
  }
}

TEST(AppendSectionLineTest, BinaryGarbageInTheFile) {
  AppFixture f;
  // A stray byte-order mark, NUL bytes inside and as a line, a lone lead byte, a broken header.
  const std::string garbage = "\xFF\xFE\r\n[rename]\r\nNUL=C:\\A\0B\r\n\0\r\n\x81\r\nNUL=C:\\Z\r\n"
                              "[other]\r\nk=v\r\n\0\x01[ren\xFF"s;
  f.machine.WriteFile(kWininit, garbage);
  const auto before = SectionLines("rename", kWininit);
  ASSERT_EQ(before, (std::vector<std::string>{"NUL=C:\\A", "\x81", "NUL=C:\\Z"}));
  ASSERT_EQ(AppendSectionLine("rename", "NUL=C:\\NEW.VXD", kWininit), 1);
  auto after = SectionLines("rename", kWininit);
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back(), "NUL=C:\\NEW.VXD");
  after.pop_back();
  EXPECT_EQ(after, before);
  EXPECT_EQ(SectionLines("other", kWininit), std::vector<std::string>{"k=v"});
}

TEST(AppendSectionLineTest, MissingFolderWritesNothing) {
  AppFixture f;
  EXPECT_EQ(AppendSectionLine("rename", "NUL=C:\\NEW.VXD", "C:\\NOWHERE\\WININIT.INI"), 0);
  EXPECT_FALSE(f.machine.Exists("C:\\NOWHERE"));
}

// ---------------------------------------------------------------------------------------------
// Rename

struct RenameCase {
  const char* line;  // UTF-8
  int keep;
};

class RenameParse : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenameParse, Keeps) {
  AppFixture f;
  f.machine.WriteFile("C:\\WINDOWS\\SYSTEM\\OLD.DLL", "x");
  f.machine.WriteFile("C:\\WINDOWS\\SYSTEM\\表.DLL", "x");
  RenameCommand cmd;
  EXPECT_EQ(cmd.Parse(Sjis(GetParam().line).c_str()), GetParam().keep) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Lines, RenameParse,
                         ::testing::Values(RenameCase{"OLD.DLL,NEW.DLL,11", 1}, RenameCase{"old.dll,NEW.DLL,11", 1},
                                           RenameCase{"OLD.DLL,old.dll,11", 0},  // letter case only
                                           RenameCase{"OLD.DLL,Old.Dll,11", 0}, RenameCase{"OLD.DLL", 0},
                                           RenameCase{"OLD.DLL,NEW.DLL", 0},     // not in the Windows folder
                                           RenameCase{"表.DLL,表示.DLL,11", 1}));

TEST(RenameRun, RenamesWithinTheFolderOrFailsWhenTheNewNameIsTaken) {
  AppFixture f;
  f.machine.WriteFile("C:\\WINDOWS\\SYSTEM\\OLD.DLL", "old");
  RenameCommand cmd;
  ASSERT_EQ(cmd.Parse("OLD.DLL,NEW.DLL,11"), 1);
  EXPECT_EQ(cmd.Run(1), 1);
  EXPECT_EQ(f.machine.ReadFile("C:\\WINDOWS\\SYSTEM\\NEW.DLL"), "old");
  EXPECT_FALSE(f.machine.Exists("C:\\WINDOWS\\SYSTEM\\OLD.DLL"));

  f.machine.WriteFile("C:\\WINDOWS\\SYSTEM\\A.DLL", "a");
  RenameCommand taken;
  ASSERT_EQ(taken.Parse("A.DLL,NEW.DLL,11"), 1);
  EXPECT_EQ(taken.Run(1), 0);
  EXPECT_EQ(f.machine.ReadFile("C:\\WINDOWS\\SYSTEM\\A.DLL"), "a");
  EXPECT_EQ(f.machine.ReadFile("C:\\WINDOWS\\SYSTEM\\NEW.DLL"), "old");
}

// ---------------------------------------------------------------------------------------------
// Long paths: Windows 9x takes full paths of up to 259 characters.

TEST(LongPaths, AFileBeyond259CharactersIsNeverActedOn) {
  for (std::size_t length : {259u, 260u, 300u}) {
    AppFixture f;
    f.machine.WriteFile("C:\\OPTIONS\\.keep", "");
    const std::string folder = FolderForPathLength(length);
    const std::string path = folder + "\\F.VXD";
    f.machine.WriteFile(path, "data");
    MakeReadOnly(f.machine, path);
    const int expected = length <= 259 ? 1 : 0;

    CopyCommand copy;
    ASSERT_EQ(copy.Parse(("F.VXD," + folder.substr(7) + ",11").c_str()), expected) << length;
    DeleteCommand del;
    ASSERT_EQ(del.Parse(("F.VXD,,!" + folder).c_str()), expected) << length;
    RenameCommand rename;
    ASSERT_EQ(rename.Parse(("F.VXD,G.VXD,!" + folder).c_str()), expected) << length;
    if (!expected) continue;

    EXPECT_EQ(copy.Run(1), 1);
    EXPECT_EQ(f.machine.ReadFile("C:\\WINDOWS\\SYSTEM\\F.VXD"), "data");
    EXPECT_EQ(del.Run(1), 1);  // read-only: left to WININIT.INI
    EXPECT_EQ(SectionLines("rename", kWininit), std::vector<std::string>{"NUL=" + path});
    // The new name makes the path 259 characters too.
    EXPECT_EQ(rename.Run(1), 1);
    EXPECT_TRUE(f.machine.Exists(folder + "\\G.VXD"));
  }
}

}  // namespace
}  // namespace drupdate_test
