// Plug and Play and power: one row per case with the state before, what the lower driver
// answers, the state after, whether the pending reads were flushed and whether a completion
// routine ran at the lower driver's stack location.
#include "driver_fixture.h"

namespace korvex_test {
namespace {

enum class Before { Added, Started, Stopped, StartFailed };

struct PnpCase {
  const char* name;
  Before before;
  UCHAR minor;
  bool lower_later;        // the lower driver completes on a worker thread
  ULONG state_after;
  bool started_after;
  int reads_flushed;       // reads completed with STATUS_NO_SUCH_DEVICE by this request
  bool completion_routine; // invoke flags set on the lower driver's location
  NTSTATUS status;
};

const PnpCase kPnp[] = {
    {"Start", Before::Added, IRP_MN_START_DEVICE, false, StateStarted, true, 0, true, STATUS_SUCCESS},
    {"StartLater", Before::Added, IRP_MN_START_DEVICE, true, StateStarted, true, 0, true, STATUS_SUCCESS},
    {"StopStarted", Before::Started, IRP_MN_STOP_DEVICE, false, StateStopComplete, false, 2, true, STATUS_SUCCESS},
    {"StopStartedLater", Before::Started, IRP_MN_STOP_DEVICE, true, StateStopComplete, false, 2, true, STATUS_SUCCESS},
    {"RemoveStarted", Before::Started, IRP_MN_REMOVE_DEVICE, false, StateRemoved, false, 2, false, STATUS_SUCCESS},
    // the stop already flushed: no second flush
    {"RemoveStopped", Before::Stopped, IRP_MN_REMOVE_DEVICE, false, StateRemoved, false, 0, false, STATUS_SUCCESS},
    {"RemoveNeverStarted", Before::Added, IRP_MN_REMOVE_DEVICE, false, StateRemoved, false, 0, false, STATUS_SUCCESS},
    {"RemoveAfterFailedStart", Before::StartFailed, IRP_MN_REMOVE_DEVICE, false, StateRemoved, false, 0, false, STATUS_SUCCESS},
    // requests the driver does not handle go down with success and no routine
    {"QueryCapabilities", Before::Started, IRP_MN_QUERY_CAPABILITIES, false, StateStarted, true, 0, false, STATUS_SUCCESS},
    {"QueryStop", Before::Started, IRP_MN_QUERY_STOP_DEVICE, false, StateStarted, true, 0, false, STATUS_SUCCESS},
    // a surprise removal ends the reads the class driver waits for before it sends the removal
    {"SurpriseRemoval", Before::Started, IRP_MN_SURPRISE_REMOVAL, true, StateStopped, false, 2, false, STATUS_SUCCESS},
    {"SurpriseRemovalStopped", Before::Stopped, IRP_MN_SURPRISE_REMOVAL, false, StateStopComplete, false, 0, false, STATUS_SUCCESS},
    {"QueryId", Before::Started, IRP_MN_QUERY_ID, false, StateStarted, true, 0, true, STATUS_SUCCESS},
};

class PnpTest : public DriverTest, public ::testing::WithParamInterface<PnpCase> {};

TEST_P(PnpTest, FollowsTheTable) {
  const PnpCase& c = GetParam();
  ASSERT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_SUCCESS);
  ASSERT_EQ(cls_->AddDevice(), STATUS_SUCCESS);
  if (c.before == Before::Started || c.before == Before::Stopped) {
    ASSERT_EQ(cls_->StartDevice(), STATUS_SUCCESS);
  }
  if (c.before == Before::Stopped) {
    ASSERT_EQ(cls_->StopDevice(), STATUS_SUCCESS);
  }
  if (c.before == Before::StartFailed) {
    cls_->bus().start_status = STATUS_UNSUCCESSFUL;
    ASSERT_EQ(cls_->StartDevice(), STATUS_UNSUCCESSFUL);
  }
  cls_->bus().complete_later = c.lower_later;
  cls_->TakeInputs();
  const size_t log_before = cls_->BusLog().size();

  auto r = cls_->SendPnp(c.minor);
  ASSERT_EQ(r->completions(), 1);
  EXPECT_EQ(r->status(), c.status);
  EXPECT_TRUE(r->pending_returned()) << "the driver marks every Plug and Play request pending";
  if (c.minor == IRP_MN_QUERY_ID) ExFreePool(reinterpret_cast<PVOID>(r->information()));
  wdm::WaitForWork();

  const auto log = cls_->BusLog();
  ASSERT_EQ(log.size(), log_before + 1) << "the request went down exactly once";
  EXPECT_EQ(log.back().minor, c.minor);
  EXPECT_EQ(log.back().status_on_arrival, STATUS_SUCCESS);
  EXPECT_EQ((log.back().control & (SL_INVOKE_ON_SUCCESS | SL_INVOKE_ON_ERROR | SL_INVOKE_ON_CANCEL)) != 0,
            c.completion_routine);
  if (c.minor != IRP_MN_REMOVE_DEVICE) {
    EXPECT_EQ(Extension()->DeviceState, c.state_after);
  }
  EXPECT_EQ(static_cast<bool>(DeviceStarted), c.started_after);
  int flushed = 0;
  for (auto& e : cls_->TakeInputs()) flushed += e.status == STATUS_NO_SUCH_DEVICE ? 1 : 0;
  EXPECT_EQ(flushed, c.reads_flushed);
  if (c.minor == IRP_MN_REMOVE_DEVICE) {
    EXPECT_EQ(Reads(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Pnp, PnpTest, ::testing::ValuesIn(kPnp), [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, StartFailedByTheLowerDriverLeavesTheDeviceStopped) {
  ASSERT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_SUCCESS);
  ASSERT_EQ(cls_->AddDevice(), STATUS_SUCCESS);
  cls_->bus().start_status = STATUS_UNSUCCESSFUL;
  EXPECT_EQ(cls_->StartDevice(), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(Extension()->DeviceState, static_cast<ULONG>(StateStopped));
  EXPECT_FALSE(DeviceStarted);
  auto r = cls_->SendInternal(IOCTL_HID_READ_REPORT, 9);
  EXPECT_EQ(r->status(), STATUS_NO_SUCH_DEVICE);
}

// An unanswered identifier query gets "HIDMINI_Device" and two NULs, whatever type was asked;
// one the lower driver answers comes back untouched.
TEST_F(DriverTest, QueryIdAnswersOnlyWhatTheLowerDriverLeftOpen) {
  Boot();
  for (BUS_QUERY_ID_TYPE type : {BusQueryDeviceID, BusQueryHardwareIDs, BusQueryInstanceID}) {
    auto r = cls_->SendPnp(IRP_MN_QUERY_ID, type);
    ASSERT_EQ(r->status(), STATUS_SUCCESS);
    auto* id = reinterpret_cast<const char16_t*>(r->information());
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::u16string(id, 16), std::u16string(u"HIDMINI_Device\0\0", 16));
    ExFreePool(const_cast<char16_t*>(id));
  }
  cls_->bus().answer_query_id = true;
  auto r = cls_->SendPnp(IRP_MN_QUERY_ID, BusQueryHardwareIDs);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(r->information())), u"ROOT\\BUS_ID");
  ExFreePool(reinterpret_cast<PVOID>(r->information()));
}

TEST_F(DriverTest, QueryIdWithoutMemoryFails) {
  Boot();
  wdm::FailAllocationsFrom(wdm::GetPoolStats().allocations + 1);
  auto r = cls_->SendPnp(IRP_MN_QUERY_ID);
  EXPECT_EQ(r->status(), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(r->information(), 0u);
  wdm::FailAllocationsFrom(0);
}

// Power requests of every kind go down unchanged, with no routine, and change no state.
TEST_F(DriverTest, PowerRequestsPassThrough) {
  Boot();
  for (UCHAR minor : {IRP_MN_WAIT_WAKE, IRP_MN_POWER_SEQUENCE, IRP_MN_SET_POWER, IRP_MN_QUERY_POWER}) {
    auto r = cls_->SendPower(minor);
    EXPECT_EQ(r->completions(), 1);
    EXPECT_EQ(r->status(), STATUS_SUCCESS);
    const auto log = cls_->BusLog();
    EXPECT_EQ(log.back().minor, minor);
    EXPECT_EQ(log.back().status_on_arrival, STATUS_NOT_SUPPORTED) << "status untouched";
    EXPECT_EQ(log.back().control, 0);
    EXPECT_EQ(Extension()->DeviceState, static_cast<ULONG>(StateStarted));
  }
}

TEST_F(DriverTest, RegistrationFailureRemovesTheFilter) {
  cls_.reset();
  wdm::hid::ClassOptions o;
  o.register_status = STATUS_UNSUCCESSFUL;
  cls_ = std::make_unique<wdm::hid::ClassDriver>(o);
  EXPECT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(wdm::vxd::HookedFilters(), 0);
  EXPECT_EQ(PreviousFilter, nullptr);
}

TEST_F(DriverTest, UnloadRemovesTheFilterAndStopOrRemoveDoNot) {
  Boot();
  EXPECT_EQ(wdm::vxd::HookedFilters(), 1);
  cls_->StopDevice();
  EXPECT_EQ(wdm::vxd::HookedFilters(), 1);
  cls_->RemoveDevice();
  EXPECT_EQ(wdm::vxd::HookedFilters(), 1);
  // Key events captured with no device are freed at unload (checked by the fixture's pool count).
  Keys({0x5E, 0xDE});
  EXPECT_EQ(Events(), 2u);
  cls_->UnloadMinidriver();
  EXPECT_EQ(wdm::vxd::HookedFilters(), 0);
}

}  // namespace
}  // namespace korvex_test
