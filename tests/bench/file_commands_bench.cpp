// Speed of the file commands: AppendSectionLine on a long "rename" section, and a script of many
// copy lines against the host's own cp copying the same files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/app_fixture.h"

namespace {

namespace fs = std::filesystem;
using drupdate_test::AppFixture;
using drupdate_test::Options;

constexpr int kLines = 10000;

std::string Numbered(const char* format, int n) {
  char name[64];
  std::snprintf(name, sizeof name, format, n);
  return name;
}

// AppendSectionLine on a WININIT.INI whose "rename" section holds 10,000 pending deletions: the
// section is read through a buffer that grows by 260 bytes at a time, then written back.
void BM_AppendSectionLine(benchmark::State& state) {
  AppFixture f;
  std::string ini = "[rename]\r\n";
  for (int i = 0; i < kLines; ++i) ini += Numbered("NUL=C:\\WINDOWS\\SYSTEM\\OLD%05d.VXD\r\n", i);
  for (auto _ : state) {
    state.PauseTiming();
    f.machine.WriteFile("C:\\WINDOWS\\WININIT.INI", ini);
    state.ResumeTiming();
    if (!AppendSectionLine("rename", "NUL=C:\\WINDOWS\\SYSTEM\\NEW.VXD", "C:\\WINDOWS\\WININIT.INI"))
      state.SkipWithError("AppendSectionLine failed");
  }
  state.counters["section_bytes"] = static_cast<double>(ini.size());
}
BENCHMARK(BM_AppendSectionLine)->Unit(benchmark::kMillisecond);

// 10,000 small files in the kit, copied into an empty folder, one script line each.
class CopyFixture {
 public:
  explicit CopyFixture(bool journal) : f(Options("win98se", journal)) {
    std::string script = "[Command]\r\n";
    for (int i = 0; i < kLines; ++i) {
      const std::string name = Numbered("F%05d.VXD", i);
      f.machine.WriteFile("C:\\KIT\\FILES\\" + name, std::string(100 + i % 400, 'x'));
      script += std::to_string(i) + "=1," + name + ",FILES,24\r\n";  // into C:\WINDOWS\OPTIONS\CABS
    }
    f.WriteScript(script);
  }
  fs::path Source() const { return f.machine.Host("C:\\KIT\\FILES"); }
  fs::path Target() const { return f.machine.Host("C:\\WINDOWS\\OPTIONS\\CABS"); }
  void EmptyTarget() const {
    fs::remove_all(Target());
    fs::create_directories(Target());
  }

  AppFixture f;
};

// The whole update script: Load (each line parsed, its source file looked up) and the pass that
// copies every file and clears its read-only bit.
void BM_CopyScript(benchmark::State& state) {
  CopyFixture c(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    c.EmptyTarget();
    state.ResumeTiming();
    CommandList list;
    list.Load();
    list.RunPass(1);
    if (list.Items.GetCount() != 0) state.SkipWithError("not every copy was made");
  }
  state.counters["files"] = kLines;
}
BENCHMARK(BM_CopyScript)->Arg(0)->Arg(1)->ArgName("journal")->Unit(benchmark::kMillisecond);

// The same files copied by one plain `cp` process.
void BM_PlainCp(benchmark::State& state) {
  CopyFixture c(false);
  const std::string command = "cp -- '" + c.Source().native() + "'/* '" + c.Target().native() + "'/";
  for (auto _ : state) {
    state.PauseTiming();
    c.EmptyTarget();
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.counters["files"] = kLines;
}
BENCHMARK(BM_PlainCp)->Unit(benchmark::kMillisecond);

}  // namespace
