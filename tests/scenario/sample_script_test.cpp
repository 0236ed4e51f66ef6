// The update program's file and INF commands run by `w9x run` on whole machine images.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scenario_support.h"

namespace scenario {
namespace {

const char kProgram[] = "C:\\KIT\\DRUPDATE.EXE";

// The five-line example script: a copy in pass 0, a delete, an INF install for one keyboard
// family and model, a rename on Windows 95 only, and a copy into a folder created on the way.
const char kSampleScript[] =
    "[General]\r\n"
    "Target=130\r\n"
    "\r\n"
    "[Command]\r\n"
    "0=1,NEWDRV.VXD,DRIVERS,11,0\r\n"
    "1=2,OLDDRV.VXD,,11\r\n"
    "2=3,MYDEV.INF,INF,0,1,-1,1,XY-100*\r\n"
    "3=4,OLDNAME.DLL,NEWNAME.DLL,11,1,2\r\n"
    "4=1,TOOL.EXE,*,!C:\\KIT\\TOOLS\r\n";

// A machine of the keyboard family that the INF line asks for, with the kit and the files the
// script works on.
void PrepareKit(Machine& m, const std::string& script) {
  m.Write(kProgram, "MZ");
  m.Write("C:\\KIT\\DRUPDATE.INI", script);
  m.Write("C:\\KIT\\DRIVERS\\NEWDRV.VXD", "new driver");
  m.Write("C:\\KIT\\INF\\MYDEV.INF", "[Version]\r\n");
  m.Write("C:\\KIT\\TOOL.EXE", "MZ tool");
  m.Write("C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD", "old driver");
  m.Write("C:\\WINDOWS\\SYSTEM\\OLDNAME.DLL", "old name");
  fs::create_directories(m.Host("C:\\OPTIONS"));
}

// The file, profile and start calls of the run on the script's files, in order, one line each
// (the system repairs that follow the script are not looked at here).
std::vector<std::string> Actions(const Machine& m) {
  std::vector<std::string> out;
  for (const auto& e : m.Events()) {
    const std::string event = e.value("event", "");
    std::string action;
    if (event == "CopyFileA" || event == "MoveFileA")
      action = event + " " + e["from"].get<std::string>() + " -> " + e["to"].get<std::string>();
    else if (event == "DeleteFileA")
      action = event + " " + e["path"].get<std::string>() + (e["result"] == true ? "" : " failed");
    else if (event == "WritePrivateProfileSectionA")
      action = event + " " + e["file"].get<std::string>() + " [" + e["section"].get<std::string>() + "]";
    else if (event == "WinExec")
      action = event + " " + e["command_line"].get<std::string>() + " (show " + e["show"].dump() + ") -> " +
               e["result"].dump();
    for (const char* file : {"NEWDRV.VXD", "OLDDRV.VXD", "MYDEV.INF", "OLDNAME.DLL", "TOOL.EXE", "WININIT.INI"}) {
      if (action.find(file) != std::string::npos) {
        out.push_back(action);
        break;
      }
    }
  }
  return out;
}

struct SampleCase {
  std::string preset;
  bool model_pattern;  // the INF line as written, or without its model pattern
  std::vector<std::string> actions;
  bool renamed;
  std::string wininit;  // empty: no WININIT.INI
};

class SampleScript : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleScript, FilesWininitAndCommandLines) {
  const SampleCase& c = GetParam();
  Machine m(c.preset, {"--keyboard", "7,0x0100"});
  std::string script = kSampleScript;
  if (!c.model_pattern) script.replace(script.find(",XY-100*"), 8, "");
  PrepareKit(m, script);
  // On Windows 95 the old driver is in use: read-only, so that only WININIT.INI can remove it.
  const bool in_use = c.preset == "win95";
  if (in_use) fs::permissions(m.Host("C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD"), fs::perms::owner_write, fs::perm_options::remove);

  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  EXPECT_EQ(Actions(m), c.actions);
  EXPECT_EQ(m.Read("C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD"), "new driver");
  EXPECT_EQ(m.Read("C:\\KIT\\TOOLS\\TOOL.EXE"), "MZ tool");
  EXPECT_EQ(m.Exists("C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD"), in_use);
  EXPECT_EQ(m.Exists("C:\\WINDOWS\\SYSTEM\\NEWNAME.DLL"), c.renamed);
  EXPECT_EQ(m.Exists("C:\\WINDOWS\\SYSTEM\\OLDNAME.DLL"), !c.renamed);
  EXPECT_EQ(m.Read("C:\\WINDOWS\\WININIT.INI"), c.wininit);
  EXPECT_EQ(m.Exists("C:\\WINDOWS\\WININIT.INI"), !c.wininit.empty());
  // The copies can be written to, whatever the kit's files were.
  for (const char* copy : {"C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD", "C:\\KIT\\TOOLS\\TOOL.EXE"}) {
    EXPECT_NE(fs::status(m.Host(copy)).permissions() & fs::perms::owner_write, fs::perms::none) << copy;
  }
}

const std::string kCopyNewDriver = "CopyFileA C:\\KIT\\DRIVERS\\NEWDRV.VXD -> C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD";
const std::string kCopyTool = "CopyFileA C:\\KIT\\TOOL.EXE -> C:\\KIT\\TOOLS\\TOOL.EXE";
const std::string kRename = "MoveFileA C:\\WINDOWS\\SYSTEM\\OLDNAME.DLL -> C:\\WINDOWS\\SYSTEM\\NEWNAME.DLL";
const std::string kPending = "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD\r\n";

// Neither machine carries an SMBIOS table, so its model name stays empty and the INF line as
// written never runs; without the pattern it runs and shows the command line each Windows gets.
INSTANTIATE_TEST_SUITE_P(
    Machines, SampleScript,
    ::testing::Values(
        SampleCase{"win98se", true, {kCopyNewDriver, "DeleteFileA C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD", kCopyTool}, false, ""},
        SampleCase{"win98se",
                   false,
                   {kCopyNewDriver, "DeleteFileA C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD",
                    "WinExec rundll32.exe advpack.dll,LaunchINFSection C:\\KIT\\INF\\MYDEV.INF (show 0) -> 33", kCopyTool},
                   false,
                   ""},
        SampleCase{"win95",
                   true,
                   {kCopyNewDriver, "DeleteFileA C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD failed",
                    "WritePrivateProfileSectionA C:\\WINDOWS\\WININIT.INI [rename]", kRename, kCopyTool},
                   true,
                   kPending},
        SampleCase{"win95",
                   false,
                   {kCopyNewDriver, "DeleteFileA C:\\WINDOWS\\SYSTEM\\OLDDRV.VXD failed",
                    "WritePrivateProfileSectionA C:\\WINDOWS\\WININIT.INI [rename]",
                    "WinExec rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 C:\\KIT\\INF\\MYDEV.INF (show 0) -> 33",
                    kRename, kCopyTool},
                   true,
                   kPending}));

// A script line that names one of the kit's own programs starts it as a new process on the same
// machine, hidden, in the program's folder; the run ends only after it has.
TEST(ProgramStart, KitProgramRunsAsItsOwnProcessAndTheRunWaitsForIt) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  m.Write("C:\\KIT\\DRUPDATE.INI", "[Command]\r\n0=3,DRUPDATE.EXE,SUB\r\n");
  m.Write("C:\\KIT\\SUB\\DRUPDATE.EXE", "MZ");
  // The second copy's own script is for Win32s only, so it ends at once however the race for the
  // mutex goes.
  m.Write("C:\\KIT\\SUB\\DRUPDATE.INI", "[General]\r\nTarget=1\r\n");
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  ASSERT_EQ(r.exit_code, 0) << r.err;

  auto starts = m.Events("WinExec");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["command_line"], "C:\\KIT\\SUB\\DRUPDATE.EXE");
  EXPECT_EQ(starts[0]["show"], 0);
  EXPECT_EQ(starts[0]["program"], "C:\\KIT\\SUB\\DRUPDATE.EXE");
  EXPECT_EQ(starts[0]["result"], 33);

  auto processes = m.Events("ProcessStart");
  ASSERT_EQ(processes.size(), 2u);
  EXPECT_EQ(processes[1]["module"], "C:\\KIT\\SUB\\DRUPDATE.EXE");
  EXPECT_EQ(processes[1]["command_line"], "C:\\KIT\\SUB\\DRUPDATE.EXE");
  EXPECT_EQ(processes[1]["current_dir"], "C:\\KIT\\SUB");
  EXPECT_EQ(processes[1]["show"], 0);
  EXPECT_NE(processes[1]["pid"], processes[0]["pid"]);
  EXPECT_EQ(m.Events("ProcessExit").size(), 2u);  // both had ended when `w9x run` returned
  EXPECT_EQ(m.Events("MessageBoxA").size(), 1u);  // the first copy's closing message only
  EXPECT_FALSE(fs::exists(m.Root() / ".w9x"));
}

}  // namespace
}  // namespace scenario
