// Reads and key events meeting in the queues, writes at the output pace, cancellation, removal
// with work outstanding, and every allocation failure point.
#include "driver_fixture.h"

namespace korvex_test {
namespace {

class QueueTest : public DriverTest {
 protected:
  QueueTest() : DriverTest(wdm::ClockMode::Manual, NoReads()) {}
  static wdm::hid::ClassOptions NoReads() {
    wdm::hid::ClassOptions o;
    o.pending_reads = 0;  // this test sends its reads itself
    return o;
  }
  std::unique_ptr<wdm::IoRequest> Read() { return cls_->SendInternal(IOCTL_HID_READ_REPORT, 9); }
  static std::string Got(wdm::IoRequest& r) {
    return Hex(std::vector<uint8_t>(r.buffer().begin(), r.buffer().begin() + static_cast<long>(r.information())));
  }
};

// An event with no read waits at the head; a read arriving later is served only at the next
// run of the pump, and then gets that oldest event.
TEST_F(QueueTest, ReadArrivingAfterTheEventWaitsForTheNextRun) {
  Boot();
  Keys({0x5E});
  EXPECT_EQ(Events(), 1u);
  auto first = Read();
  EXPECT_FALSE(first->done());
  Keys({0xDE});
  ASSERT_TRUE(first->done());
  EXPECT_EQ(Got(*first), "010000810000000000");
  EXPECT_EQ(Events(), 1u);
  auto second = Read();
  Keys({0x42});  // not a button: the pump does not run
  EXPECT_FALSE(second->done());
  Keys({0xC2});
  EXPECT_EQ(Got(*second), "010000000000000000");
  IoCancelIrp(Read()->irp());  // ends with one event left for unload to free
}

TEST_F(QueueTest, TwoEventsOneRead) {
  Boot();
  auto read = Read();
  Keys({0x5E});
  EXPECT_EQ(Got(*read), "010000810000000000");
  Keys({0xDE, 0x5F});
  EXPECT_EQ(Events(), 2u);
  auto next = Read();
  Keys({0xDF});
  EXPECT_EQ(Got(*next), "010000000000000000") << "oldest event first";
  EXPECT_EQ(Events(), 2u);
}

TEST_F(QueueTest, CancelledReadLeavesTheQueueAndTheNextReadGetsTheEvent) {
  Boot();
  auto a = Read();
  auto b = Read();
  EXPECT_TRUE(IoCancelIrp(a->irp()));
  EXPECT_EQ(a->status(), STATUS_CANCELLED);
  EXPECT_EQ(a->completions(), 1);
  EXPECT_EQ(Reads(), 1u);
  EXPECT_FALSE(IoCancelIrp(a->irp())) << "a completed read has no cancel routine";
  Keys({0x63});
  EXPECT_EQ(Got(*b), "010000830000000000");
}

TEST_F(QueueTest, ReadCancelledBeforeItArrivesIsRefused) {
  Boot();
  wdm::IoRequest r(cls_->fdo()->StackSize);
  r.SetInternalIoctl(IOCTL_HID_READ_REPORT, 9);
  r.irp()->Cancel = TRUE;
  EXPECT_EQ(r.Send(cls_->fdo()), STATUS_SUCCESS);
  EXPECT_EQ(r.status(), STATUS_CANCELLED);
  EXPECT_EQ(Reads(), 0u);
}

// Three writes arriving together complete 500, 1000 and 1500 ms later, in order; a write
// arriving while the timer counts down does not restart it.
TEST_F(QueueTest, WritesCompleteAtTheOutputPace) {
  Boot();
  auto& w1 = cls_->WriteOutput(1);
  auto& w2 = cls_->WriteOutput(2);
  wdm::AdvanceTime(300);
  auto& w3 = cls_->WriteOutput(3);
  EXPECT_FALSE(w1.done());
  wdm::AdvanceTime(200);
  EXPECT_TRUE(w1.done());
  EXPECT_FALSE(w2.done());
  wdm::AdvanceTime(1000);
  ASSERT_TRUE(w3.done());
  EXPECT_EQ(w1.completed_at(), 5000000);
  EXPECT_EQ(w2.completed_at(), 10000000);
  EXPECT_EQ(w3.completed_at(), 15000000);
  EXPECT_EQ(w1.status(), STATUS_SUCCESS);
  EXPECT_TRUE(KeReadStateTimer(&Extension()->OutputTimer)) << "idle again";
  EXPECT_EQ(wdm::ArmedTimers(), 0);
}

// Each completed write runs the pump once more: a read that came after the waiting event is
// served then.
TEST_F(QueueTest, CompletedWriteRunsThePump) {
  Boot();
  Keys({0x67});
  auto read = Read();
  cls_->WriteOutput(0);
  wdm::AdvanceTime(500);
  wdm::WaitForWork();
  ASSERT_TRUE(read->done());
  EXPECT_EQ(Got(*read), "0100006D0000000000");
}

TEST_F(QueueTest, StopLeavesWritesToTheTimer) {
  Boot();
  auto& w1 = cls_->WriteOutput(1);
  auto& w2 = cls_->WriteOutput(2);
  ASSERT_EQ(cls_->StopDevice(), STATUS_SUCCESS);
  EXPECT_EQ(WritesQueued(), 2u);
  wdm::AdvanceTime(1000);
  EXPECT_EQ(w1.status(), STATUS_SUCCESS);
  EXPECT_EQ(w2.status(), STATUS_SUCCESS);
}

// Removal with writes queued and the timer counting: the timer is made idle and the writes
// completed before the device record goes (a timer left armed would fire into freed memory).
TEST_F(QueueTest, RemovalCompletesQueuedWritesAndDisarmsTheTimer) {
  Boot();
  auto& w1 = cls_->WriteOutput(1);
  auto& w2 = cls_->WriteOutput(2);
  wdm::AdvanceTime(500);
  EXPECT_EQ(w1.status(), STATUS_SUCCESS);
  ASSERT_EQ(cls_->RemoveDevice(), STATUS_SUCCESS);
  EXPECT_EQ(w2.completions(), 1);
  EXPECT_EQ(w2.status(), STATUS_NO_SUCH_DEVICE);
  EXPECT_EQ(wdm::ArmedTimers(), 0);
  EXPECT_EQ(WritesQueued(), 0u);
  wdm::AdvanceTime(2000);
}

TEST_F(QueueTest, NoMemoryForEntries) {
  Boot();
  wdm::FailAllocationsFrom(wdm::GetPoolStats().allocations + 1);
  auto read = Read();
  EXPECT_EQ(read->status(), STATUS_NO_MEMORY);
  auto write = cls_->SendInternal(IOCTL_HID_WRITE_REPORT, 16);
  EXPECT_EQ(write->status(), STATUS_NO_MEMORY);
  Keys({0x5E});  // the event is lost, the code still passes
  EXPECT_EQ(Events(), 0u);
  EXPECT_EQ(wdm::vxd::TakePassedOn(), std::vector<uint8_t>{0x5E});
  wdm::FailAllocationsFrom(0);
}

// A whole run (start, presses, a write, a cancel, stop, start, removal, unload) with every
// allocation from the n-th on failing, for every n up to past the run's last allocation:
// nothing crashes, every request is completed once, nothing leaks.
TEST(AllocationFailureTest, EveryFailurePoint) {
  uint64_t total = 0;
  for (uint64_t n = 1;; ++n) {
    {
      wdm::KernelSession session(wdm::KernelOptions{wdm::ClockMode::Manual, 1});
      wdm::FailAllocationsFrom(n);
      {
        wdm::hid::ClassDriver cls;
        if (NT_SUCCESS(cls.LoadMinidriver(DriverEntry)) && NT_SUCCESS(cls.AddDevice())) {
          cls.StartDevice();
          for (uint8_t c : {0x5E, 0xDE, 0x5F, 0xDF}) wdm::vxd::KeyboardInput(c);
          wdm::WaitForWork();
          cls.WriteOutput(1);
          cls.CancelOneRead();
          auto id = cls.SendPnp(IRP_MN_QUERY_ID);
          if (id->information() != 0) ExFreePool(reinterpret_cast<PVOID>(id->information()));
          cls.StopDevice();
          cls.StartDevice();
          wdm::vxd::KeyboardInput(0x63);
          wdm::AdvanceTime(500);
          wdm::WaitForWork();
          cls.RemoveDevice();
        }
        cls.UnloadMinidriver();
      }
      const wdm::IoStats io = wdm::GetIoStats();
      EXPECT_EQ(io.in_driver, 0u) << "failing from allocation " << n;
      EXPECT_EQ(io.sent, io.completed) << "failing from allocation " << n;
      const wdm::PoolStats pool = wdm::GetPoolStats();
      EXPECT_EQ(pool.live_blocks, 0u) << "failing from allocation " << n;
      total = pool.allocations;
      if (pool.failed == 0) break;  // the run got past its last allocation
    }
    ASSERT_LT(n, 1000u);
  }
  EXPECT_GT(total, 10u);
}

}  // namespace
}  // namespace korvex_test
