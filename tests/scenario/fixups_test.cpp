// The update program's system repairs on machine images with a prepared registry, run by `w9x run`,
// and `w9x reg export` to see what changed.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "scenario_support.h"

namespace scenario {
namespace {

const char kProgram[] = "C:\\KIT\\DRUPDATE.EXE";
const char kJapaneseDesktop[] = "7,0x0100";  // keyboard check true
const char kJapaneseNotebook[] = "7,0x0D00";  // keyboard check false
const std::string kFlashLine = "\r\n@C:\\FLASHKVO.EXE > nul\r\n";

void WriteRegistry(const Machine& m, const std::string& text) {
  std::ofstream(m.Root() / "registry.reg", std::ios::binary) << text;
}

std::string ReadRegistry(const Machine& m) {
  std::ifstream in(m.Root() / "registry.reg", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Export(const Machine& m, const std::string& key) {
  Result r = W9x({"reg", m.Root().string(), "export", key});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

void RunKit(Machine& m) {
  m.Write(kProgram, "MZ");
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(m.Events("MessageBoxA").size(), 1u);
}

// An enumerator branch below HKEY_LOCAL_MACHINE\Enum: "*INT0800" with instances of these classes
// (each with a LogConfig), beside a device that is never touched.
std::string Branch(const std::string& root, const std::vector<std::string>& classes) {
  std::string text = "[HKEY_LOCAL_MACHINE\\Enum\\" + root + "\\*PNP0000\\00]\n\"Class\"=\"System\"\n\n";
  for (std::size_t i = 0; i < classes.size(); ++i) {
    const std::string instance = "[HKEY_LOCAL_MACHINE\\Enum\\" + root + "\\*INT0800\\000" + std::to_string(i);
    text += instance + "]\n\"Class\"=\"" + classes[i] + "\"\n\n";
    text += instance + "\\LogConfig]\n\"0000\"=hex:01,02\n\n";
  }
  return text;
}

TEST(Fixups, Int0800KeysGoOnlyWithAnUnknownInstanceAndTheFlashLineIsAppendedEachRun) {
  struct Case {
    const char* name;
    std::vector<std::string> bios, acpi;  // classes of the *INT0800 instances
    bool bios_removed, acpi_removed;
  } cases[] = {
      {"Unknown (lower case) beside another class; ACPI without Unknown", {"unknown", "System"}, {"System"}, true, false},
      {"only under Enum\\ACPI", {}, {"Unknown"}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m("win98se", {"--keyboard", kJapaneseDesktop});
    WriteRegistry(m, "REGEDIT4\n\n" + Branch("BIOS", c.bios) + Branch("ACPI", c.acpi));
    const std::string bios_before = Export(m, "HKLM\\Enum\\BIOS");
    const std::string acpi_before = Export(m, "HKLM\\Enum\\ACPI");
    fs::remove(m.Host("C:\\AUTOEXEC.BAT"));

    RunKit(m);
    const std::string no_int0800 = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\%]\n\n[HKEY_LOCAL_MACHINE\\Enum\\%\\*PNP0000]\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Enum\\%\\*PNP0000\\00]\n\"Class\"=\"System\"\n\n";
    auto expected = [&](const std::string& root, bool removed, const std::string& before) {
      if (!removed) return before;
      std::string text = no_int0800;
      for (std::size_t at; (at = text.find('%')) != std::string::npos;) text.replace(at, 1, root);
      return text;
    };
    EXPECT_EQ(Export(m, "HKLM\\Enum\\BIOS"), expected("BIOS", c.bios_removed, bios_before));
    EXPECT_EQ(Export(m, "HKLM\\Enum\\ACPI"), expected("ACPI", c.acpi_removed, acpi_before));
    EXPECT_EQ(m.Read("C:\\AUTOEXEC.BAT"), kFlashLine);  // created, exactly 26 bytes
    EXPECT_EQ(kFlashLine.size(), 26u);

    RunKit(m);
    EXPECT_EQ(m.Read("C:\\AUTOEXEC.BAT"), kFlashLine + kFlashLine);
  }
}

TEST(Fixups, RegistryFileIsLeftByteForByteWhenNothingMatches) {
  Machine m("win98se", {"--keyboard", kJapaneseDesktop});
  // Not in the form the platform writes: CR LF, a comment, unsorted spelling.  Any rewrite shows.
  const std::string text =
      "REGEDIT4\r\n; prepared by hand\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\BIOS\\*INT0800\\0000]\r\n\"Class\"=\"System\"\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\BIOS\\*INT0800\\0000\\LogConfig]\r\n\"0000\"=hex:01\r\n";
  WriteRegistry(m, text);
  RunKit(m);
  EXPECT_EQ(ReadRegistry(m), text);
  EXPECT_TRUE(m.Events("RegDeleteKeyA").empty());
}

TEST(Fixups, NetOverrideAndPadInfFilesOnWindows95) {
  Machine m("win95", {"--keyboard", kJapaneseDesktop});
  WriteRegistry(m,
                "REGEDIT4\n\n"
                "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000]\n\"InfPath\"=\"net82557.inf\"\n\n"
                "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override\\Deep]\n\"X\"=\"1\"\n\n"
                "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0001]\n\"InfPath\"=\"OTHER.INF\"\n\n"
                "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0001\\Override]\n\n"
                "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0002]\n\"InfPath\"=\"NET82557.INF\"\n\n");
  m.Write("C:\\WINDOWS\\INF\\OTHER\\KVOTUNDRIX.INF", "pad");
  m.Write("C:\\WINDOWS\\INF\\OTHER\\KEEP.INF", "keep");
  m.Write("C:\\WINDOWS\\INF\\KEEP.INF", "keep");
  RunKit(m);
  EXPECT_EQ(Export(m, "HKLM\\System\\CurrentControlSet\\Services\\Class\\Net"),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000]\n\"InfPath\"=\"net82557.inf\"\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0001]\n\"InfPath\"=\"OTHER.INF\"\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0001\\Override]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0002]\n\"InfPath\"=\"NET82557.INF\"\n\n");
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\INF\\OTHER\\KVOTUNDRIX.INF"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\INF\\OTHER\\KEEP.INF"));
  EXPECT_TRUE(m.Exists("C:\\WINDOWS\\INF\\KEEP.INF"));
  auto deletes = m.Events("DeleteFileA");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0]["path"], "C:\\WINDOWS\\INF\\OTHER\\KVOTUNDRIX.INF");
}

TEST(Fixups, KeyboardSubtypeIsRemovedOnlyOnWindows95WithTheCheckFalse) {
  struct Case {
    const char* preset;
    const char* keyboard;
    bool has_subtype;
    bool removed;
  } cases[] = {
      {"win95", kJapaneseNotebook, true, true},
      {"win95", kJapaneseDesktop, true, false},
      {"win98se", kJapaneseNotebook, true, false},
      {"win95", kJapaneseNotebook, false, false},  // nothing to remove: the file stays as it is
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.preset) + " " + c.keyboard + (c.has_subtype ? "" : " without subtype"));
    Machine m(c.preset, {"--keyboard", c.keyboard});
    std::string ini = m.Read("C:\\WINDOWS\\SYSTEM.INI");
    if (c.has_subtype) ini.replace(ini.find("[keyboard]\r\n"), 12, "[keyboard]\r\nsubtype=2\r\n");
    m.Write("C:\\WINDOWS\\SYSTEM.INI", ini);
    RunKit(m);
    std::string after = m.Read("C:\\WINDOWS\\SYSTEM.INI");
    if (c.removed) {
      EXPECT_EQ(after.find("subtype"), std::string::npos);
      ini.erase(ini.find("subtype=2\r\n"), 11);
    }
    EXPECT_EQ(after, ini);
  }
}

TEST(Fixups, MalformedRegistryIsARunnerErrorNamingTheLine) {
  Machine m("win98se", {"--keyboard", kJapaneseDesktop});
  m.Write(kProgram, "MZ");
  WriteRegistry(m, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum]\n\"Class\"=dword:xyz\n");
  auto before = Snapshot(m.Root());
  Result r = m.Run(kProgram, {"--fast", "--answer", "OK"});
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_NE(r.err.find("registry.reg: line 4: bad dword"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Snapshot(m.Root()), before);

  Result e = W9x({"reg", m.Root().string(), "export"});
  EXPECT_EQ(e.exit_code, 125);
  EXPECT_NE(e.err.find("line 4"), std::string::npos) << e.err;
}

TEST(RegExport, WholeRegistryOrOneKeyAndUnknownKeysAreErrors) {
  Machine m("win98se");
  const std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Maker]\n\"Name\"=\"A \\\"quoted\\\" \\\\ name\"\n"
                           "@=dword:0000002a\n\"Bytes\"=hex:00,ff\n\n";
  WriteRegistry(m, text);
  EXPECT_EQ(Export(m, "HKEY_LOCAL_MACHINE\\Software\\Maker"), text);
  Result all = W9x({"reg", m.Root().string(), "export"});
  EXPECT_EQ(all.exit_code, 0);
  EXPECT_EQ(all.out, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n" + text.substr(10));
  Result missing = W9x({"reg", m.Root().string(), "export", "HKLM\\Software\\Other"});
  EXPECT_EQ(missing.exit_code, 125);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
  EXPECT_TRUE(missing.out.empty());
}

}  // namespace
}  // namespace scenario
