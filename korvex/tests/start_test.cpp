// Loading, registration and the start sequence as the class driver sees it.
#include "driver_fixture.h"

namespace korvex_test {
namespace {

using StartTest = DriverTest;

TEST_F(StartTest, RegistersAndStartsWithTheDevicesDescriptors) {
  Boot();
  const auto& reg = cls_->registration();
  EXPECT_EQ(reg.Revision, 0u);
  EXPECT_EQ(reg.DeviceExtensionSize, sizeof(BUTTON_DEVICE_EXTENSION));
  EXPECT_FALSE(reg.DevicesArePolled);
  EXPECT_EQ(Hex(cls_->hid_descriptor()), "092100010001224100");
  EXPECT_EQ(cls_->report_descriptor().size(), 65u);
  // The class driver's own parser: a keyboard collection, 9-byte input and 2-byte output reports.
  const auto& d = cls_->descriptor();
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.usage_page, 1);
  EXPECT_EQ(d.usage, 6);
  EXPECT_EQ(d.MaxReportLength(wdm::hid::ReportKind::Input), 9u);
  EXPECT_EQ(d.MaxReportLength(wdm::hid::ReportKind::Output), 2u);
  EXPECT_EQ(d.MaxReportLength(wdm::hid::ReportKind::Feature), 0u);
  // Size 32, vendor 4B56, product 003D, version 0101.
  EXPECT_EQ(Hex(cls_->attributes()), "20000000564B3D000101" + std::string(44, 'C'));
  EXPECT_EQ(cls_->strings().size(), 126u);
  EXPECT_EQ(Extension()->DeviceState, static_cast<ULONG>(StateStarted));
  EXPECT_TRUE(DeviceStarted);
  EXPECT_EQ(cls_->PendingReads(), 2);
  EXPECT_EQ(Reads(), 2u);
}

TEST_F(StartTest, ButtonPressAndReleaseReachTheClassDriver) {
  Boot();
  Keys({0x5E, 0xDE});
  EXPECT_EQ(Reports(), (std::vector<std::string>{"010000810000000000", "010000000000000000"}));
  EXPECT_EQ(wdm::vxd::TakePassedOn(), (std::vector<uint8_t>{0x5E, 0xDE}));
}

}  // namespace
}  // namespace korvex_test
