// The class driver's report-descriptor parser and the VxD module loader.
#include <gtest/gtest.h>
#include <report_descriptor.h>
#include <vxd_host.h>
#include <wdm_host.h>

#include <cstring>

namespace {

using wdm::hid::ReportKind;

TEST(ReportDescriptorTest, MouseWithoutReportIds) {
  const uint8_t mouse[] = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00,
                           0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01,
                           0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02,
                           0x81, 0x06, 0xC0};
  auto d = wdm::hid::ParseReportDescriptor(mouse, sizeof mouse);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.usage_page, 1);
  EXPECT_EQ(d.usage, 2);
  EXPECT_FALSE(d.uses_report_ids);
  EXPECT_EQ(d.MaxReportLength(ReportKind::Input), 3u);
  EXPECT_EQ(d.Describe({0x05, 0, 0}), "key 0x01 down, key 0x03 down");
}

struct BadCase {
  const char* name;
  std::vector<uint8_t> bytes;
};

const BadCase kBad[] = {
    {"ItemPastEnd", {0x05}},
    {"UnclosedCollection", {0xA1, 0x01}},
    {"EndWithoutCollection", {0xC0}},
    {"ReportIdZero", {0x85, 0x00}},
    {"LongItem", {0xFE, 0x00, 0x00}},
    {"PopWithoutPush", {0xB4}},
};

class BadDescriptor : public ::testing::TestWithParam<BadCase> {};
TEST_P(BadDescriptor, IsRefusedWithAReason) {
  auto d = wdm::hid::ParseReportDescriptor(GetParam().bytes.data(), GetParam().bytes.size());
  EXPECT_FALSE(d.ok);
  EXPECT_FALSE(d.error.empty());
}
INSTANTIATE_TEST_SUITE_P(Bad, BadDescriptor, ::testing::ValuesIn(kBad), [](const auto& i) { return std::string(i.param.name); });

TEST(ModuleLoaderTest, ReportsTheFirstMissingImportByName) {
  wdm::KernelSession session;
  wdm::vxd::SetModules({{"main.sys", {"dep.sys"}, {"Entry"}}, {"dep.sys", {}, {}}});
  void* handle = nullptr;
  char buffer[260] = "";
  EXPECT_EQ(wdm::vxd::LoadModule(&handle, "MAIN.SYS", buffer), -12);
  EXPECT_STREQ(buffer, "dep.sys");
  EXPECT_EQ(wdm::vxd::LoadModule(&handle, "dep.sys", buffer), 0);
  EXPECT_EQ(wdm::vxd::LoadModule(&handle, "main.sys", buffer), 0);
  EXPECT_NE(wdm::vxd::GetProcAddress(handle, "Entry"), nullptr);
  EXPECT_EQ(wdm::vxd::GetProcAddress(handle, "Other"), nullptr);
  EXPECT_EQ(wdm::vxd::LoadModule(&handle, "none.sys", buffer), -2);
}

unsigned long Upper(unsigned long ecx);
void* upper_previous = nullptr;
unsigned long Upper(unsigned long ecx) { return reinterpret_cast<unsigned long (*)(unsigned long)>(upper_previous)(ecx); }

TEST(FilterChainTest, HookedHandlerSeesCodesFirstAndUnhookRestoresTheChain) {
  wdm::KernelSession session;
  ASSERT_TRUE(wdm::vxd::HookDeviceService(wdm::vxd::kVkdFilterKeyboardInput, Upper, &upper_previous));
  EXPECT_FALSE(wdm::vxd::HookDeviceService(0x00010001, Upper, &upper_previous)) << "not a hookable service";
  wdm::vxd::KeyboardInput(0x1E);
  EXPECT_EQ(wdm::vxd::TakePassedOn(), std::vector<uint8_t>{0x1E});
  EXPECT_TRUE(wdm::vxd::UnhookDeviceService(wdm::vxd::kVkdFilterKeyboardInput, Upper));
  EXPECT_EQ(wdm::vxd::HookedFilters(), 0);
  wdm::vxd::SetHookFailure(true);
  EXPECT_FALSE(wdm::vxd::HookDeviceService(wdm::vxd::kVkdFilterKeyboardInput, Upper, &upper_previous));
}

}  // namespace
