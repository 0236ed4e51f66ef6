// Reading the update script and offering both passes: the time per line must not grow with the
// length of the script (each key is read from the parsed file, never by re-reading it).
#include <benchmark/benchmark.h>

#include <string>

#include "testing/test_machine.h"
#include "update_app.h"

namespace {

using w9x::testing::TestMachine;

void LoadAndRunBothPasses(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  TestMachine machine;
  UpdateApp app;
  app.SetCurrentHandles(nullptr, nullptr, SW_SHOWNORMAL);
  app.LocateIni();
  app.OsKind = 128;
  // Copy lines that parse (their source exists) but never run here (OS mask 8, Windows NT).
  machine.WriteFile("C:\\KIT\\A.TXT", "a");
  std::string script = "[General]\r\nTarget=130\r\n\r\n[Command]\r\n";
  for (int i = 0; i < lines; ++i) script += std::to_string(i) + "=1,A.TXT,*,11,1,8\r\n";
  machine.WriteFile("C:\\KIT\\DRUPDATE.INI", script);

  for (auto _ : state) {
    CommandList list;
    list.Load();
    list.RunPass(0);
    list.RunPass(1);
    benchmark::DoNotOptimize(list.Items.GetCount());
  }
  state.SetItemsProcessed(state.iterations() * lines);
}

BENCHMARK(LoadAndRunBothPasses)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
