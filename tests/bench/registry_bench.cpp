// The cost of the registry functions on registries of growing size, up to 100,001 keys (about
// 6.9 MB of text, the size of a large real registry): a program's start (the machine opened and
// one value read), a read, and a change.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "machine/machine.h"
#include "testing/test_machine.h"

namespace {

using w9x::testing::TestMachine;

// A machine whose registry holds `keys` device keys of three values each.
void FillRegistry(const TestMachine& m, int keys) {
  std::string text = "REGEDIT4\n\n";
  for (int i = 0; i < keys; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\Enum\\Root\\DEVICE" + std::to_string(i / 100) + "\\" + std::to_string(i) + "]\n";
    text += "\"Class\"=\"System\"\n\"DeviceDesc\"=\"Device number " + std::to_string(i) + "\"\n";
    text += "\"ConfigFlags\"=hex:00,00,00,00\n\n";
  }
  std::ofstream(m.Root() / "registry.reg", std::ios::binary) << text;
}

void BM_QueryValue(benchmark::State& state) {
  TestMachine m;
  FillRegistry(m, static_cast<int>(state.range(0)));
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\DEVICE0\\0", 0, KEY_READ, &key);
  char value[256];
  for (auto _ : state) {
    DWORD size = sizeof value;
    benchmark::DoNotOptimize(RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_QueryValue)->Arg(100)->Arg(10000)->Arg(100001);

// A program's start: the machine opened afresh, one key opened and one value read.  A program
// ends without freeing its registry, so the machine's teardown is not counted.
void BM_StartAndRead(benchmark::State& state) {
  TestMachine m;
  FillRegistry(m, static_cast<int>(state.range(0)));
  char value[256];
  for (auto _ : state) {
    auto machine = std::make_unique<w9x::Machine>(m.Root());
    {
      w9x::ScopedContext context(*machine, m.process());
      HKEY key = nullptr;
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\DEVICE0\\0", 0, KEY_READ, &key);
      DWORD size = sizeof value;
      benchmark::DoNotOptimize(
          RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size));
      RegCloseKey(key);
    }
    state.PauseTiming();
    machine.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartAndRead)->Arg(100)->Arg(10000)->Arg(100001)->Unit(benchmark::kMillisecond);

void BM_SetValue(benchmark::State& state) {
  TestMachine m;
  FillRegistry(m, static_cast<int>(state.range(0)));
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\DEVICE0\\0", 0, KEY_READ | KEY_WRITE, &key);
  DWORD n = 0;
  for (auto _ : state) {
    ++n;
    benchmark::DoNotOptimize(RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_SetValue)->Arg(100)->Arg(10000)->Arg(100001)->Unit(benchmark::kMicrosecond);

// The end of a run: one change, then the change log folded into registry.reg.
void BM_ChangeAndFold(benchmark::State& state) {
  TestMachine m;
  FillRegistry(m, static_cast<int>(state.range(0)));
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\DEVICE0\\0", 0, KEY_READ | KEY_WRITE, &key);
  DWORD n = 0;
  for (auto _ : state) {
    ++n;
    RegSetValueExA(key, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), 4);
    benchmark::DoNotOptimize(m.machine().Registry().Fold());
  }
  RegCloseKey(key);
}
BENCHMARK(BM_ChangeAndFold)->Arg(100)->Arg(10000)->Arg(100001)->Unit(benchmark::kMillisecond);

// A file replaced by another process is read again at the next call.
void BM_ReadAfterReplace(benchmark::State& state) {
  TestMachine m;
  FillRegistry(m, static_cast<int>(state.range(0)));
  const std::string text = [&] {
    std::ifstream in(m.Root() / "registry.reg", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\DEVICE0\\0", 0, KEY_READ, &key);
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream(m.Root() / "registry.new", std::ios::binary) << text;
    std::filesystem::rename(m.Root() / "registry.new", m.Root() / "registry.reg");
    state.ResumeTiming();
    DWORD size = 0;
    benchmark::DoNotOptimize(RegQueryValueExA(key, "Class", nullptr, nullptr, nullptr, &size));
  }
  RegCloseKey(key);
}
BENCHMARK(BM_ReadAfterReplace)->Arg(100)->Arg(10000)->Arg(100001)->Unit(benchmark::kMicrosecond);

}  // namespace
