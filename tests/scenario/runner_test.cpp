// `w9x run` as a user meets it: runner errors, and the update program's whole run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "scenario_support.h"

namespace scenario {
namespace {

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
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK", "--fail", "CopyFileA:1:112"});
  auto faults = m.Events("InjectedFault");
  ASSERT_EQ(faults.size(), 1u) << r.err;
  EXPECT_EQ(faults[0]["call"], "CopyFileA");
  auto copies = m.Events("CopyFileA");
  ASSERT_FALSE(copies.empty());
  EXPECT_EQ(copies[0]["result"], false);
  EXPECT_EQ(copies[0]["error"], 112);
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD"));
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

}  // namespace
}  // namespace scenario
