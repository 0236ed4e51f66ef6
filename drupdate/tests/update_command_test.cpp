#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <typeinfo>
#include <vector>

#include "app_fixture.h"
#include "machine/host_file.h"

namespace drupdate_test {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Load

struct Loaded {
  std::string kind;
  std::string file_name;
};

std::vector<Loaded> LoadedCommands(CommandList& list) {
  std::vector<Loaded> out;
  for (POSITION pos = list.Items.GetHeadPosition(); pos;) {
    auto* c = static_cast<UpdateCommand*>(list.Items.GetNext(pos));
    std::string kind = dynamic_cast<CopyCommand*>(c)     ? "copy"
                       : dynamic_cast<DeleteCommand*>(c) ? "delete"
                       : dynamic_cast<InfCommand*>(c)    ? "inf"
                                                          : "rename";
    out.push_back({kind, c->FileName});
  }
  return out;
}

bool operator==(const Loaded& a, const Loaded& b) { return a.kind == b.kind && a.file_name == b.file_name; }
std::ostream& operator<<(std::ostream& o, const Loaded& l) { return o << l.kind << ":" << l.file_name; }

// A command of one kind whose own checks are left out (only the base Parse runs), so that Load
// can be looked at without the files the kinds look for.
template <typename Kind>
class BaseParsed : public Kind {
 public:
  int Parse(const char* text) override { return UpdateCommand::Parse(text); }
};

// A list whose commands never run, so that Load can be looked at on its own, and which can be
// told to fail creating its n-th command.
class ProbeList : public CommandList {
 public:
  int fail_at = -1;

 protected:
  UpdateCommand* CreateCommand(int kind) override {
    if (created_++ == fail_at) return nullptr;
    switch (kind) {
      case 1: return new BaseParsed<CopyCommand>;
      case 2: return new BaseParsed<DeleteCommand>;
      case 3: return new BaseParsed<InfCommand>;
      case 4: return new BaseParsed<RenameCommand>;
      default: return nullptr;
    }
  }

 private:
  int created_ = 0;
};

TEST(Load, ReadsKeysInOrderUntilTheFirstMissingOrEmptyOne) {
  AppFixture f;
  f.WriteScript("[Command]\r\n0=1,A\r\n1=2,B\r\n3=1,D\r\n");
  ProbeList list;
  EXPECT_EQ(list.Load(), 1);
  EXPECT_EQ(LoadedCommands(list), (std::vector<Loaded>{{"copy", "A"}, {"delete", "B"}}));

  f.WriteScript("[Command]\r\n0=1,A\r\n1=\r\n2=2,C\r\n");
  ProbeList list2;
  list2.Load();
  EXPECT_EQ(LoadedCommands(list2), (std::vector<Loaded>{{"copy", "A"}}));
}

TEST(Load, KindRules) {
  AppFixture f;
  f.WriteScript(
      "[Command]\r\n"
      "0=1\r\n"            // no comma: ignored
      "1=0,A\r\n"          // kind 0
      "2=5,B\r\n"          // kind 5
      "3=X,C\r\n"          // not a number
      "4= 3junk,D\r\n"     // atoi: blanks before, text after the digits
      "5=-1,E\r\n"
      "6=4,F,G\r\n"
      "7=2,\r\n"           // empty argument text
      "8=1,H,,,,,,,\r\n"); // seven commas: rejected by Parse
  ProbeList list;
  list.Load();
  EXPECT_EQ(LoadedCommands(list), (std::vector<Loaded>{{"inf", "D"}, {"rename", "F"}, {"delete", ""}}));
}

TEST(Load, SeesAtMost511CharactersOfAValue) {
  AppFixture f;
  f.WriteScript("[Command]\r\n0=2," + std::string(600, 'N') + "\r\n");
  ProbeList list;
  list.Load();
  ASSERT_EQ(list.Items.GetCount(), 1);
  EXPECT_EQ(std::string(static_cast<UpdateCommand*>(list.Items.GetHead())->FileName), std::string(509, 'N'));
}

TEST(Load, FailsWhenACommandCannotBeCreatedKeepingThoseBefore) {
  AppFixture f;
  f.WriteScript("[Command]\r\n0=1,A\r\n1=1,B\r\n2=1,C\r\n");
  ProbeList list;
  list.fail_at = 1;
  EXPECT_EQ(list.Load(), 0);
  EXPECT_EQ(LoadedCommands(list), (std::vector<Loaded>{{"copy", "A"}}));
}

// ---------------------------------------------------------------------------------------------
// Base Parse

struct ParseCase {
  const char* text;
  int result;
  const char* file_name;
  const char* param;  // null: no field 1
  int dir_id, pass, os_mask, keyboard;
  const char* pattern;
};

class BaseParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(BaseParse, Fields) {
  const ParseCase& c = GetParam();
  AppFixture f;
  UpdateCommand cmd;
  EXPECT_EQ(cmd.Parse(c.text), c.result);
  if (!c.result) return;
  EXPECT_STREQ(cmd.FileName, c.file_name);
  if (c.param) EXPECT_STREQ(cmd.Param, c.param);
  else EXPECT_EQ(cmd.Param, nullptr);
  EXPECT_EQ(cmd.DirId, c.dir_id);
  EXPECT_EQ(cmd.Pass, c.pass);
  EXPECT_EQ(cmd.OsMask, c.os_mask);
  EXPECT_EQ(cmd.KeyboardCond, c.keyboard);
  EXPECT_STREQ(cmd.ModelPattern, c.pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BaseParse,
    ::testing::Values(ParseCase{"", 1, "", nullptr, 0, 1, -1, 0, ""},
                      ParseCase{"A.TXT", 1, "A.TXT", nullptr, 0, 1, -1, 0, ""},
                      ParseCase{"A.TXT,SRC", 1, "A.TXT", "SRC", 0, 1, -1, 0, ""},
                      ParseCase{"A,,,,", 1, "A", "", 0, 0, 0, 0, ""},  // present but empty: 0, not the default
                      ParseCase{"A,B,11,0,130,1,XY-100*", 1, "A", "B", 11, 0, 130, 1, "XY-100*"},
                      ParseCase{" A , B ,17", 1, " A ", " B ", 17, 1, -1, 0, ""},  // fields are not trimmed
                      ParseCase{"A,B,C,D,E,F,G,H", 0},                              // seven commas
                      ParseCase{"表,表示,11", 1, "表", "表示", 11, 1, -1, 0, ""}));

TEST(BaseParse, NullText) {
  AppFixture f;
  UpdateCommand cmd;
  EXPECT_EQ(cmd.Parse(nullptr), 0);
}

TEST(BaseParse, DoubleByteCommaTrailIsNotASeparator) {
  AppFixture f;
  UpdateCommand cmd;
  // 0x82 0x2C would be a lead byte followed by a comma byte: 0x2C is not a valid trail byte of
  // code page 932 but the search still treats the pair as one character.
  ASSERT_EQ(cmd.Parse("X\x82,Y,11"), 1);
  EXPECT_STREQ(cmd.FileName, "X\x82,Y");
  EXPECT_STREQ(cmd.Param, "11");
}

// ---------------------------------------------------------------------------------------------
// The "!" destination

class BangDestination : public ::testing::Test {
 protected:
  AppFixture f;
  void MakeOptions() { f.machine.WriteFile("C:\\OPTIONS\\.keep", ""); }
};

TEST_F(BangDestination, RejectedWithoutTheOptionsFolder) {
  UpdateCommand cmd;
  EXPECT_EQ(cmd.Parse("TOOL.EXE,*,!C:\\KIT\\TOOLS"), 0);
  EXPECT_FALSE(f.machine.Exists("C:\\KIT\\TOOLS"));
}

TEST_F(BangDestination, CreatesTheFolderAndItsParents) {
  MakeOptions();
  UpdateCommand cmd;
  ASSERT_EQ(cmd.Parse("TOOL.EXE,*,!C:\\NEW\\DEEP\\TOOLS"), 1);
  EXPECT_STREQ(cmd.DestDir, "C:\\NEW\\DEEP\\TOOLS\\");
  EXPECT_TRUE(fs::is_directory(f.machine.Host("C:\\NEW\\DEEP\\TOOLS")));
  char cwd[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, cwd);
  EXPECT_STREQ(cwd, "C:\\KIT");  // back in the program's folder
}

TEST_F(BangDestination, TrailingBackslashIsDoubled) {
  MakeOptions();
  UpdateCommand cmd;
  ASSERT_EQ(cmd.Parse("TOOL.EXE,*,!C:\\KIT\\"), 1);
  EXPECT_STREQ(cmd.DestDir, "C:\\KIT\\\\");
}

TEST_F(BangDestination, DoubleByteFolderNames) {
  MakeOptions();
  UpdateCommand cmd;
  // 表 ends in the byte 0x5C: the folder must be 表示 itself, with no stray folder cut at 表.
  ASSERT_EQ(cmd.Parse(Sjis("TOOL.EXE,*,!C:\\表示\\表").c_str()), 1);
  EXPECT_TRUE(fs::is_directory(f.machine.Host("C:\\表示\\表")));
  std::vector<std::string> root;
  for (auto& e : fs::directory_iterator(f.machine.Host("C:\\"))) root.push_back(e.path().filename());
  std::sort(root.begin(), root.end());
  EXPECT_EQ(root, (std::vector<std::string>{"AUTOEXEC.BAT", "CONFIG.SYS", "KIT", "OPTIONS", "WINDOWS", "表示"}));
}

TEST_F(BangDestination, RejectedOnADriveThatIsNotAFixedDisk) {
  MakeOptions();
  fs::create_directories(f.machine.Root() / "A");
  auto config = w9x::MachineConfig::Parse(*w9x::ReadHostFile(f.machine.Root() / "machine.ini"));
  config.drives['A'] = w9x::DriveType::kRemovable;
  std::ofstream(f.machine.Root() / "machine.ini", std::ios::binary) << config.Serialize();
  f.machine.Reload();
  UpdateCommand cmd;
  EXPECT_EQ(cmd.Parse("TOOL.EXE,*,!A:\\TOOLS"), 0);
  EXPECT_FALSE(fs::exists(f.machine.Root() / "A" / "TOOLS"));
  UpdateCommand no_backslash;
  EXPECT_EQ(no_backslash.Parse("TOOL.EXE,*,!C:"), 1);  // "C:" + "\": the root itself
}

TEST_F(BangDestination, PathsTooLongForTheBufferAreRejected) {
  MakeOptions();
  for (std::size_t length : {258u, 259u, 260u, 300u}) {
    std::string path = "C:\\";
    while (path.size() < length) path += path.size() % 9 == 8 ? '\\' : 'D';
    path.resize(length);
    if (path.back() == '\\') path.back() = 'E';
    UpdateCommand cmd;
    const int expected = length + 1 <= 259 ? 1 : 0;  // the path and its backslash must fit 259 bytes
    EXPECT_EQ(cmd.Parse(("T,*,!" + path).c_str()), expected) << length;
  }
}

// ---------------------------------------------------------------------------------------------
// MatchModel

struct MatchCase {
  const char* pattern;
  const char* name;
  bool match;
};

class MatchModelTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchModelTest, Matches) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(MatchModel(c.pattern, c.name) == 0, c.match) << c.pattern << " / " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, MatchModelTest,
    ::testing::Values(MatchCase{"AB*", "AB", true}, MatchCase{"AB*", "ABCD", true}, MatchCase{"A?C", "ABC", true},
                      MatchCase{"A?C", "AC", false}, MatchCase{"ABC", "ABCD", false}, MatchCase{"ABC", "AB", false},
                      MatchCase{"abc", "ABC", false}, MatchCase{"*", "", true}, MatchCase{"*", "ANY", true},
                      MatchCase{"A", "", false}, MatchCase{"", "", true}, MatchCase{"", "A", false},
                      MatchCase{"ABC", "A*", true},   // wildcards act on either side
                      MatchCase{"XY-100*", "XY-1000", true}, MatchCase{"XY-100*", "XY-10", false}));

TEST(MatchModel, MismatchIsTheSignedDifferenceOfTheBytes) {
  EXPECT_EQ(MatchModel("B", "A"), 1);
  EXPECT_EQ(MatchModel("A", "\x81"), 'A' - static_cast<signed char>('\x81'));
}

// ---------------------------------------------------------------------------------------------
// ResolveDestDir

TEST(ResolveDestDir, Table) {
  AppFixture f;
  const std::pair<int, const char*> cases[] = {
      {11, "C:\\WINDOWS\\SYSTEM\\"},          {17, "C:\\WINDOWS\\INF\\"},     {18, "C:\\WINDOWS\\HELP\\"},
      {23, "C:\\WINDOWS\\SYSTEM\\COLOR\\"},   {24, "C:\\WINDOWS\\OPTIONS\\CABS\\"}, {30, "C:\\"},
      {40, "C:\\WINDOWS\\SYSTEM32\\DRIVERS\\"}, {0, "C:\\WINDOWS\\"},          {10, "C:\\WINDOWS\\"},
      {12, "C:\\WINDOWS\\"},                  {-1, "C:\\WINDOWS\\"},
  };
  for (auto& [id, expected] : cases) {
    UpdateCommand cmd;
    cmd.DirId = id;
    CString dir;
    EXPECT_EQ(cmd.ResolveDestDir(dir), 1);
    EXPECT_STREQ(dir, expected) << id;
  }
  UpdateCommand preset;
  preset.DestDir = "D:\\X\\";
  CString untouched = "unchanged";
  EXPECT_EQ(preset.ResolveDestDir(untouched), 1);
  EXPECT_STREQ(untouched, "unchanged");
}

TEST(ResolveDestDir, Id30IsDriveCWhateverDriveHoldsWindows) {
  AppFixture f;
  fs::rename(f.machine.Root() / "C", f.machine.Root() / "D");
  fs::create_directories(f.machine.Root() / "C");
  auto config = w9x::MachineConfig::Parse(*w9x::ReadHostFile(f.machine.Root() / "machine.ini"));
  config.windows_dir = "D:\\WINDOWS";
  config.drives = {{'C', w9x::DriveType::kFixed}, {'D', w9x::DriveType::kFixed}};
  std::ofstream(f.machine.Root() / "machine.ini", std::ios::binary) << config.Serialize();
  f.machine.Reload();
  UpdateCommand cmd;
  cmd.DirId = 30;
  CString dir;
  cmd.ResolveDestDir(dir);
  EXPECT_STREQ(dir, "C:\\");
  cmd.DirId = 11;
  cmd.ResolveDestDir(dir);
  EXPECT_STREQ(dir, "D:\\WINDOWS\\SYSTEM\\");
}

// ---------------------------------------------------------------------------------------------
// The applicability test

struct RunCase {
  const char* line;
  int os_kind;
  int keyboard;         // value KeyboardCheck gives on the machine (1 or 0)
  const char* model;
  int pass;
  int expected;
};

class BaseRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(BaseRun, Decides) {
  const RunCase& c = GetParam();
  TestMachineOptions o = Options("win98se");
  o.preset_options.keyboard_type = c.keyboard ? 4 : 7;  // type 7 subtype 0 without entry: false
  AppFixture f(o);
  f.app.OsKind = c.os_kind;
  f.app.ModelName = c.model;
  UpdateCommand cmd;
  ASSERT_EQ(cmd.Parse(c.line), 1);
  EXPECT_EQ(cmd.Run(c.pass), c.expected) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BaseRun,
    ::testing::Values(RunCase{"A", 128, 1, "", 1, 1}, RunCase{"A", 128, 1, "", 0, 0},
                      RunCase{"A,,0,0", 2, 1, "", 0, 1},          // pass 0
                      RunCase{"A,,0,2", 2, 1, "", 2, 1},          // pass 2 only runs if asked for it
                      RunCase{"A,,0,1,-1", 0, 1, "", 1, 1},       // -1 runs on OsKind 0 too
                      RunCase{"A,,0,1,0", 128, 1, "", 1, 0},      // mask 0 never runs
                      RunCase{"A,,0,1,130", 4, 1, "", 1, 0}, RunCase{"A,,0,1,130", 2, 1, "", 1, 1},
                      RunCase{"A,,0,1,-1,1", 128, 1, "", 1, 1}, RunCase{"A,,0,1,-1,1", 128, 0, "", 1, 0},
                      RunCase{"A,,0,1,-1,2", 128, 0, "", 1, 1}, RunCase{"A,,0,1,-1,3", 128, 0, "", 1, 0},
                      RunCase{"A,,0,1,-1,0,XY*", 128, 1, "XY-1", 1, 1},
                      RunCase{"A,,0,1,-1,0,XY*", 128, 1, "AB", 1, 0},
                      RunCase{"A,,0,0,-1,0,XY*", 128, 1, "", 0, 0},  // pass 0: no model yet
                      RunCase{"A,,0,0,-1,0,*", 128, 1, "", 0, 1}));

// ---------------------------------------------------------------------------------------------
// RunPass

int g_destroyed = 0;

class FakeCommand : public UpdateCommand {
 public:
  explicit FakeCommand(int done_in_pass) : done_in_pass_(done_in_pass) {}
  ~FakeCommand() override { ++g_destroyed; }
  int Run(int pass) override {
    ++runs;
    return pass == done_in_pass_;
  }
  int runs = 0;

 private:
  int done_in_pass_;
};

TEST(RunPass, DestroysDoneCommandsAndKeepsTheRestInOrder) {
  AppFixture f;
  g_destroyed = 0;
  {
    CommandList list;
    auto* a = new FakeCommand(0);
    auto* b = new FakeCommand(1);
    auto* c = new FakeCommand(0);
    auto* d = new FakeCommand(5);
    for (auto* x : {a, b, c, d}) list.Items.AddTail(x);
    list.RunPass(0);
    EXPECT_EQ(g_destroyed, 2);
    ASSERT_EQ(list.Items.GetCount(), 2);
    EXPECT_EQ(list.Items.GetHead(), b);
    EXPECT_EQ(list.Items.GetTail(), d);
    list.RunPass(1);
    EXPECT_EQ(g_destroyed, 3);
    EXPECT_EQ(d->runs, 2);
  }
  EXPECT_EQ(g_destroyed, 4);  // the list destroys what is left
}

// ---------------------------------------------------------------------------------------------
// The program's own folder

TEST(LocateIni, DoubleByteProgramFolder) {
  TestMachineOptions o = Options("win98se");
  o.module_path = Sjis("C:\\表\\DRUPDATE.EXE");  // 表 ends in 0x5C
  AppFixture f(o);
  EXPECT_EQ(std::string(f.app.AppDir), Sjis("C:\\表\\"));
  EXPECT_EQ(std::string(f.app.IniPath), Sjis("C:\\表\\DRUPDATE.INI"));
}

}  // namespace
}  // namespace drupdate_test
