// The INF and program command.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_fixture.h"

namespace drupdate_test {
namespace {

namespace fs = std::filesystem;

const std::string kSetupx = "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 ";
const std::string kAdvpack = "rundll32.exe advpack.dll,LaunchINFSection ";

std::string CurrentDir() {
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
  return cwd;
}

struct Started {
  std::string command_line;
  std::string program;  // empty: none found
  int result;
};

bool operator==(const Started& a, const Started& b) {
  return a.command_line == b.command_line && a.program == b.program && a.result == b.result;
}
std::ostream& operator<<(std::ostream& o, const Started& s) {
  return o << "{" << s.command_line << " | " << s.program << " | " << s.result << "}";
}

// Every WinExec of the journal; each must have asked for a hidden window.
std::vector<Started> StartsOf(const TestMachine& m) {
  std::vector<Started> out;
  for (auto& e : m.Events("WinExec")) {
    EXPECT_EQ(e["show"], SW_HIDE);
    out.push_back({e["command_line"], e["program"].is_null() ? "" : e["program"].get<std::string>(), e["result"]});
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Parse

struct ParseCase {
  const char* line;  // UTF-8
  int keep;
  const char* source_dir;
};

class InfParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(InfParse, SourceFolder) {
  const ParseCase& c = GetParam();
  AppFixture f;
  for (const char* file : {"C:\\KIT\\INF\\A.INF", "C:\\KIT\\A.INF", "C:\\MY KIT\\A.INF", "C:\\KIT\\表\\表.INF"})
    f.machine.WriteFile(file, "[Version]\r\n");
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse(Sjis(c.line).c_str()), c.keep) << c.line;
  if (c.keep) {
    EXPECT_EQ(std::string(cmd.SourceDir), Sjis(c.source_dir)) << c.line;
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, InfParse,
                         ::testing::Values(ParseCase{"A.INF,INF", 1, "C:\\KIT\\INF\\"},
                                           ParseCase{"A.INF,INF\\", 1, "C:\\KIT\\INF\\"},
                                           ParseCase{"A.INF,*", 1, "C:\\KIT\\"},
                                           ParseCase{"A.INF,*INF", 1, "C:\\KIT\\"},
                                           ParseCase{"A.INF,!C:\\MY KIT", 1, "C:\\MY KIT\\"},
                                           ParseCase{"A.INF,!C:\\MY KIT\\", 1, "C:\\MY KIT\\"},
                                           ParseCase{"表.INF,表", 1, "C:\\KIT\\表\\"},  // 表 ends in 0x5C
                                           ParseCase{"A.INF", 0},       // no source folder
                                           ParseCase{"B.INF,INF", 0},   // no such file
                                           ParseCase{"A.INF,!C:\\KIT\\NONE", 0}));

// ---------------------------------------------------------------------------------------------
// Which command line an INF gets

struct PrefixCase {
  const char* preset;
  const char* file;
  const std::string* prefix;
};

class InfPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(InfPrefix, CommandLine) {
  const PrefixCase& c = GetParam();
  AppFixture f(Options(c.preset, true));
  f.machine.WriteFile(std::string("C:\\KIT\\INF\\") + c.file, "[Version]\r\n");
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse((std::string(c.file) + ",INF").c_str()), 1);
  EXPECT_EQ(cmd.Run(1), 1) << c.preset << " " << c.file;
  const std::string program = *c.prefix == kSetupx ? "C:\\WINDOWS\\RUNDLL.EXE" : "C:\\WINDOWS\\RUNDLL32.EXE";
  EXPECT_EQ(StartsOf(f.machine), (std::vector<Started>{{*c.prefix + "C:\\KIT\\INF\\" + c.file, program, 33}}))
      << c.preset;
  EXPECT_TRUE(f.machine.Events("SetCurrentDirectoryA").empty());  // an INF leaves the folder alone
}

INSTANTIATE_TEST_SUITE_P(
    OsAndName, InfPrefix,
    ::testing::Values(PrefixCase{"win95", "A.INF", &kSetupx},         // kind 2, build 950
                      PrefixCase{"win95osr2", "A.INF", &kAdvpack},    // kind 2, build 1111
                      PrefixCase{"winme", "A.INF", &kAdvpack},        // kind 2, build 3000
                      PrefixCase{"win98", "A.INF", &kAdvpack}, PrefixCase{"win98se", "Example.Inf", &kAdvpack},
                      PrefixCase{"nt4", "A.INF", &kAdvpack},          // build number not kept: still kind 8
                      PrefixCase{"win95osr2", "VARA2V.INF", &kSetupx}, PrefixCase{"win98se", "vara2v.inf", &kSetupx},
                      PrefixCase{"nt4", "Vara2v.Inf", &kSetupx}));

TEST(InfRun, SourceFolderWithBlanksIsPassedUnquoted) {
  AppFixture f(Options("win98se", true));
  f.machine.WriteFile("C:\\MY KIT\\DRV\\A.INF", "");
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse("A.INF,!C:\\MY KIT\\DRV"), 1);
  EXPECT_EQ(cmd.Run(1), 1);
  EXPECT_EQ(StartsOf(f.machine),
            (std::vector<Started>{{kAdvpack + "C:\\MY KIT\\DRV\\A.INF", "C:\\WINDOWS\\RUNDLL32.EXE", 33}}));
}

TEST(InfRun, NotDoneWhenTheSetupComponentIsMissing) {
  AppFixture f(Options("win98se", true));
  f.machine.WriteFile("C:\\KIT\\A.INF", "");
  fs::remove(f.machine.Host("C:\\WINDOWS\\RUNDLL32.EXE"));
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse("A.INF,*"), 1);
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_EQ(StartsOf(f.machine), (std::vector<Started>{{kAdvpack + "C:\\KIT\\A.INF", "", 2}}));
}

// The shutdown program's INF goes in only over the shutdown program and its VxD.
TEST(InfRun, ZelkovaNeedsBothShutdownFiles) {
  struct Case {
    bool exe, vxd;
    const char* name;
    bool started;
  } cases[] = {{true, true, "ZELKOVA.INF", true},   {true, false, "ZELKOVA.INF", false},
               {false, true, "ZELKOVA.INF", false}, {false, false, "zelkova.inf", false},
               {true, true, "Zelkova.Inf", true}};
  for (const Case& c : cases) {
    AppFixture f(Options("win98se", true));
    f.machine.WriteFile(std::string("C:\\KIT\\") + c.name, "");
    if (c.exe) f.machine.WriteFile("C:\\WINDOWS\\TALMORIX.EXE", "MZ");
    if (c.vxd) f.machine.WriteFile("C:\\WINDOWS\\SYSTEM\\TALMORIX.VXD", "");
    InfCommand cmd;
    ASSERT_EQ(cmd.Parse((std::string(c.name) + ",*").c_str()), 1);
    EXPECT_EQ(cmd.Run(1), 1) << c.exe << c.vxd << c.name;  // done either way
    EXPECT_EQ(f.machine.Events("WinExec").size(), c.started ? 1u : 0u) << c.exe << c.vxd << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Programs

// Any file that is not an INF is started itself, from its own folder as the current folder.
TEST(ProgramRun, StartsTheFileFromItsFolderAndComesBack) {
  struct Case {
    const char* file;
    const char* program;  // what WinExec finds; empty: nothing
    int done;
  } cases[] = {
      {"SETUP.EXE", "C:\\MY KIT\\SETUP.EXE", 1},
      {"EXAMPLE.INF.BAK", "C:\\MY KIT\\EXAMPLE.INF.BAK", 1},  // the extension is the last one
      {"EXAMPLE", "", 0},  // no extension: not an INF; WinExec looks for EXAMPLE.EXE
  };
  for (const Case& c : cases) {
    AppFixture f(Options("win98se", true));
    f.machine.WriteFile(std::string("C:\\MY KIT\\") + c.file, "MZ");
    InfCommand cmd;
    ASSERT_EQ(cmd.Parse((std::string(c.file) + ",!C:\\MY KIT").c_str()), 1);
    EXPECT_EQ(cmd.Run(1), c.done) << c.file;
    EXPECT_EQ(StartsOf(f.machine),
              (std::vector<Started>{{std::string("C:\\MY KIT\\") + c.file, c.program, c.done ? 33 : 2}}))
        << c.file;
    std::vector<std::string> folders;
    for (auto& e : f.machine.Events("SetCurrentDirectoryA")) folders.push_back(e["path"]);
    EXPECT_EQ(folders, (std::vector<std::string>{"C:\\MY KIT\\", "C:\\KIT\\"})) << c.file;
    EXPECT_EQ(CurrentDir(), "C:\\KIT");
  }
}

TEST(ProgramRun, BackInTheProgramFolderWhenTheStartFails) {
  AppFixture f;
  f.machine.WriteFile("C:\\TOOLS\\TOOL.EXE", "MZ");
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse("TOOL.EXE,!C:\\TOOLS"), 1);
  fs::remove_all(f.machine.Host("C:\\TOOLS"));  // gone before the run: neither folder nor file
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\WINDOWS"));
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_EQ(CurrentDir(), "C:\\KIT");
}

TEST(ProgramRun, ADeliverableWhoseHostBuildIsMissingIsNotStarted) {
  TestMachineOptions o = Options("win98se", true);
  o.session.bin_dir = "/nonexistent/bin";
  AppFixture f(o);
  f.machine.WriteFile("C:\\KIT\\SUB\\DRUPDATE.EXE", "MZ");
  InfCommand cmd;
  ASSERT_EQ(cmd.Parse("DRUPDATE.EXE,SUB"), 1);
  EXPECT_EQ(cmd.Run(1), 0);
  EXPECT_EQ(StartsOf(f.machine),
            (std::vector<Started>{{"C:\\KIT\\SUB\\DRUPDATE.EXE", "C:\\KIT\\SUB\\DRUPDATE.EXE", ERROR_BAD_FORMAT}}));
}

TEST(InfLongPaths, AFileBeyond259CharactersIsNeverStarted) {
  for (std::size_t length : {259u, 260u, 300u}) {
    AppFixture f(Options("win98se", true));
    std::string folder = "C:\\K";
    while (folder.size() + 6 < length) folder += folder.size() % 50 == 49 ? '\\' : 'D';
    if (folder.back() == '\\') folder.back() = 'E';
    const std::string path = folder + "\\A.INF";
    ASSERT_EQ(path.size(), length);
    f.machine.WriteFile(path, "");
    InfCommand cmd;
    const int keep = length <= 259 ? 1 : 0;
    ASSERT_EQ(cmd.Parse(("A.INF,!" + folder).c_str()), keep) << length;
    if (!keep) continue;
    EXPECT_EQ(cmd.Run(1), 1);
    EXPECT_EQ(StartsOf(f.machine), (std::vector<Started>{{kAdvpack + path, "C:\\WINDOWS\\RUNDLL32.EXE", 33}}));
  }
}

}  // namespace
}  // namespace drupdate_test
