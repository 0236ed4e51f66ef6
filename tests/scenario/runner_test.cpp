// `w9x run` as a user meets it: runner errors, and the update program's whole run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "scenario_support.h"

namespace scenario {
namespace {

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}


const char kProgram[] = "C:\\KIT\\DRUPDATE.EXE";
const char kLauncher[] = "KVO Unity Pack for Windows(R) 98 Second Edition";

TEST(Runner, ErrorsAreOneLineAndExit125AndLeaveTheMachineAlone) {
  struct Case {
    std::string name;
    std::string machine_ini;  // replaces machine.ini; empty: no machine.ini; "-": left as it is
    std::string program;
    std::string message;      // part of the error line
  } cases[] = {
      {"no machine.ini", "", kProgram, "no machine.ini"},
      {"bad version", "[Windows]\nVersion=four\nBuild=1\n", kProgram, "[Windows] Version"},
      {"bad drive type", "[Windows]\nVersion=4.10\nBuild=1\n[Drives]\nC=floppy\n", kProgram, "[Drives] C"},
      {"unknown program", "-", "C:\\KIT\\OTHER.EXE", "not one of the kit's programs"},
      {"missing program file", "-", "C:\\KIT\\TALMORIX.EXE", "no file"},
      {"not a full path", "-", "DRUPDATE.EXE", "full Windows path"},
  };
  for (const Case& c : cases) {
    Machine m("win98se");
    m.Write(kProgram, "MZ");
    m.Write("C:\\KIT\\OTHER.EXE", "MZ");
    if (c.machine_ini.empty()) fs::remove(m.Root() / "machine.ini");
    else if (c.machine_ini != "-") std::ofstream(m.Root() / "machine.ini") << c.machine_ini;
    auto before = Snapshot(m.Root());
    Result r = m.Run(c.program);
    EXPECT_EQ(r.exit_code, 125) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_EQ(Snapshot(m.Root()), before) << c.name;
  }
  EXPECT_EQ(W9x({"run", "/nonexistent/machine", "--", kProgram}).exit_code, 125);
}

TEST(Runner, UpdateProgramRunsToItsClosingMessageAndHidesTheLauncher) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK", "--window", kLauncher});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  auto hide = m.Events("ShowWindow");
  ASSERT_EQ(hide.size(), 1u);
  EXPECT_EQ(hide[0]["title"], kLauncher);
  EXPECT_EQ(hide[0]["visible"], false);
  auto boxes = m.Events("MessageBoxA");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["pressed"], "OK");
  EXPECT_EQ(boxes[0]["by"], "answer");
  EXPECT_NE(r.out.find("更新処理が終了しました。"), std::string::npos);  // the box, on the terminal
  EXPECT_FALSE(fs::exists(m.Root() / ".w9x"));                          // the run cleaned up after itself
}

TEST(Runner, WithoutAnswersATerminalUserIsAsked) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  // script(1) gives the run a terminal; the user types "ok" at the prompt.
  const fs::path journal = m.Root().parent_path() / (m.Root().filename().string() + ".terminal");
  const std::string command = "printf 'ok\\n' | script -qec \"" + std::string(W9X_BIN_DIR) + "/w9x run " +
                              m.Root().string() + " --fast --journal " + journal.string() + " -- 'C:\\KIT\\DRUPDATE.EXE'\"" +
                              " /dev/null > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(journal);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  fs::remove(journal);
  EXPECT_NE(text.find("\"pressed\":\"OK\",\"by\":\"terminal\""), std::string::npos) << text;
}

TEST(Runner, SecondCopyStartedWhileTheFirstRunsEndsAtOnce) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  // The first run waits its real 2.5 seconds before the message; the second starts meanwhile.
  std::thread first([&] { m.Run(kProgram, {"--answer", "OK"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  fs::path journal2 = m.Root().parent_path() / (m.Root().filename().string() + ".second");
  Result second = W9x({"run", m.Root().string(), "--journal", journal2.string(), "--fast", "--", kProgram});
  first.join();
  EXPECT_EQ(second.exit_code, 0);
  std::ifstream in(journal2);
  std::string journal((std::istreambuf_iterator<char>(in)), {});
  fs::remove(journal2);
  EXPECT_NE(journal.find("\"already_exists\":true"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("MessageBoxA"), std::string::npos) << journal;
  EXPECT_EQ(m.Events("MessageBoxA").size(), 1u);
  EXPECT_FALSE(fs::exists(m.Root() / ".w9x"));
}

TEST(Runner, FailMakesTheNamedCallFailInTheProgram) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  m.Write("C:\\KIT\\DRUPDATE.INI", "[General]\r\nTarget=130\r\n\r\n[Command]\r\n0=1,NEWDRV.VXD,DRIVERS,11,0\r\n");
  m.Write("C:\\KIT\\DRIVERS\\NEWDRV.VXD", "new driver");
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK", "--fail", "CopyFileA:0:112"});
  auto faults = m.Events("InjectedFault");
  auto copies = m.Events("CopyFileA");
  ASSERT_FALSE(copies.empty()) << r.err;
  ASSERT_EQ(faults.size(), copies.size());
  EXPECT_EQ(faults[0]["call"], "CopyFileA");
  EXPECT_EQ(copies[0]["result"], false);
  EXPECT_EQ(copies[0]["error"], 112);
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD"));
  // The run names the writes that failed without the journal being read, in one line.
  const std::string summary = "w9x: " + std::to_string(copies.size()) + (copies.size() == 1 ? " write" : " writes") +
                              " failed: C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD (disk full)";
  EXPECT_NE(r.err.find(summary), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(Runner, AMalformedFailIsARunnerError) {
  for (const char* fail : {"CopyFile", "CopyFileA:x", "CopyFileA:1:2:3", "CopyFileA:1:0xZZ"}) {
    Machine m("win98se");
    m.Write(kProgram, "MZ");
    auto before = Snapshot(m.Root());
    Result r = m.Run(kProgram, {"--fast", "--fail", fail});
    EXPECT_EQ(r.exit_code, 125) << fail;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << fail << ": " << r.err;
    EXPECT_NE(r.err.find("--fail"), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(m.Root()), before) << fail;
  }
}

// Machine files that cannot be used: one clear line, exit 125, the machine as it was.
TEST(Runner, UnusableMachineFilesAreRunnerErrors) {
  struct Case {
    std::string name;
    std::function<void(Machine&)> prepare;
    std::string message;  // part of the error line
  } cases[] = {
      {"runtime folder cannot be made", [](Machine& m) { std::ofstream(m.Root() / ".w9x") << "x"; },
       "cannot write the machine folder"},
      {"registry.reg is a folder",
       [](Machine& m) {
         fs::remove(m.Root() / "registry.reg");
         fs::create_directory(m.Root() / "registry.reg");
       },
       "registry.reg is not a regular file"},
      {"registry.reg is a pipe",
       [](Machine& m) {
         fs::remove(m.Root() / "registry.reg");
         mkfifo((m.Root() / "registry.reg").c_str(), 0644);
       },
       "registry.reg is not a regular file"},
      {"registry.reg links to a device",
       [](Machine& m) {
         fs::remove(m.Root() / "registry.reg");
         fs::create_symlink("/dev/zero", m.Root() / "registry.reg");
       },
       "registry.reg is not a regular file"},
      {"machine.ini is a folder",
       [](Machine& m) {
         fs::remove(m.Root() / "machine.ini");
         fs::create_directory(m.Root() / "machine.ini");
       },
       "machine.ini cannot be read"},
      {"a NUL in a value",
       [](Machine& m) {
         std::string ini = ReadAll(m.Root() / "machine.ini");
         const std::size_t at = ini.find("Build=");
         ini.replace(at, ini.find_first_of("\r\n", at) - at, std::string("Build=22\0" "22", 11));
         std::ofstream(m.Root() / "machine.ini", std::ios::binary) << ini;
       },
       "got '22\\x0022'"},
      {"attributes.ini of random bytes", [](Machine& m) { std::ofstream(m.Root() / "attributes.ini") << "\x93\xff\x01zz"; },
       "attributes.ini: line 1:"},
      {"attributes 0xZZ", [](Machine& m) { std::ofstream(m.Root() / "attributes.ini") << "[Attributes]\r\nC:\\A=0xZZ\r\n"; },
       "attributes.ini: line 2:"},
      {"attributes too large",
       [](Machine& m) { std::ofstream(m.Root() / "attributes.ini") << "[Attributes]\r\nC:\\A=0x02\r\nC:\\B=0xFFFFFFFFFFFF\r\n"; },
       "attributes.ini: line 3:"},
      {"attributes -1", [](Machine& m) { std::ofstream(m.Root() / "attributes.ini") << "[Attributes]\nC:\\A=-1\n"; },
       "attributes.ini: line 2:"},
  };
  for (const Case& c : cases) {
    Machine m("win98se");
    m.Write(kProgram, "MZ");
    c.prepare(m);
    auto before = Snapshot(m.Root());
    Result r = m.Run(kProgram, {"--fast"});
    EXPECT_EQ(r.exit_code, 125) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_EQ(Snapshot(m.Root()), before) << c.name;
    if (c.name.starts_with("registry.reg")) {
      Result e = W9x({"reg", m.Root().string(), "export"});
      EXPECT_EQ(e.exit_code, 125) << c.name;
      EXPECT_TRUE(e.out.empty()) << c.name;
    }
  }
}

TEST(Runner, AMachineIniWithAByteOrderMarkIsRead) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  const std::string ini = ReadAll(m.Root() / "machine.ini");
  std::ofstream(m.Root() / "machine.ini", std::ios::binary) << "\xEF\xBB\xBF" << ini;
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(Runner, AJournalThatCannotBeWrittenIsARunnerErrorAfterTheProgram) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  Result r = W9x({"run", m.Root().string(), "--journal", "/dev/full", "--fast", "--answer", "OK", "--", kProgram});
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_NE(r.err.find("cannot write the journal /dev/full"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("更新処理が終了しました。"), std::string::npos);  // the program ran to its end first
}

TEST(Runner, TemporaryFilesOfKilledProcessesAreRemoved) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  for (const char* stale : {"C:\\.w9x-tmp-999999-0", "C:\\WINDOWS\\.w9x-tmp-999999-1"}) m.Write(stale, "torn");
  m.Write("C:\\WINDOWS\\KEEP.TXT", "kept");
  // A runtime folder that a killed run had moved aside to remove it.
  fs::create_directories(m.Root() / ".w9x-gone-999999" / "sessions");
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(m.Root() / ".w9x-gone-999999"));
  EXPECT_FALSE(m.Exists("C:\\.w9x-tmp-999999-0"));
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\.w9x-tmp-999999-1"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\KEEP.TXT"));
}

// The tool's help lists every command, and each command's help describes every one of its options.
TEST(CommandLine, HelpDescribesEveryCommandAndOption) {
  Result top = W9x({"--help"});
  EXPECT_EQ(top.exit_code, 0);
  EXPECT_TRUE(top.err.empty()) << top.err;
  const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
      {"new", {"MACHINE", "--preset", "--keyboard", "--registry", "--smbios"}},
      {"run", {"MACHINE", "--journal", "--answer", "--menu", "--key", "--window", "--fail", "--fast", "-- PROGRAM"}},
      {"start", {"MACHINE", "--journal", "--answer", "--menu", "--key", "--window", "--fail", "--fast", "-- PROGRAM"}},
      {"stop", {"MACHINE"}},
      {"keys", {"MACHINE", "SCANCODE", "--json", "--reads", "--real-clock", "--write", "--stop", "--remove", "--start",
                "--cancel-read", "--fail-start", "--query-id", "--fail-alloc", "--hook-fails", "--module",
                "--without-module"}},
      {"journal", {"FILE"}},
      {"reg", {"MACHINE", "export", "import", "--cp932"}},
      {"boot", {"MACHINE", "--journal"}},
      {"diff", {"MACHINE_A", "MACHINE_B"}},
      {"lint", {"KIT_FOLDER", "--json"}},
      {"try", {"KIT_FOLDER", "--presets", "--keyboard", "--model", "--answer", "--boot", "--markdown", "--jobs"}},
  };
  for (const auto& [command, words] : commands) {
    EXPECT_NE(top.out.find("\n  " + command + " "), std::string::npos) << command << " not in\n" << top.out;
    Result help = W9x({command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_NE(help.out.find("Usage: w9x " + command), std::string::npos) << help.out;
    for (const std::string& word : words)
      EXPECT_NE(help.out.find(word), std::string::npos) << command << ": " << word << " not in\n" << help.out;
  }
}

// A usage error is one line on standard error that names what is wrong, with exit code 125, and
// nothing runs.
TEST(CommandLine, UsageErrorsNameTheOptionAndExit125) {
  Machine m("win98se");
  m.Write(kProgram, "MZ");
  const std::string machine = m.Root().string();
  const std::string fresh = machine + "-new";  // a machine that must not be made
  const struct {
    std::vector<std::string> args;
    std::string names;  // part of the error line
  } cases[] = {
      {{}, "--help"},
      {{"frobnicate"}, "'frobnicate'"},
      {{"run", machine, "--frobnicate", "--", kProgram}, "--frobnicate"},
      {{"run", machine, "--journal"}, "--journal"},
      {{"run", machine, "--answer"}, "--answer"},
      {{"run", machine, kProgram}, kProgram},
      {{"run", machine}, "-- PROGRAM"},
      {{"run", machine, "--"}, "-- PROGRAM"},
      {{"start", machine, "--fast"}, "-- PROGRAM"},
      {{"run", "--", kProgram}, "MACHINE"},
      {{"new", fresh}, "--preset"},
      {{"new", fresh, "--preset", "win98se", "--keyboard", "7"}, "--keyboard"},
      {{"keys", machine, "--stop"}, "--stop"},
      {{"keys", machine, "--frobnicate", "5E"}, "--frobnicate"},
      {{"diff", machine}, "MACHINE_B"},
      {{"reg", machine, "rename"}, "ACTION"},
      {{"reg", machine, "import"}, "FILE.reg"},
      {{"boot", machine, "--journal"}, "--journal"},
      {{"lint"}, "KIT_FOLDER"},
      {{"try", machine, "--jobs", "0"}, "--jobs"},
      {{"try", machine, "--jobs", "257"}, "--jobs"},
      {{"journal"}, "FILE"},
  };
  for (const auto& c : cases) {
    const std::string name = c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back();
    auto before = Snapshot(m.Root());
    Result r = W9x(c.args);
    EXPECT_EQ(r.exit_code, 125) << name;
    EXPECT_TRUE(r.out.empty()) << name << ": " << r.out;
    EXPECT_NE(r.err.find(c.names), std::string::npos) << name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << ": " << r.err;
    EXPECT_EQ(Snapshot(m.Root()), before) << name;
  }
  EXPECT_FALSE(fs::exists(fresh));
}

}  // namespace
}  // namespace scenario
