// `w9x reg import` and `export --cp932`: registry exports as the Windows registry editors write
// them, merged into a machine's registry; files that do not read change nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "machine/text.h"
#include "scenario_support.h"

namespace scenario {
namespace {

// UTF-16 little endian with its byte order mark, from UTF-8 (characters of the BMP).
std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = c;
    std::size_t n = 1;
    if (c >= 0xE0) cp = (c & 0x0F) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F), n = 3;
    else if (c >= 0xC0) cp = (c & 0x1F) << 6 | (utf8[i + 1] & 0x3F), n = 2;
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
    i += n;
  }
  return out;
}

fs::path WriteFile(const Machine& m, const std::string& name, const std::string& bytes) {
  const fs::path file = m.Root().parent_path() / (m.Root().filename().string() + "-" + name);
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string Export(const Machine& m, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"reg", m.Root().string(), "export"};
  args.insert(args.end(), extra.begin(), extra.end());
  Result r = W9x(args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

struct ImportCase {
  const char* name;
  std::string file;      // the bytes of the export
  std::string expected;  // `reg export` afterwards (UTF-8)
};

const std::string kBefore =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Old]\n\"Keep\"=\"1\"\n\"Drop\"=\"2\"\n\n[HKEY_LOCAL_MACHINE\\Old\\Sub]\n\n";

TEST(RegImport, MergesExportsOfEachKind) {
  const ImportCase cases[] = {
      // The Japanese Windows 9x editor: code page 932, CR LF, escaped quotes and backslashes.
      {"REGEDIT4 in code page 932",
       *w9x::text::ToCp932("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\表示]\r\n"
                           "\"名前\"=\"C:\\\\表示\\\\\\\"A\\\"\"\r\n\"N\"=dword:00000010\r\n\r\n"),
       kBefore + "[HKEY_LOCAL_MACHINE\\Software]\n\n[HKEY_LOCAL_MACHINE\\Software\\表示]\n\"名前\"=\"C:\\\\表示\\\\\\\"A\\\"\"\n"
       "\"N\"=dword:00000010\n\n"},
      // Windows 2000 and later: UTF-16 with a byte order mark; hex(2) data is UTF-16 too.
      {"REGEDIT5 in UTF-16",
       Utf16("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Env]\r\n\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
             "\"表\"=\"値\"\r\n\r\n"),
       kBefore + "[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\Env]\n\"Path\"=hex(2):25,41,25,00\n\"表\"=\"値\"\n\n"},
      // Deletions: a key with everything under it, a value; deleting what is not there is no error.
      {"deletion entries",
       "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Old\\Sub]\n[-HKEY_LOCAL_MACHINE\\Missing]\n[HKEY_LOCAL_MACHINE\\Old]\n"
       "\"Drop\"=-\n\"New\"=\"3\"\n\"Nothing\"=-\n",
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Old]\n\"Keep\"=\"1\"\n\"New\"=\"3\"\n\n"},
  };
  for (const ImportCase& c : cases) {
    Machine m("win98se");
    std::ofstream(m.Root() / "registry.reg") << kBefore;
    Result r = W9x({"reg", m.Root().string(), "import", WriteFile(m, "import.reg", c.file).string()});
    EXPECT_EQ(r.exit_code, 0) << c.name << ": " << r.err;
    EXPECT_EQ(Export(m), c.expected) << c.name;
  }
}

TEST(RegImport, Cp932ExportImportsBackToTheSameRegistry) {
  Machine a("win98se"), b("win98se");
  std::ofstream(a.Root() / "registry.reg")
      << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\表示]\n\"名\"=\"\\\"値\\\" \\\\ ソ\"\n\"B\"=hex:00,ff\n@=\"d\"\n\n";
  const std::string exported = Export(a, {"--cp932"});
  EXPECT_EQ(exported.find('\n') , exported.find("\r\n") + 1);  // CR LF line ends
  EXPECT_NE(exported.find(*w9x::text::ToCp932("表示")), std::string::npos);
  Result r = W9x({"reg", b.Root().string(), "import", WriteFile(b, "cp932.reg", exported).string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Export(b), Export(a));
}

TEST(RegImport, BadFilesChangeNothing) {
  std::string noise;
  for (int i = 0; i < 2048; ++i) noise += static_cast<char>((i * 7919 + 13) % 256);
  const std::pair<const char*, std::string> cases[] = {
      {"random bytes", noise},
      {"UTF-16 big endian", "\xFE\xFF\x00R\x00E"},
      {"odd UTF-16", "\xFF\xFER\x00E"},
      {"no header", "[HKEY_LOCAL_MACHINE\\A]\n"},
      {"a bad line after good ones", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"X\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\Old]\n\"Y\"=dword:xyz\n"},
      {"unknown root", "REGEDIT4\n\n[-HKEY_NOWHERE\\A]\n"},
  };
  for (const auto& [name, bytes] : cases) {
    Machine m("win98se");
    std::ofstream(m.Root() / "registry.reg") << kBefore;
    const auto before = Snapshot(m.Root());
    const fs::path file = WriteFile(m, "bad.reg", bytes);
    Result r = W9x({"reg", m.Root().string(), "import", file.string()});
    EXPECT_EQ(r.exit_code, 125) << name;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << ": " << r.err;
    EXPECT_EQ(Snapshot(m.Root()), before) << name;
    fs::remove(file);
  }
}

}  // namespace
}  // namespace scenario

namespace scenario {
namespace {

// A dump as `dmidecode --dump-bin` writes it: a legacy entry point, then System Information
// naming the product, then the end of the table.
std::string DumpNaming(const std::string& product) {
  std::string table = std::string("\x01\x08\x01\x00\x01\x02\x00\x00", 8) + "Maker" + '\0' + product + '\0' + '\0' +
                      std::string("\x7F\x04\xFF\xFE\x00\x00", 6);
  std::string dump(32, '\0');
  dump.replace(0, 5, "_DMI_");
  dump[6] = static_cast<char>(table.size());
  dump[8] = 32;
  dump[12] = 2;
  dump[14] = 0x20;
  unsigned sum = 0;
  for (int i = 0; i < 15; ++i) sum += static_cast<unsigned char>(dump[i]);
  dump[5] = static_cast<char>(0x100 - (sum & 0xFF));
  return dump + table;
}

TEST(NewFromARealMachine, TakesItsRegistryExportAndSmbiosDump) {
  const fs::path dir = fs::temp_directory_path() / ("w9x-new-real-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "export.reg", std::ios::binary)
      << *w9x::text::ToCp932("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\表示]\r\n\"A\"=\"値\"\r\n\r\n");
  std::ofstream(dir / "dump.bin", std::ios::binary) << DumpNaming("XY-1000");
  std::ofstream(dir / "bad.reg") << "not an export";

  Result r = W9x({"new", (dir / "m").string(), "--preset", "win98se", "--registry", (dir / "export.reg").string(),
                  "--smbios", (dir / "dump.bin").string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(W9x({"reg", (dir / "m").string(), "export"}).out,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Enum]\n\n[HKEY_LOCAL_MACHINE\\Enum\\表示]\n\"A\"=\"値\"\n\n");
  std::ifstream ini(dir / "m" / "machine.ini");
  std::string text((std::istreambuf_iterator<char>(ini)), {});
  EXPECT_NE(text.find("DMI=smbios.bin"), std::string::npos) << text;

  // A file that does not read: nothing is made.
  for (const auto& bad : std::vector<std::vector<std::string>>{{"--registry", (dir / "bad.reg").string()},
                                                               {"--smbios", (dir / "bad.reg").string()}}) {
    std::vector<std::string> args = {"new", (dir / "n").string(), "--preset", "win98se"};
    args.insert(args.end(), bad.begin(), bad.end());
    Result b = W9x(args);
    EXPECT_EQ(b.exit_code, 125) << bad[0];
    EXPECT_FALSE(fs::exists(dir / "n")) << bad[0];
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace scenario
