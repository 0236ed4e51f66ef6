// The I/O manager's completion walk, pending propagation, cancellation and its fatal checks.
#include <gtest/gtest.h>
#include <wdm_host.h>

#include <string>
#include <vector>

namespace {

// Three drivers stacked; each location's completion routine records its name.
struct Stack {
  DRIVER_OBJECT drivers[3]{};
  DEVICE_OBJECT devices[3]{};
  static std::vector<std::string>* trace;
};
std::vector<std::string>* Stack::trace = nullptr;

NTSTATUS Record(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  Stack::trace->push_back(std::string(static_cast<const char*>(context)) + (device ? "" : "@top"));
  if (irp->PendingReturned) IoMarkIrpPending(irp);  // as a routine that returns success must
  return STATUS_SUCCESS;
}

struct WalkCase {
  const char* name;
  NTSTATUS status;
  bool cancel;
  UCHAR flags_middle;  // invoke flags of the middle driver's routine
  std::vector<std::string> expected;
};

// The bottom driver completes; the routines run bottom-up where their flags match.
const WalkCase kWalks[] = {
    {"SuccessAll", STATUS_SUCCESS, false, SL_INVOKE_ON_SUCCESS, {"middle", "top"}},
    {"SuccessSkipsErrorOnly", STATUS_SUCCESS, false, SL_INVOKE_ON_ERROR, {"top"}},
    {"ErrorRunsErrorOnly", STATUS_UNSUCCESSFUL, false, SL_INVOKE_ON_ERROR, {"middle", "top"}},
    {"ErrorSkipsSuccessOnly", STATUS_UNSUCCESSFUL, false, SL_INVOKE_ON_SUCCESS, {"top"}},
    {"CancelRunsCancelOnly", STATUS_CANCELLED, true, SL_INVOKE_ON_CANCEL, {"middle", "top"}},
};

class CompletionWalk : public ::testing::TestWithParam<WalkCase> {};

NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS Complete(PDEVICE_OBJECT, PIRP irp) {
  IoMarkIrpPending(irp);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_PENDING;
}

UCHAR middle_flags = 0;
NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp) {
  IoCopyCurrentIrpStackLocationToNext(irp);
  if (device->Flags == 1) {
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = Record;
    next->Context = const_cast<char*>("middle");
    next->Control = middle_flags;
  }
  return IoCallDriver(reinterpret_cast<PDEVICE_OBJECT>(device->DeviceExtension), irp);
}

TEST_P(CompletionWalk, RunsRoutinesBottomUpByTheirFlags) {
  const WalkCase& c = GetParam();
  wdm::KernelSession session;
  std::vector<std::string> trace;
  Stack::trace = &trace;
  Stack s;
  for (int i = 0; i < 3; ++i) {
    s.devices[i].DriverObject = &s.drivers[i];
    s.devices[i].StackSize = static_cast<CCHAR>(3 - i);
    s.drivers[i].MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = i == 2 ? Complete : PassDown;
  }
  s.devices[0].DeviceExtension = &s.devices[1];
  s.devices[1].DeviceExtension = &s.devices[2];
  s.devices[1].Flags = 1;
  middle_flags = c.flags_middle;
  {
    wdm::IoRequest r(3);
    r.SetInternalIoctl(0, -1);
    r.irp()->Cancel = c.cancel;
    r.on_complete = [&](wdm::IoRequest&) { trace.push_back("top"); };
    // The bottom driver completes with the status the row gives.
    s.drivers[2].MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = [](PDEVICE_OBJECT, PIRP irp) -> NTSTATUS {
      IoMarkIrpPending(irp);
      irp->IoStatus.Status = irp->Cancel ? STATUS_CANCELLED : static_cast<NTSTATUS>(irp->IoStatus.Information);
      irp->IoStatus.Information = 0;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_PENDING;
    };
    r.irp()->IoStatus.Information = static_cast<ULONG_PTR>(static_cast<ULONG>(c.status));
    EXPECT_EQ(r.Send(&s.devices[0]), STATUS_PENDING);
    EXPECT_EQ(r.completions(), 1);
    EXPECT_EQ(r.status(), c.status);
    // The bottom's pending mark reached the top: moved up by the kernel where no routine ran,
    // and by the middle routine where it ran.
    EXPECT_TRUE(r.pending_returned());
  }
  EXPECT_EQ(trace, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Walks, CompletionWalk, ::testing::ValuesIn(kWalks),
                         [](const auto& info) { return std::string(info.param.name); });

NTSTATUS CompleteTwice(PDEVICE_OBJECT, PIRP irp) {
  irp->IoStatus.Status = STATUS_SUCCESS;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

TEST(IoManagerDeathTest, SecondCompletionEndsTheRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        wdm::KernelSession session;
        DRIVER_OBJECT driver{};
        DEVICE_OBJECT device{};
        device.DriverObject = &driver;
        driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = CompleteTwice;
        wdm::IoRequest r(1);
        r.SetInternalIoctl(0, -1);
        r.Send(&device);
      },
      "completed twice");
}

TEST(IoManagerDeathTest, FreeingABlockTwiceEndsTheRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        wdm::KernelSession session;
        void* p = ExAllocatePoolWithTag(NonPagedPool, 8, 0x74736554);
        ExFreePool(p);
        ExFreePool(p);
      },
      "not a live pool block");
}

TEST(PoolTest, CountsByTagAndFailsFromTheChosenAllocation) {
  wdm::KernelSession session;
  void* a = ExAllocatePoolWithTag(NonPagedPool, 8, 1);
  void* b = ExAllocatePoolWithTag(NonPagedPool, 8, 2);
  wdm::FailAllocationsFrom(4);
  void* c = ExAllocatePoolWithTag(NonPagedPool, 8, 2);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, 2), nullptr);
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, 2), nullptr);
  auto stats = wdm::GetPoolStats();
  EXPECT_EQ(stats.live_blocks, 3u);
  EXPECT_EQ(stats.live_by_tag[2], 2u);
  EXPECT_EQ(stats.failed, 2u);
  for (void* p : {a, b, c}) ExFreePool(p);
  EXPECT_EQ(wdm::GetPoolStats().live_blocks, 0u);
}

// KeSetTimer on the manual clock: signalled only after expiry, the routine runs once; a set
// while armed replaces the due time; a cancel keeps it from running.
int dpc_runs = 0;
void CountDpc(PKDPC, PVOID, PVOID, PVOID) { ++dpc_runs; }

TEST(TimerTest, DueTimeSignalAndCancel) {
  wdm::KernelSession session;
  KTIMER timer;
  KDPC dpc;
  KeInitializeTimer(&timer);
  KeInitializeDpc(&dpc, CountDpc, nullptr);
  EXPECT_FALSE(KeReadStateTimer(&timer));
  KeSetEvent(reinterpret_cast<PRKEVENT>(&timer), 0, FALSE);
  EXPECT_TRUE(KeReadStateTimer(&timer));
  dpc_runs = 0;
  LARGE_INTEGER due;
  due.QuadPart = -5000000;
  EXPECT_FALSE(KeSetTimer(&timer, due, &dpc));
  EXPECT_FALSE(KeReadStateTimer(&timer));
  wdm::AdvanceTime(499);
  EXPECT_EQ(dpc_runs, 0);
  wdm::AdvanceTime(1);
  EXPECT_EQ(dpc_runs, 1);
  EXPECT_TRUE(KeReadStateTimer(&timer));
  EXPECT_FALSE(KeSetTimer(&timer, due, &dpc));
  wdm::AdvanceTime(300);
  EXPECT_TRUE(KeSetTimer(&timer, due, &dpc)) << "was still armed";
  wdm::AdvanceTime(300);
  EXPECT_EQ(dpc_runs, 1) << "the second set moved the due time";
  EXPECT_TRUE(KeCancelTimer(&timer));
  wdm::AdvanceTime(1000);
  EXPECT_EQ(dpc_runs, 1);
  EXPECT_FALSE(KeCancelTimer(&timer));
}

}  // namespace
