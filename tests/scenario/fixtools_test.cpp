// The fix-up tools run by `w9x run` on machine images, alone and started by the update program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "scenario_support.h"

namespace scenario {
namespace {

const char kCfgSysFix[] = "C:\\KIT\\CFGSYSFIX.EXE";
const char kDispFix[] = "C:\\KIT\\DISPFIX.EXE";
const char kDeviceOnTheBus[] = "102B:0519 1013:00D6";
const char kConfigSys[] = "DEVICE=C:\\WINDOWS\\HIMEM.SYS\nDOS=HIGH,UMB\r\nFILES=40\r\n\x1A";
const char kCommented[] = "DEVICE=C:\\WINDOWS\\HIMEM.SYS\r\nREM DOS=HIGH,UMB\r\nFILES=40\r\n";
const std::string kBoardKey = "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\n";

// A machine with the tool in C:\KIT, this registry (REGEDIT4 text after the header) and these
// PCI devices.
void Prepare(Machine& m, const std::string& program, const std::string& registry, const std::string& pci) {
  m.Write(program, "MZ");
  std::ofstream(m.Root() / "registry.reg") << "REGEDIT4\n\n" << registry;
  if (!pci.empty()) std::ofstream(m.Root() / "machine.ini", std::ios::app) << "[Devices]\nPCI=" << pci << "\n";
}

// Files in C:\ named like the tool's temporary files, with their sizes.
std::vector<std::uintmax_t> TempFiles(const Machine& m) {
  std::vector<std::uintmax_t> sizes;
  for (auto& e : fs::directory_iterator(m.Host("C:\\"))) {
    std::string name = e.path().filename().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.rfind("ZYX", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".TMP")
      sizes.push_back(e.file_size());
  }
  return sizes;
}

std::string Registry(const Machine& m) {
  std::ifstream in(m.Root() / "registry.reg", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Name(const std::string& value) { return kBoardKey + "\"ComputerName\"=\"" + value + "\"\n"; }

TEST(CfgSysFix, ExitCodesAndWhatBecomesOfConfigSys) {
  enum ConfigSys { kPresent, kMissing, kReadOnly };
  struct Case {
    const char* name;
    std::string registry, pci;
    ConfigSys config_sys;
    int exit_code;
    bool commented;
    std::vector<std::uintmax_t> temp_files;  // sizes of the temporary files left in C:\ afterwards
  } cases[] = {
      {"no system board key", "", kDeviceOnTheBus, kPresent, 0, false, {}},
      {"no machine name", kBoardKey, kDeviceOnTheBus, kPresent, 1, true, {}},
      {"legacy machine", Name("KVO QT-51 ABC"), kDeviceOnTheBus, kPresent, 1, false, {}},
      {"legacy machine in another case", Name("kVo qT-51x"), kDeviceOnTheBus, kPresent, 1, false, {}},
      {"name of 31 characters: read", Name("KVO QT-51" + std::string(22, 'X')), kDeviceOnTheBus, kPresent, 1, false, {}},
      {"name of 32 characters: too long to read", Name("KVO QT-51" + std::string(23, 'X')), kDeviceOnTheBus, kPresent, 1,
       true, {}},
      {"other machine", Name("KVO QT-52"), kDeviceOnTheBus, kPresent, 1, true, {}},
      {"name shorter than the prefix", Name("KVO QT-5"), kDeviceOnTheBus, kPresent, 1, true, {}},
      {"device absent", Name("XY-100"), "102B:0519 1013:00D7", kPresent, 1, false, {}},
      {"no PCI devices", Name("XY-100"), "", kPresent, 1, false, {}},
      {"CONFIG.SYS missing: the empty temporary file stays", Name("XY-100"), kDeviceOnTheBus, kMissing, 1, false, {0}},
      {"CONFIG.SYS read-only: the copy back fails", Name("XY-100"), kDeviceOnTheBus, kReadOnly, 1, false, {}},
  };
  for (const Case& c : cases) {
    Machine m("win98se");
    Prepare(m, kCfgSysFix, c.registry, c.pci);
    if (c.config_sys == kMissing) fs::remove(m.Host("C:\\CONFIG.SYS"));
    else m.Write("C:\\CONFIG.SYS", kConfigSys);
    if (c.config_sys == kReadOnly) chmod(m.Host("C:\\CONFIG.SYS").c_str(), 0444);

    Result r = m.Run(kCfgSysFix);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << ": " << r.err;
    if (c.config_sys != kMissing) {
      EXPECT_EQ(m.Read("C:\\CONFIG.SYS"), c.commented ? kCommented : kConfigSys) << c.name;
    }
    EXPECT_EQ(TempFiles(m), c.temp_files) << c.name;
    // A temporary file is made only when the machine qualifies.
    const bool qualifies = c.commented || c.config_sys != kPresent;
    EXPECT_EQ(m.Events("GetTempFileNameA").size(), qualifies ? 1u : 0u) << c.name;
    EXPECT_TRUE(m.Events("MessageBoxA").empty()) << c.name;
  }
}

TEST(CfgSysFix, ASecondRunLeavesTheFileAsItIs) {
  Machine m("win98se");
  Prepare(m, kCfgSysFix, kBoardKey, kDeviceOnTheBus);
  m.Write("C:\\CONFIG.SYS", kConfigSys);
  ASSERT_EQ(m.Run(kCfgSysFix).exit_code, 1);
  ASSERT_EQ(m.Read("C:\\CONFIG.SYS"), kCommented);
  EXPECT_EQ(m.Run(kCfgSysFix).exit_code, 1);
  EXPECT_EQ(m.Read("C:\\CONFIG.SYS"), kCommented);
  EXPECT_TRUE(TempFiles(m).empty());
}

const std::string kDisplay0 = "[HKEY_LOCAL_MACHINE\\Enum\\Root\\DISPLAY\\0000]\n";
const std::string kDisplay1 = "[HKEY_LOCAL_MACHINE\\Enum\\Root\\DISPLAY\\0001]\n";
const std::string kAdapter =
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_102B&DEV_0519]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_102B&DEV_0519\\BUS_01&DEV_00&FUNC_00]\n\"Class\"=\"DISPLAY\"\n\n";
const std::string kOtherPci = "[HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1013&DEV_00D6]\n\n";

// The bytes of a text as a .reg file writes them ("41,42").
std::string Hex(const std::string& text) {
  std::string out;
  char byte[4];
  for (unsigned char c : text) {
    std::snprintf(byte, sizeof byte, "%02x", c);
    out += (out.empty() ? "" : ",") + std::string(byte);
  }
  return out;
}

std::string HardwareId(const std::string& reg_value) { return "\"HardwareID\"=" + reg_value + "\n\n"; }

TEST(DispFix, RemovesTheDisplayKeyNamingTheAdapterAndTheAdapterKey) {
  const std::string kMatch = HardwareId(R"("PCI\\VEN_102B&DEV_0519")");
  const std::string kDriver = "[HKEY_LOCAL_MACHINE\\Enum\\Root\\DISPLAY\\0000\\LogConfig]\n\"0000\"=hex:01,02\n\n";
  struct Case {
    const char* name;
    std::string registry;
    bool display_removed, adapter_removed;
  } cases[] = {
      {"exact identifier", kDisplay0 + kMatch + kDriver + kAdapter + kOtherPci, true, true},
      {"lower case", kDisplay0 + HardwareId(R"("pci\\ven_102b&dev_0519")") + kAdapter, true, true},
      {"adapter key missing", kDisplay0 + kMatch + kOtherPci, true, false},
      {"a list of identifiers",
       kDisplay0 + HardwareId(R"("PCI\\VEN_102B&DEV_0519&SUBSYS_00000000,PCI\\VEN_102B&DEV_0519")") + kAdapter,
       false, false},
      {"followed by a further entry", kDisplay0 + HardwareId(R"("PCI\\VEN_102B&DEV_0519,*PNP0900")") + kAdapter, false,
       false},
      {"a multi-string whose first entry is the identifier",
       kDisplay0 + HardwareId("hex(7):" + Hex("PCI\\VEN_102B&DEV_0519") + ",00," + Hex("*PNP0900") + ",00,00") + kAdapter,
       false, false},
      {"a multi-string of the identifier alone",
       kDisplay0 + HardwareId("hex(7):" + Hex("PCI\\VEN_102B&DEV_0519") + ",00,00") + kAdapter, true, true},
      {"a string with bytes after its zero",
       kDisplay0 + HardwareId("hex:" + Hex("PCI\\VEN_102B&DEV_0519") + ",00," + Hex("X")) + kAdapter, false, false},
      {"another adapter", kDisplay0 + HardwareId(R"("PCI\\VEN_1013&DEV_00D6")") + kAdapter, false, false},
      {"no HardwareID", kDisplay0 + "\"Class\"=\"DISPLAY\"\n\n" + kAdapter, false, false},
      {"only instance 0001 matches", kDisplay0 + HardwareId(R"("*PNP0900")") + kDisplay1 + kMatch + kAdapter, false,
       false},
      {"256 bytes without a zero", kDisplay0 + HardwareId("hex:" + [] {
         std::string bytes;
         for (int i = 0; i < 256; ++i) bytes += std::string(i ? "," : "") + "50";
         return bytes;
       }()) + kAdapter,
       false, false},
      {"no display device", kAdapter, false, false},
  };
  for (const Case& c : cases) {
    Machine m("win98se");
    Prepare(m, kDispFix, c.registry, "");
    Result r = m.Run(kDispFix);
    EXPECT_EQ(r.exit_code, 1) << c.name << ": " << r.err;
    const std::string reg = Registry(m);
    auto has = [](const std::string& text, const char* key) { return text.find(key) != std::string::npos; };
    EXPECT_EQ(has(reg, "DISPLAY\\0000]"), has(c.registry, "DISPLAY\\0000]") && !c.display_removed) << c.name;
    EXPECT_EQ(has(reg, "VEN_102B&DEV_0519]"), has(c.registry, "VEN_102B&DEV_0519]") && !c.adapter_removed) << c.name;
    // Deleting a key deletes what lies below it; other keys stay.
    EXPECT_EQ(has(reg, "0000\\LogConfig]"), has(c.registry, "0000\\LogConfig]") && !c.display_removed) << c.name;
    EXPECT_EQ(has(reg, "BUS_01&DEV_00&FUNC_00]"), has(c.registry, "BUS_01&DEV_00&FUNC_00]") && !c.adapter_removed)
        << c.name;
    for (const char* other : {"DISPLAY\\0001]", "VEN_1013&DEV_00D6]"}) EXPECT_EQ(has(reg, other), has(c.registry, other));
    EXPECT_EQ(m.Events("RegDeleteKeyA").size(), (c.display_removed ? 1u : 0u) + (c.adapter_removed ? 1u : 0u))
        << c.name;
  }
}

TEST(DispFix, ASecondRunChangesNothing) {
  Machine m("win98se");
  Prepare(m, kDispFix, kDisplay0 + HardwareId(R"("PCI\\VEN_102B&DEV_0519")") + kAdapter, "");
  ASSERT_EQ(m.Run(kDispFix).exit_code, 1);
  const std::string after_first = Registry(m);
  ASSERT_EQ(after_first.find("DISPLAY\\0000]"), std::string::npos);
  EXPECT_EQ(m.Run(kDispFix).exit_code, 1);
  EXPECT_EQ(Registry(m), after_first);
  EXPECT_TRUE(m.Events("RegDeleteKeyA").empty());
}

TEST(FixTools, TheUpdateScriptStartsCfgSysFixOnTheSameMachine) {
  Machine m("win98se");
  Prepare(m, kCfgSysFix, kBoardKey, kDeviceOnTheBus);
  m.Write("C:\\KIT\\DRUPDATE.EXE", "MZ");
  m.Write("C:\\KIT\\DRUPDATE.INI", "[Command]\r\n0=3,CFGSYSFIX.EXE,*\r\n");
  m.Write("C:\\CONFIG.SYS", kConfigSys);
  Result r = m.Run("C:\\KIT\\DRUPDATE.EXE", {"--fast", "--answer", "OK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  auto starts = m.Events("WinExec");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["command_line"], kCfgSysFix);
  bool tool_ended = false;
  for (auto& e : m.Events("ProcessExit"))
    if (e["process"] == "CFGSYSFIX.EXE") tool_ended = e["exit_code"] == 1;
  EXPECT_TRUE(tool_ended);
  EXPECT_EQ(m.Read("C:\\CONFIG.SYS"), kCommented);  // done by the time `w9x run` returns
}

}  // namespace
}  // namespace scenario
