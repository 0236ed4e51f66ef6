// `w9x try`: the sample kit's matrix over the default combinations against the checked-in one,
// what --boot and --presets change, and the runner errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "scenario_support.h"

namespace scenario {
namespace {

const fs::path kSampleKit = fs::path(W9X_SOURCE_DIR) / "examples" / "kit";

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

fs::path Temp(const std::string& what) {
  return fs::temp_directory_path() / ("w9x-try-test-" + std::to_string(getpid()) + "-" + what);
}

TEST(Try, SampleKitMatrixIsTheCheckedInOne) {
  const fs::path markdown = Temp("matrix.md");
  Result r = W9x({"try", kSampleKit.string(), "--answer", "OK", "--markdown", markdown.string()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadAll(markdown), ReadAll(fs::path(W9X_SOURCE_DIR) / "tests/scenario/expected/sample_kit_try.md"));
  // The text form has the same rows, one column per combination.
  EXPECT_NE(r.out.find("column 12: nt4 kb 7,0x0D00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" x  x  x  x  .  .  x  x  x  x  .  . file created C:\\WINDOWS\\SYSTEM\\NEWDRV.VXD\n"),
            std::string::npos)
      << r.out;
  fs::remove(markdown);
}

// A kit whose run leaves a deletion queued in WININIT.INI (here by copying one there): the matrix
// shows the queued line, and with --boot the deletion done at the restart instead.
TEST(Try, BootShowsTheMachineAfterTheRestart) {
  const fs::path kit = Temp("kit");
  fs::create_directories(kit);
  std::ofstream(kit / "DRUPDATE.EXE") << "MZ";
  std::ofstream(kit / "DRUPDATE.INI") << "[Command]\r\n0=1,WININIT.INI,*,0,0\r\n";
  std::ofstream(kit / "WININIT.INI") << "[rename]\r\nNUL=C:\\WINDOWS\\RUNDLL.EXE\r\n";
  const std::vector<std::string> base = {"try", kit.string(), "--presets", "win98se", "--keyboard", "7,0", "--answer", "OK"};
  Result plain = W9x(base);
  EXPECT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_NE(plain.out.find("column 1: win98se kb 7,0\n"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("column 2"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find(" x queued for the next start NUL=C:\\WINDOWS\\RUNDLL.EXE\n"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("file deleted"), std::string::npos) << plain.out;

  std::vector<std::string> with_boot = base;
  with_boot.push_back("--boot");
  Result booted = W9x(with_boot);
  EXPECT_EQ(booted.exit_code, 0) << booted.err;
  EXPECT_NE(booted.out.find(" x file deleted C:\\WINDOWS\\RUNDLL.EXE\n"), std::string::npos) << booted.out;
  EXPECT_NE(booted.out.find(" x file created C:\\WINDOWS\\WININIT.BAK\n"), std::string::npos) << booted.out;
  EXPECT_EQ(booted.out.find("queued for the next start"), std::string::npos) << booted.out;
  fs::remove_all(kit);
}

// --model gives each image an SMBIOS dump naming that model; the model is asked only where the
// keyboard check is true (keyboard type 4 here, not 0x0D00), and the name ends at its first blank.
TEST(Try, ModelsAreColumnsToo) {
  const fs::path kit = Temp("model-kit");
  fs::create_directories(kit);
  std::ofstream(kit / "DRUPDATE.EXE") << "MZ";
  std::ofstream(kit / "DRUPDATE.INI") << "[Command]\r\n0=1,MODEL.TXT,*,0,1,-1,0,XY-1000\r\n";
  std::ofstream(kit / "MODEL.TXT") << "x";
  Result r = W9x({"try", kit.string(), "--presets", "win98se", "--keyboard", "4,0", "--keyboard", "7,0x0D00", "--model",
                  "XY-1000 Pro", "--model", "AB-1", "--answer", "OK"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("column 1: win98se kb 4,0 model XY-1000 Pro\ncolumn 2: win98se kb 4,0 model AB-1\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" x  .  .  . file created C:\\WINDOWS\\MODEL.TXT\n"), std::string::npos) << r.out;
  fs::remove_all(kit);
}

TEST(Try, RunnerErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"try", "/nonexistent/kit"},
           {"try", kSampleKit.string(), "--presets", "win2000"},
           {"try", kSampleKit.string(), "--keyboard", "seven"},
           {"try"}}) {
    Result r = W9x(args);
    EXPECT_EQ(r.exit_code, 125) << args.back();
  }
  // A kit without the update program: each run is a runner error, reported once.
  const fs::path kit = Temp("no-program");
  fs::create_directories(kit);
  std::ofstream(kit / "DRUPDATE.INI") << "[Command]\r\n";
  Result r = W9x({"try", kit.string(), "--presets", "win98se"});
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_NE(r.err.find("no file C:\\KIT\\DRUPDATE.EXE"), std::string::npos) << r.err;
  fs::remove_all(kit);
}

}  // namespace
}  // namespace scenario
