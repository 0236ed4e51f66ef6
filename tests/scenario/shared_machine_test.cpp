// Programs running at the same time on one machine: each change one of them makes to the files
// they share (attributes.ini, registry.reg) is kept, whatever the others write meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scenario_support.h"

namespace scenario {
namespace {

const char kUpdate[] = "C:\\KIT\\DRUPDATE.EXE";
const char kCfgSysFix[] = "C:\\KIT\\CFGSYSFIX.EXE";
const char kDispFix[] = "C:\\KIT\\DISPFIX.EXE";
constexpr int kHiddenFiles = 150;

std::string DriverName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "F%03d.VXD", i);
  return name;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The update program copies hidden files (two attribute changes each) while the CONFIG.SYS
// fix-up rewrites CONFIG.SYS (it takes the attributes of the tool's temporary file) and the
// display fix-up deletes registry keys.
TEST(SharedMachine, ProgramsRunningAtOnceLoseNoChange) {
  Machine m("win98se");
  for (const char* program : {kUpdate, kCfgSysFix, kDispFix}) m.Write(program, "MZ");
  std::string script = "[General]\r\nTarget=130\r\n\r\n[Command]\r\n";
  std::string attributes = "[Attributes]\r\nC:\\CONFIG.SYS=0x06\r\n";  // hidden and system
  for (int i = 0; i < kHiddenFiles; ++i) {
    m.Write("C:\\KIT\\DRIVERS\\" + DriverName(i), "driver");
    script += std::to_string(i) + "=1," + DriverName(i) + ",DRIVERS,11,0\r\n";
    attributes += "C:\\KIT\\DRIVERS\\" + DriverName(i) + "=0x02\r\n";
  }
  m.Write("C:\\KIT\\DRUPDATE.INI", script);
  m.Write("C:\\CONFIG.SYS", "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nDOS=HIGH,UMB\r\n");
  std::ofstream(m.Root() / "attributes.ini", std::ios::binary) << attributes;
  std::ofstream(m.Root() / "machine.ini", std::ios::app) << "[Devices]\nPCI=102B:0519 1013:00D6\n";
  std::string registry =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\n\"ComputerName\"=\"XY-100\"\n\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\Root\\DISPLAY\\0000]\n\"HardwareID\"=\"PCI\\\\VEN_102B&DEV_0519\"\n\n";
  std::ofstream(m.Root() / "registry.reg", std::ios::binary) << registry;

  // The fix-ups run again and again, each in a process of its own, for as long as the update runs.
  std::atomic<bool> updating{true};
  std::vector<Result> fix_runs;
  std::mutex fix_runs_lock;
  auto repeat = [&](const char* program) {
    do {
      Result r = m.Run(program);
      std::lock_guard<std::mutex> hold(fix_runs_lock);
      fix_runs.push_back(std::move(r));
    } while (updating);
  };
  std::thread cfgsysfix(repeat, kCfgSysFix), cfgsysfix_again(repeat, kCfgSysFix), dispfix(repeat, kDispFix);
  Result update = m.Run(kUpdate, {"--fast", "--answer", "OK"});
  updating = false;
  cfgsysfix.join();
  cfgsysfix_again.join();
  dispfix.join();
  EXPECT_EQ(update.exit_code, 0) << update.err;
  EXPECT_GE(fix_runs.size(), 3u);
  for (const Result& r : fix_runs) EXPECT_EQ(r.exit_code, 1) << r.err;

  const std::string stored = ReadAll(m.Root() / "attributes.ini");
  int lost = 0;
  for (int i = 0; i < kHiddenFiles; ++i) {
    ASSERT_TRUE(m.Exists("C:\\WINDOWS\\SYSTEM\\" + DriverName(i))) << DriverName(i);
    if (stored.find("C:\\WINDOWS\\SYSTEM\\" + DriverName(i) + "=0x02\r\n") == std::string::npos) ++lost;
  }
  EXPECT_EQ(lost, 0) << stored;
  // CONFIG.SYS took the attributes of the fix-up's temporary file: the old ones are gone.
  EXPECT_EQ(stored.find("C:\\CONFIG.SYS="), std::string::npos) << stored;
  EXPECT_EQ(m.Read("C:\\CONFIG.SYS"), "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nREM DOS=HIGH,UMB\r\n");
  EXPECT_EQ(ReadAll(m.Root() / "registry.reg").find("DISPLAY\\0000"), std::string::npos);
}

}  // namespace
}  // namespace scenario
