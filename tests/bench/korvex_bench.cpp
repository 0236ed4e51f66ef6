// Scan codes per second through the driver: keyboard filter -> key event -> input report ->
// completed read (and the class driver's next read sent), with reads waiting; against a bare
// interlocked list push and pop of the same kernel, measured in the same run.
#include <benchmark/benchmark.h>
#include <hid_class_host.h>
#include <vxd_host.h>
#include <wdm_host.h>

#include "frame.h"

namespace {

void BM_ScanCodeToCompletedRead(benchmark::State& state) {
  wdm::KernelSession session(wdm::KernelOptions{wdm::ClockMode::Manual, 1});
  {
    wdm::hid::ClassOptions options;
    options.pending_reads = 4;
    wdm::hid::ClassDriver cls(options);
    cls.LoadMinidriver(DriverEntry);
    cls.AddDevice();
    cls.StartDevice();
    wdm::vxd::KeyboardInput(0x5E);  // the class driver module loads on the first press
    wdm::WaitForWork();
    const uint8_t codes[2] = {0xDE, 0x5E};
    uint64_t n = 0;
    for (auto _ : state) {
      wdm::vxd::KeyboardInput(codes[n & 1]);
      if ((++n & 1023) == 0) {
        state.PauseTiming();
        cls.TakeInputs();
        wdm::vxd::TakePassedOn();
        state.ResumeTiming();
      }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["reports"] = static_cast<double>(cls.TakeInputs().size());
    cls.RemoveDevice();
    cls.UnloadMinidriver();
  }
}
BENCHMARK(BM_ScanCodeToCompletedRead);

void BM_BareInterlockedPushPop(benchmark::State& state) {
  wdm::KernelSession session(wdm::KernelOptions{wdm::ClockMode::Manual, 1});
  LIST_ENTRY head, entry;
  KSPIN_LOCK lock;
  InitializeListHead(&head);
  KeInitializeSpinLock(&lock);
  for (auto _ : state) {
    ExInterlockedInsertTailList(&head, &entry, &lock);
    benchmark::DoNotOptimize(ExInterlockedRemoveHeadList(&head, &lock));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_BareInterlockedPushPop);

}  // namespace
