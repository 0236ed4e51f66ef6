// Four threads at once: the keyboard sending button codes, the class driver's reads being
// cancelled (and sent again), output reports written, and the device stopped and started.
// Checked: every request completed exactly once (the kernel aborts otherwise, and the counts
// agree at the end), key events delivered in order within each start, and an empty pool after
// the driver is unloaded. One million scan codes in the plain build; fewer under the
// sanitizers, whose slowdown would otherwise dominate the test run.
#include <thread>

#include "driver_fixture.h"

namespace korvex_test {
namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kScanCodes = 100000;
#else
constexpr int kScanCodes = 1000000;
#endif

// Press and release of each button in turn: no code repeats its predecessor.
const uint8_t kPattern[] = {0x5E, 0xDE, 0x5F, 0xDF, 0x63, 0xE3, 0x67, 0xE7, 0x6B, 0xEB};
int NextPress(int usage) {
  switch (usage) {
    case 0x81: return 0x82;
    case 0x82: return 0x83;
    case 0x83: return 0x6D;
    case 0x6D: return 0x6E;
    default: return 0x81;
  }
}

class StressTest : public DriverTest {
 protected:
  StressTest() : DriverTest(wdm::ClockMode::Virtual, Options()) {}
  static wdm::hid::ClassOptions Options() {
    wdm::hid::ClassOptions o;
    o.pending_reads = 4;
    o.resend_cancelled = true;
    return o;
  }
};

TEST_F(StressTest, FourThreads) {
  Boot();
  std::atomic<bool> done{false};
  std::atomic<int> restarts{0}, cancels{0}, writes{0};
  std::vector<wdm::hid::InputEvent> inputs;

  std::thread keyboard([&] {
    for (int i = 0; i < kScanCodes; ++i) wdm::vxd::KeyboardInput(kPattern[i % 10]);
    done = true;
  });
  std::thread pnp([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      cls_->StopDevice();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      cls_->StartDevice();
      ++restarts;
    }
  });
  std::thread canceller([&] {
    while (!done) {
      if (cls_->CancelOneRead()) ++cancels;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  std::thread writer([&] {
    while (!done && writes < 2000) {
      cls_->WriteOutput(static_cast<uint8_t>(writes++));
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  keyboard.join();
  pnp.join();
  canceller.join();
  writer.join();
  wdm::WaitIdle();
  // The passed-on record holds every code, in order.
  const auto passed = wdm::vxd::TakePassedOn();
  ASSERT_EQ(passed.size(), static_cast<size_t>(kScanCodes));
  for (int i = 0; i < kScanCodes; ++i) ASSERT_EQ(passed[i], kPattern[i % 10]) << i;

  // Within one start, delivered events alternate press / all-up and the presses follow the
  // buttons' order: nothing overtakes, nothing is delivered twice.
  int delivered = 0;
  int last_generation = -1, last_press = -1;
  bool expect_release = false;
  for (auto& e : cls_->TakeInputs()) {
    if (!NT_SUCCESS(e.status)) continue;
    ++delivered;
    ASSERT_EQ(e.report.size(), 9u);
    const int usage = e.report[3];
    // A read that crossed a stop and a start (sent while the stop was under way, or paired with
    // an event just before it) may carry an event of either start: the order is checked again
    // from the event after it.
    if (e.sent_generation != e.generation) {
      last_generation = -1;
      continue;
    }
    if (e.generation != last_generation) {
      last_generation = e.generation;
      last_press = -1;
      expect_release = usage == 0;
    }
    if (usage == 0) {
      ASSERT_TRUE(expect_release) << "two all-up events in a row within one start";
      expect_release = false;
    } else {
      ASSERT_FALSE(expect_release) << "two presses in a row within one start";
      if (last_press != -1) {
        ASSERT_EQ(usage, NextPress(last_press)) << "a press out of order";
      }
      last_press = usage;
      expect_release = true;
    }
  }
  for (auto* w : cls_->Writes()) EXPECT_EQ(w->completions(), 1);
  EXPECT_GT(delivered, 0);
  EXPECT_GT(restarts.load(), 0);
  RecordProperty("delivered", delivered);
  RecordProperty("restarts", restarts.load());
  RecordProperty("cancels", cancels.load());
  RecordProperty("writes", writes.load());
}

}  // namespace
}  // namespace korvex_test
