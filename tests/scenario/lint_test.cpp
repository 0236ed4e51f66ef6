// `w9x lint`: a table of scripts, each with the one problem it must be told (or none), the
// meaning it prints, its JSON form, and the runner errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "machine/text.h"
#include "scenario_support.h"

namespace scenario {
namespace {

// A kit folder in a temporary place: DRUPDATE.INI (UTF-8 text written as code page 932) and a
// few files.
class Kit {
 public:
  Kit(const std::string& script, const std::vector<std::string>& files = {}) {
    static int counter = 0;
    root_ = fs::temp_directory_path() / ("w9x-kit-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
    if (!script.empty()) std::ofstream(root_ / "DRUPDATE.INI", std::ios::binary) << *w9x::text::ToCp932(script);
    for (const std::string& f : files) {
      fs::create_directories((root_ / f).parent_path());
      std::ofstream(root_ / f) << "x";
    }
  }
  ~Kit() { fs::remove_all(root_); }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

struct LintCase {
  const char* name;
  std::string script;
  std::vector<std::string> files;
  std::string problem;  // part of the one problem line; empty: a clean kit
};

const std::string kGood = "[General]\r\nTarget=130\r\n[Command]\r\n";

TEST(Lint, TellsEachProblemOnceAndNothingForCleanKits) {
  const LintCase cases[] = {
      {"clean copy", kGood + "0=1,NEWDRV.VXD,DRIVERS,11,0\r\n", {"DRIVERS/NEWDRV.VXD"}, ""},
      // The kit folder's names are matched ignoring case, as Windows matches them.
      {"clean, case differs", kGood + "0=1,newdrv.vxd,drivers,11\r\n", {"DRIVERS/NEWDRV.VXD"}, ""},
      {"clean delete and rename", kGood + "0=2,OLDDRV.VXD,,11\r\n1=4,A.DLL,B.DLL,11,1,2\r\n", {}, ""},
      {"clean model pattern", kGood + "0=3,MYDEV.INF,INF,0,1,-1,1,XY-100*\r\n", {"INF/MYDEV.INF"}, ""},
      {"gap", kGood + "0=2,A.VXD\r\n2=2,B.VXD\r\n", {}, "line 5 [Command] 2: never read: the numbering stops at 1"},
      {"empty value ends the script", kGood + "0=\r\n1=2,B.VXD\r\n", {}, "[Command] 1: never read"},
      {"leading zero", kGood + "0=2,A.VXD\r\n01=2,B.VXD\r\n", {}, "[Command] 01: key is never read"},
      {"kind 5", kGood + "0=5,A.VXD\r\n", {}, "kind '5' is not 1 to 4"},
      {"no comma", kGood + "0=2\r\n", {}, "no comma after the kind"},
      {"seven commas", kGood + "0=2,A,,11,1,-1,0,X,Y\r\n", {}, "more than six commas"},
      {"value cut", kGood + "0=2,A.VXD,,11,1,-1,0," + std::string(520, '*') + "\r\n", {}, "only the first 511 are read"},
      {"missing source with near miss", kGood + "0=1,NEWDRV.VXD,DRIVERS,11\r\n", {"DRIVERS/NEWDRV1.VXD"},
       "source DRIVERS\\NEWDRV.VXD is not in the kit: the line is dropped (near: NEWDRV1.VXD)"},
      {"missing INF", kGood + "0=3,MYDEV.INF,INF\r\n", {}, "INF INF\\MYDEV.INF is not in the kit"},
      {"OS mask outside Target", kGood + "0=2,A.VXD,,11,1,8\r\n", {}, "OS mask 8 matches no Windows kind"},
      {"Target excludes all", "[General]\r\nTarget=16\r\n[Command]\r\n0=2,A.VXD,,11\r\n", {}, "line 2 [General] Target: Target 16 allows no Windows kind"},
      {"pass 2", kGood + "0=2,A.VXD,,11,2\r\n", {}, "pass 2 never runs"},
      {"keyboard 3", kGood + "0=2,A.VXD,,11,1,-1,3\r\n", {}, "keyboard condition 3"},
      {"model in pass 0", kGood + "0=2,A.VXD,,11,0,-1,0,XY-100*\r\n", {}, "in pass 0: the model is not known yet"},
      {"model with a blank", kGood + "0=2,A.VXD,,11,1,-1,0,XY 100\r\n", {}, "holds a blank"},
      {"folder on another drive", kGood + "0=2,A.VXD,,!D:\\KIT\r\n", {}, "is on drive D:"},
      {"folder too long", kGood + "0=2,A.VXD,,!C:\\" + std::string(260, 'F') + "\r\n", {}, "is too long"},
      {"delete with a long name", kGood + "0=2,LONG FILE NAME.VXD,,11\r\n", {}, "is not one"},
      {"field the grammar ignores", kGood + "0=2,A.VXD,B.VXD,11\r\n", {}, "field 1 (B.VXD) is not used by a delete"},
      {"rename without a new name", kGood + "0=4,A.DLL\r\n", {}, "no new name"},
  };
  for (const LintCase& c : cases) {
    Kit kit(c.script, c.files);
    Result r = W9x({"lint", kit.Root().string()});
    EXPECT_EQ(r.exit_code, c.problem.empty() ? 0 : 1) << c.name << "\n" << r.out << r.err;
    if (c.problem.empty()) {
      EXPECT_NE(r.out.find("no problems"), std::string::npos) << c.name << "\n" << r.out;
    } else {
      EXPECT_NE(r.out.find("1 problem:\n"), std::string::npos) << c.name << "\n" << r.out;
      EXPECT_NE(r.out.find(c.problem), std::string::npos) << c.name << "\n" << r.out;
    }
  }
}

TEST(Lint, SaysWhatEachCommandMeans) {
  Kit kit(kGood + "0=1,NEWDRV.VXD,DRIVERS,11,0\r\n1=3,表示.INF,INF,0,1,2,1,XY-100*\r\n2=1,TOOL.EXE,*,!C:\\KIT\\TOOLS\r\n",
          {"DRIVERS/NEWDRV.VXD", "INF/表示.INF", "TOOL.EXE"});
  Result r = W9x({"lint", kit.Root().string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("copy NEWDRV.VXD from DRIVERS to <Windows folder>\\SYSTEM\\; pass 0; every Windows; any keyboard; "
                       "any model (defaults: every Windows, any keyboard, any model)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("install/start 表示.INF from INF; pass 1; Windows 95 (9x but 4.10); keyboard check true; model XY-100*\n"),
            std::string::npos)
      << r.out;

  EXPECT_NE(r.out.find("copy TOOL.EXE from the kit folder to C:\\KIT\\TOOLS\\; pass 1;"), std::string::npos) << r.out;

  Result j = W9x({"lint", kit.Root().string(), "--json"});
  EXPECT_EQ(j.exit_code, 0);
  auto json = nlohmann::json::parse(j.out);
  EXPECT_EQ(json["target"], 130);
  ASSERT_EQ(json["commands"].size(), 3u);
  EXPECT_EQ(json["commands"][1]["kind"], 3);
  EXPECT_EQ(json["commands"][1]["kept"], true);
  EXPECT_TRUE(json["problems"].empty());
}

TEST(Lint, BadInput) {
  EXPECT_EQ(W9x({"lint", "/nonexistent/kit"}).exit_code, 125);
  Kit empty("");
  Result r = W9x({"lint", empty.Root().string()});
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_NE(r.err.find("no DRUPDATE.INI"), std::string::npos) << r.err;

  // Random bytes read as a script without commands: a problem, not a crash.
  Kit noise("");
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919 + 13) % 256);
  std::ofstream(noise.Root() / "DRUPDATE.INI", std::ios::binary) << bytes;
  Result n = W9x({"lint", noise.Root().string(), "--json"});
  EXPECT_EQ(n.exit_code, 1) << n.err;
  EXPECT_NO_THROW(nlohmann::json::parse(n.out)) << n.out;
  EXPECT_NE(n.out.find("no [Command] section"), std::string::npos) << n.out;
}

}  // namespace
}  // namespace scenario
