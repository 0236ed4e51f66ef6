// `w9x boot` and the restart that ends a run: the queued file operations of WININIT.INI applied
// before Windows starts, what is skipped and why, and the file kept as WININIT.BAK.
#include <gtest/gtest.h>

#include <fstream>

#include "machine/text.h"
#include "scenario_support.h"

namespace scenario {
namespace {

const char kWininit[] = "C:\\WINDOWS\\WININIT.INI";
const char kBak[] = "C:\\WINDOWS\\WININIT.BAK";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct BootCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // before the boot: path, bytes
  std::string rename;                                      // the [rename] section's lines
  std::vector<std::pair<std::string, std::string>> after;  // path, bytes; "" for no file
  std::vector<std::string> output;                         // parts of the output, in order
};

class Boot : public ::testing::TestWithParam<BootCase> {};

TEST_P(Boot, AppliesTheRenameSectionInOrderAndKeepsTheFileAsBak) {
  const BootCase& c = GetParam();
  Machine m("win98se");
  for (const auto& [path, bytes] : c.files) m.Write(path, bytes);
  // WININIT.INI holds code page 932 text; the table is UTF-8.
  m.Write(kWininit, *w9x::text::ToCp932("[rename]\r\n" + c.rename));
  const fs::path journal = m.Root().parent_path() / (m.Root().filename().string() + ".boot");
  Result r = W9x({"boot", m.Root().string(), "--journal", journal.string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const auto& [path, bytes] : c.after) {
    if (bytes.empty()) EXPECT_FALSE(m.Exists(path)) << c.name << ": " << path;
    else EXPECT_EQ(m.Read(path), bytes) << c.name << ": " << path;
  }
  std::size_t at = 0;
  for (const std::string& part : c.output) {
    const std::size_t found = r.out.find(part, at);
    ASSERT_NE(found, std::string::npos) << c.name << ": '" << part << "' in order in\n" << r.out;
    at = found + part.size();
  }
  EXPECT_FALSE(m.Exists(kWininit)) << c.name;
  EXPECT_EQ(m.Read(kBak), *w9x::text::ToCp932("[rename]\r\n" + c.rename)) << c.name;
  // The journal has one record per line and one for the rename of the file.
  std::ifstream in(journal);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_TRUE(Contains(text, "\"event\":\"Wininit\"")) << text;
  EXPECT_TRUE(Contains(text, "WININIT.BAK")) << text;
  fs::remove(journal);

  // A second start finds nothing to do and changes nothing.
  auto before = Snapshot(m.Root());
  Result again = W9x({"boot", m.Root().string()});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_TRUE(Contains(again.out, "nothing to do")) << again.out;
  EXPECT_EQ(Snapshot(m.Root()), before) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Boot,
    ::testing::Values(
        BootCase{"delete", {{"C:\\WINDOWS\\SYSTEM\\OLD.VXD", "old"}}, "NUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n",
                 {{"C:\\WINDOWS\\SYSTEM\\OLD.VXD", ""}}, {"deleted C:\\WINDOWS\\SYSTEM\\OLD.VXD"}},
        // DEST=SOURCE replaces DEST, and names are matched ignoring case.
        BootCase{"replace",
                 {{"C:\\WINDOWS\\SYSTEM\\DRV.VXD", "old"}, {"C:\\WINDOWS\\SYSTEM\\DRV.NEW", "new"}},
                 "c:\\windows\\system\\drv.vxd=C:\\WINDOWS\\SYSTEM\\DRV.NEW\r\n",
                 {{"C:\\WINDOWS\\SYSTEM\\DRV.VXD", "new"}, {"C:\\WINDOWS\\SYSTEM\\DRV.NEW", ""}},
                 {"moved C:\\WINDOWS\\SYSTEM\\DRV.NEW to"}},
        // Order matters: the move happens before the deletion of its result.
        BootCase{"in order",
                 {{"C:\\A.TXT", "a"}},
                 "C:\\B.TXT=C:\\A.TXT\r\nNUL=C:\\B.TXT\r\n",
                 {{"C:\\A.TXT", ""}, {"C:\\B.TXT", ""}},
                 {"moved C:\\A.TXT to C:\\B.TXT", "deleted C:\\B.TXT"}},
        // Long names are not seen before Windows starts: the line is skipped, the next applied.
        BootCase{"long names skipped",
                 {{"C:\\Program Files\\LONGNAME.DLL", "x"}, {"C:\\LONGFILENAME.TXT", "y"}, {"C:\\OK.TXT", "z"}},
                 "NUL=C:\\Program Files\\LONGNAME.DLL\r\nNUL=C:\\LONGFILENAME.TXT\r\nNUL=C:\\OK.TXT\r\n",
                 {{"C:\\Program Files\\LONGNAME.DLL", "x"}, {"C:\\LONGFILENAME.TXT", "y"}, {"C:\\OK.TXT", ""}},
                 {"skipped 'NUL=C:\\Program Files\\LONGNAME.DLL': ", "short 8.3", "skipped 'NUL=C:\\LONGFILENAME.TXT'",
                  "deleted C:\\OK.TXT"}},
        // A missing source, a missing folder, a folder, a bad line: each skipped, nothing else touched.
        BootCase{"what cannot be applied",
                 {{"C:\\KEEP.TXT", "k"}, {"C:\\DIR\\X.TXT", "x"}},
                 "NUL=C:\\GONE.TXT\r\nC:\\NODIR\\K.TXT=C:\\KEEP.TXT\r\nNUL=C:\\DIR\r\nGARBAGE\r\nC:\\K.TXT=\r\n",
                 {{"C:\\KEEP.TXT", "k"}, {"C:\\DIR\\X.TXT", "x"}},
                 {"skipped 'NUL=C:\\GONE.TXT': no file", "skipped 'C:\\NODIR\\K.TXT=C:\\KEEP.TXT': no folder",
                  "skipped 'NUL=C:\\DIR': C:\\DIR is a folder", "skipped 'GARBAGE'", "skipped 'C:\\K.TXT='"}},
        // The same line twice (as a delete scheduled by two runs): applied once, the repeat noted.
        BootCase{"each entry once",
                 {{"C:\\A.TXT", "a"}, {"C:\\C.TXT", "c"}},
                 "C:\\B.TXT=C:\\A.TXT\r\nC:\\A.TXT=C:\\C.TXT\r\nC:\\B.TXT=C:\\A.TXT\r\n",
                 {{"C:\\B.TXT", "a"}, {"C:\\A.TXT", "c"}, {"C:\\C.TXT", ""}},
                 {"moved C:\\A.TXT to C:\\B.TXT", "moved C:\\C.TXT to C:\\A.TXT", "repeats an earlier line"}},
        // Double-byte names count their bytes: 表示 is four bytes, a short name.
        BootCase{"double-byte short name", {{"C:\\表示\\A.TXT", "a"}}, "NUL=C:\\表示\\A.TXT\r\n",
                 {{"C:\\表示\\A.TXT", ""}}, {"deleted C:\\表示\\A.TXT"}}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(BootErrors, BadInputIsARunnerErrorOrHarmless) {
  EXPECT_EQ(W9x({"boot", "/nonexistent/machine"}).exit_code, 125);
  EXPECT_EQ(W9x({"boot"}).exit_code, 125);

  // Random bytes are a WININIT.INI without a [rename] section: nothing is applied.
  Machine m("win98se");
  m.Write("C:\\A.TXT", "a");
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + 13) % 251);
  m.Write(kWininit, noise);
  Result r = W9x({"boot", m.Root().string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(m.Read("C:\\A.TXT"), "a");
  EXPECT_EQ(m.Read(kBak), noise);
}

// A line may delete WININIT.INI itself: the lines after it are still applied, and no .BAK is kept.
TEST(BootErrors, ALineThatDeletesWininitItself) {
  Machine m("win98se");
  m.Write("C:\\A.TXT", "a");
  m.Write(kWininit, "[rename]\r\nNUL=C:\\WINDOWS\\WININIT.INI\r\nNUL=C:\\A.TXT\r\n");
  Result r = W9x({"boot", m.Root().string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(m.Exists("C:\\A.TXT"));
  EXPECT_FALSE(m.Exists(kWininit));
  EXPECT_FALSE(m.Exists(kBak));
}

// Windows is not started while it still runs: a program left running refuses the boot.
TEST(BootErrors, NotWhileProgramsRun) {
  Machine m("win98se");
  m.Write("C:\\WINDOWS\\TALMORIX.EXE", "MZ");
  m.Write("C:\\A.TXT", "a");
  m.Write(kWininit, "[rename]\r\nNUL=C:\\A.TXT\r\n");
  Result started = W9x({"start", m.Root().string(), "--menu", "108", "--", "C:\\WINDOWS\\TALMORIX.EXE", "setup"});
  ASSERT_EQ(started.exit_code, 0) << started.err;
  Result r = W9x({"boot", m.Root().string()});
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_TRUE(Contains(r.err, "programs still run")) << r.err;
  EXPECT_TRUE(m.Exists("C:\\A.TXT"));
  EXPECT_TRUE(m.Exists(kWininit));
  EXPECT_EQ(W9x({"stop", m.Root().string()}).exit_code, 0);
  EXPECT_EQ(W9x({"boot", m.Root().string()}).exit_code, 0);
  EXPECT_FALSE(m.Exists("C:\\A.TXT"));
}

TEST(BootAfterRun, ARestartOfTheShutdownProgramAppliesWininit) {
  Machine m("win98se");
  m.Write("C:\\WINDOWS\\TALMORIX.EXE", "MZ");
  std::ofstream(m.Host("C:\\WINDOWS\\SYSTEM.INI"), std::ios::app)
      << "\r\n[PowerOff]\r\nQueryUser=No\r\nUserSet=Yes\r\nREBOOT=Yes\r\nPOWEROFF=No\r\n";
  m.Write("C:\\WINDOWS\\SYSTEM\\OLD.VXD", "old");
  m.Write(kWininit, "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n");
  Result r = m.Run("C:\\WINDOWS\\TALMORIX.EXE");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Windows was restarted\ndeleted C:\\WINDOWS\\SYSTEM\\OLD.VXD\n")) << r.out;
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\SYSTEM\\OLD.VXD"));
  EXPECT_TRUE(m.Exists(kBak));
  EXPECT_FALSE(m.Events("Wininit").empty());
}

TEST(BootAfterRun, AShutdownLeavesWininitForTheNextStart) {
  Machine m("win98se");
  m.Write("C:\\WINDOWS\\TALMORIX.EXE", "MZ");
  std::ofstream(m.Host("C:\\WINDOWS\\SYSTEM.INI"), std::ios::app)
      << "\r\n[PowerOff]\r\nQueryUser=No\r\nUserSet=Yes\r\nSHUTDOWN=Yes\r\nPOWEROFF=No\r\n";
  m.Write(kWininit, "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\OLD.VXD\r\n");
  Result r = m.Run("C:\\WINDOWS\\TALMORIX.EXE");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(m.Exists(kWininit));
}

}  // namespace
}  // namespace scenario
