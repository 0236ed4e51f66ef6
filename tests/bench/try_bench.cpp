// Speed of `w9x try` on the sample kit over the 12 default combinations, with one run at a time
// and with two at once: the second should take about half as long on two cores.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

void BM_TrySampleKit(benchmark::State& state) {
  const std::string command = std::string(W9X_BIN_DIR) + "/w9x try " + W9X_SOURCE_DIR +
                              "/examples/kit --answer OK --jobs " + std::to_string(state.range(0)) + " > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("w9x try failed");
      return;
    }
  }
}
BENCHMARK(BM_TrySampleKit)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
