// The HID requests: one row per request code and buffer size, with the status, the length and
// the bytes written; nothing may be written past the length the request gives.
#include "driver_fixture.h"

namespace korvex_test {
namespace {

constexpr long kMissing = -1;

struct RequestCase {
  const char* name;
  ULONG code;
  long buffer;           // kMissing: no buffer at all
  NTSTATUS status;       // the request's status (STATUS_PENDING: still queued)
  ULONG_PTR information;
  const char* bytes;     // hex of the first `information` bytes ("" when nothing is checked)
};

const char kHid[] = "092100010001224100";
const char kAttributes[] = "20000000564B3D000101";

const RequestCase kRequests[] = {
    {"DeviceDescriptorMissing", IOCTL_HID_GET_DEVICE_DESCRIPTOR, kMissing, STATUS_INVALID_USER_BUFFER, 0, ""},
    {"DeviceDescriptorEmpty", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 0, STATUS_SUCCESS, 0, ""},
    // a short buffer gets the descriptor truncated, and success
    {"DeviceDescriptorShort", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 4, STATUS_SUCCESS, 4, "09210001"},
    {"DeviceDescriptorExact", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 9, STATUS_SUCCESS, 9, kHid},
    {"DeviceDescriptorLarge", IOCTL_HID_GET_DEVICE_DESCRIPTOR, 100, STATUS_SUCCESS, 9, kHid},
    {"ReportDescriptorMissing", IOCTL_HID_GET_REPORT_DESCRIPTOR, kMissing, STATUS_INVALID_USER_BUFFER, 0, ""},
    {"ReportDescriptorEmpty", IOCTL_HID_GET_REPORT_DESCRIPTOR, 0, STATUS_SUCCESS, 0, ""},
    {"ReportDescriptorShort", IOCTL_HID_GET_REPORT_DESCRIPTOR, 6, STATUS_SUCCESS, 6, "05010906A101"},
    {"ReportDescriptorExact", IOCTL_HID_GET_REPORT_DESCRIPTOR, 65, STATUS_SUCCESS, 65, ""},
    // a large buffer gets exactly 65 bytes
    {"ReportDescriptorLarge", IOCTL_HID_GET_REPORT_DESCRIPTOR, 4096, STATUS_SUCCESS, 65, ""},
    {"StringMissing", IOCTL_HID_GET_STRING, kMissing, STATUS_INVALID_USER_BUFFER, 0, ""},
    {"StringEmpty", IOCTL_HID_GET_STRING, 0, STATUS_INVALID_USER_BUFFER, 0, ""},
    {"StringShort", IOCTL_HID_GET_STRING, 50, STATUS_SUCCESS, 50, "040309002C034D00"},
    {"StringExact", IOCTL_HID_GET_STRING, 126, STATUS_SUCCESS, 126, ""},
    {"StringLarge", IOCTL_HID_GET_STRING, 200, STATUS_SUCCESS, 126, ""},
    // attributes need the whole record; nothing is written into a shorter one
    {"AttributesMissing", IOCTL_HID_GET_DEVICE_ATTRIBUTES, kMissing, STATUS_INVALID_USER_BUFFER, 0, ""},
    {"AttributesEmpty", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 0, STATUS_BUFFER_TOO_SMALL, 0, ""},
    {"AttributesShort", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 16, STATUS_BUFFER_TOO_SMALL, 0, ""},
    {"AttributesExact", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32, STATUS_SUCCESS, 32, kAttributes},
    {"AttributesLarge", IOCTL_HID_GET_DEVICE_ATTRIBUTES, 64, STATUS_SUCCESS, 32, kAttributes},
    {"Activate", IOCTL_HID_ACTIVATE_DEVICE, 8, STATUS_SUCCESS, 0, ""},
    {"Deactivate", IOCTL_HID_DEACTIVATE_DEVICE, kMissing, STATUS_SUCCESS, 0, ""},
    {"ReadMissing", IOCTL_HID_READ_REPORT, kMissing, STATUS_INVALID_PARAMETER, 0, ""},
    {"ReadEmpty", IOCTL_HID_READ_REPORT, 0, STATUS_INVALID_PARAMETER, 0, ""},
    // a read that cannot hold the 9-byte report is refused when it arrives
    {"ReadShort", IOCTL_HID_READ_REPORT, 8, STATUS_BUFFER_TOO_SMALL, 0, ""},
    {"ReadExact", IOCTL_HID_READ_REPORT, 9, STATUS_PENDING, 0, ""},
    {"ReadLarge", IOCTL_HID_READ_REPORT, 64, STATUS_PENDING, 0, ""},
    {"Write", IOCTL_HID_WRITE_REPORT, 24, STATUS_PENDING, 0, ""},
    {"GetFeature", IOCTL_HID_GET_FEATURE, 16, STATUS_NOT_SUPPORTED, 0, ""},
    {"SetFeature", IOCTL_HID_SET_FEATURE, 16, STATUS_NOT_SUPPORTED, 0, ""},
    {"PhysicalDescriptor", 0x000B0027 + 4, 16, STATUS_NOT_SUPPORTED, 0, ""},
    {"CodeZero", 0, kMissing, STATUS_NOT_SUPPORTED, 0, ""},
};

class HidRequestTest : public DriverTest, public ::testing::WithParamInterface<RequestCase> {
 protected:
  HidRequestTest() : DriverTest(wdm::ClockMode::Manual, NoReads()) {}
  static wdm::hid::ClassOptions NoReads() {
    wdm::hid::ClassOptions o;
    o.pending_reads = 0;
    return o;
  }
};

TEST_P(HidRequestTest, AnswersWithStatusLengthAndBytes) {
  const RequestCase& c = GetParam();
  Boot();
  auto r = cls_->SendInternal(c.code, c.buffer);
  const NTSTATUS dispatched = r->done() ? STATUS_SUCCESS : STATUS_PENDING;
  if (c.status == STATUS_PENDING) {
    EXPECT_FALSE(r->done());
    EXPECT_TRUE(r->irp()->Tail.Overlay.CurrentStackLocation->Control & SL_PENDING_RETURNED);
    // Finish it: a read by cancelling, a write by its timer.
    if (c.code == IOCTL_HID_READ_REPORT) IoCancelIrp(r->irp());
    else wdm::AdvanceTime(500);
    wdm::WaitForWork();
    EXPECT_EQ(r->completions(), 1);
    return;
  }
  EXPECT_EQ(dispatched, STATUS_SUCCESS);
  ASSERT_EQ(r->completions(), 1);
  EXPECT_EQ(r->status(), c.status);
  EXPECT_EQ(r->information(), c.information);
  if (c.buffer >= 0) {
    std::vector<uint8_t> written(r->buffer().begin(), r->buffer().begin() + static_cast<long>(c.information));
    if (*c.bytes) {
      EXPECT_EQ(Hex(written).substr(0, std::string(c.bytes).size()), c.bytes);
    }
    for (size_t i = c.information; i < r->buffer().size(); ++i)
      ASSERT_EQ(r->buffer()[i], 0xCC) << "byte " << i << " written beyond the answer";
  }
}

INSTANTIATE_TEST_SUITE_P(Requests, HidRequestTest, ::testing::ValuesIn(kRequests),
                         [](const auto& info) { return std::string(info.param.name); });

// Every request whose queue needs a started device is refused while none is, and completed at
// once although the dispatcher itself returns success.
TEST_F(DriverTest, ReadsAndWritesBeforeStartAreRefused) {
  ASSERT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_SUCCESS);
  ASSERT_EQ(cls_->AddDevice(), STATUS_SUCCESS);
  for (ULONG code : {IOCTL_HID_READ_REPORT, IOCTL_HID_WRITE_REPORT}) {
    auto r = std::make_unique<wdm::IoRequest>(cls_->fdo()->StackSize);
    r->SetInternalIoctl(code, 9);
    EXPECT_EQ(r->Send(cls_->fdo()), STATUS_SUCCESS);
    EXPECT_EQ(r->completions(), 1);
    EXPECT_EQ(r->status(), STATUS_NO_SUCH_DEVICE);
  }
}

TEST_F(DriverTest, StringBlockHoldsFourDescriptors) {
  Boot();
  auto r = cls_->SendInternal(IOCTL_HID_GET_STRING, 126, reinterpret_cast<PVOID>(0x04110003));
  const auto& b = r->buffer();
  std::vector<std::string> texts;
  for (size_t at = 4; at < 126; at += b[at]) {
    ASSERT_EQ(b[at + 1], 3);
    std::string t;
    for (size_t i = at + 2; i < at + b[at]; i += 2) t += static_cast<char>(b[i]);
    texts.push_back(t);
  }
  EXPECT_EQ(Hex({b[0], b[1], b[2], b[3]}), "04030900");
  EXPECT_EQ(texts, (std::vector<std::string>{"Microsoft Corporation", "System Control Buttons", "Legacy Keyboard"}));
}

}  // namespace
}  // namespace korvex_test
