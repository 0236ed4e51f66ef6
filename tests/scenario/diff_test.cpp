// `w9x diff`: the differences of two machine images, one kind of change per case, and its exit
// codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "scenario_support.h"

namespace scenario {
namespace {

struct DiffCase {
  const char* name;
  std::function<void(Machine&)> change;  // applied to the second image
  std::string expected;                  // the whole output
};

void AppendRegistry(Machine& m, const std::string& text) {
  std::ofstream(m.Root() / "registry.reg", std::ios::app) << text;
}

TEST(Diff, ListsEachKindOfChange) {
  const DiffCase cases[] = {
      {"equal", [](Machine&) {}, ""},
      {"file created", [](Machine& m) { m.Write("C:\\WINDOWS\\SYSTEM\\NEW.VXD", "x"); },
       "file created C:\\WINDOWS\\SYSTEM\\NEW.VXD\n"},
      {"file deleted", [](Machine& m) { fs::remove(m.Host("C:\\WINDOWS\\RUNDLL.EXE")); },
       "file deleted C:\\WINDOWS\\RUNDLL.EXE\n"},
      {"content", [](Machine& m) { m.Write("C:\\CONFIG.SYS", "FILES=40\r\n"); },
       "file changed C:\\CONFIG.SYS: 53 -> 10 bytes\n"},
      {"read-only", [](Machine& m) { chmod(m.Host("C:\\CONFIG.SYS").c_str(), 0444); },
       "attributes changed C:\\CONFIG.SYS: A -> RA\n"},
      {"hidden (attributes.ini)",
       [](Machine& m) { std::ofstream(m.Root() / "attributes.ini") << "[Attributes]\r\nC:\\CONFIG.SYS=0x22\r\n"; },
       "attributes changed C:\\CONFIG.SYS: A -> HA\n"},
      {"folder", [](Machine& m) { fs::create_directories(m.Host("C:\\KIT\\表示")); },
       "folder created C:\\KIT\nfolder created C:\\KIT\\表示\n"},
      // An INI file is compared entry by entry; the name is matched ignoring case.
      {"INI entries",
       [](Machine& m) {
         fs::rename(m.Host("C:\\WINDOWS\\WIN.INI"), m.Host("C:\\WINDOWS\\win.ini"));
         m.Write("C:\\WINDOWS\\win.ini",
                 "[windows]\r\nload=A.EXE\r\nNullPort=None\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n[New]\r\nk=v\r\n");
       },
       "name spelled differently C:\\WINDOWS\\WIN.INI: -> C:\\WINDOWS\\win.ini\n"
       "INI entry changed C:\\WINDOWS\\win.ini [windows] load: \"\" -> \"A.EXE\"\n"
       "INI entry removed C:\\WINDOWS\\win.ini [windows] run: \"\" -> (none)\n"
       "INI entry added C:\\WINDOWS\\win.ini [New] k: (none) -> \"v\"\n"},
      {"registry",
       [](Machine& m) {
         AppendRegistry(m, "[HKEY_LOCAL_MACHINE\\Software\\Kit]\n\"Name\"=\"値\"\n\"Count\"=dword:0000000a\n\n");
       },
       "registry key created HKEY_LOCAL_MACHINE\\Software\n"
       "registry key created HKEY_LOCAL_MACHINE\\Software\\Kit\n"
       "registry value set HKEY_LOCAL_MACHINE\\Software\\Kit\\Name: \"値\"\n"
       "registry value set HKEY_LOCAL_MACHINE\\Software\\Kit\\Count: dword:0000000a\n"},
      {"machine.ini",
       [](Machine& m) {
         std::ofstream(m.Root() / "machine.ini", std::ios::app) << "[Display]\nWidth=640\n";
       },
       "machine setting added machine.ini [Display] Width: (none) -> \"640\"\n"},
  };
  for (const DiffCase& c : cases) {
    Machine a("win98se"), b("win98se");
    AppendRegistry(a, "[HKEY_CURRENT_USER\\Same]\n\"V\"=\"1\"\n\n");
    AppendRegistry(b, "[HKEY_CURRENT_USER\\Same]\n\"V\"=\"1\"\n\n");
    c.change(b);
    Result r = W9x({"diff", a.Root().string(), b.Root().string()});
    EXPECT_EQ(r.exit_code, c.expected.empty() ? 0 : 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, c.expected) << c.name;
  }
}

TEST(Diff, RegistryValuesChangedAndDeletedBothWays) {
  Machine a("win98se"), b("win98se");
  AppendRegistry(a, "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\"\n\"B\"=hex:01,02\n@=\"d\"\n\n[HKEY_LOCAL_MACHINE\\K\\Gone]\n\n");
  AppendRegistry(b, "[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"2\"\n@=\"d\"\n\n");
  Result r = W9x({"diff", a.Root().string(), b.Root().string()});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out,
            "registry value changed HKEY_LOCAL_MACHINE\\K\\A: \"1\" -> \"2\"\n"
            "registry value deleted HKEY_LOCAL_MACHINE\\K\\B: hex(3):01,02\n"
            "registry key deleted HKEY_LOCAL_MACHINE\\K\\Gone\n");
}

TEST(Diff, RunnerErrorsAre125) {
  Machine a("win98se"), b("win98se");
  std::ofstream(b.Root() / "registry.reg") << "not a registry";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"diff", a.Root().string()},
           {"diff", a.Root().string(), "/nonexistent/machine"},
           {"diff", a.Root().string(), b.Root().string()}}) {
    Result r = W9x(args);
    EXPECT_EQ(r.exit_code, 125) << args.back();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

}  // namespace
}  // namespace scenario
