// The driver's dispatch routines driven by random request sequences: Plug and Play in any
// order, every request code with any buffer size or none, scan codes, cancels, timer ticks and
// allocation failures. Every input must end with no crash, no request completed twice (the
// kernel aborts), every request completed and no pool block left after unload.
#include <hid_class_host.h>
#include <vxd_host.h>
#include <wdm_host.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "frame.h"

namespace {

const ULONG kCodes[] = {IOCTL_HID_GET_DEVICE_DESCRIPTOR, IOCTL_HID_GET_REPORT_DESCRIPTOR, IOCTL_HID_READ_REPORT,
                        IOCTL_HID_WRITE_REPORT,          IOCTL_HID_GET_STRING,            IOCTL_HID_ACTIVATE_DEVICE,
                        IOCTL_HID_DEACTIVATE_DEVICE,     IOCTL_HID_GET_DEVICE_ATTRIBUTES, IOCTL_HID_GET_FEATURE};

const UCHAR kMinors[] = {IRP_MN_START_DEVICE, IRP_MN_STOP_DEVICE, IRP_MN_QUERY_ID, IRP_MN_QUERY_CAPABILITIES,
                         IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE, IRP_MN_SURPRISE_REMOVAL};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "korvex_dispatch_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    wdm::KernelSession session(wdm::KernelOptions{wdm::ClockMode::Manual, 1});
    {
      wdm::hid::ClassDriver cls;
      std::vector<std::unique_ptr<wdm::IoRequest>> requests;
      size_t i = 0;
      auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
      if (size > 0 && data[0] == 0xFF) wdm::vxd::SetHookFailure(true);
      if (NT_SUCCESS(cls.LoadMinidriver(DriverEntry))) {
        cls.AddDevice();
        while (i < size) {
          const uint8_t op = next();
          switch (op % 12) {
            case 0: if (cls.fdo() == nullptr) cls.AddDevice(); else cls.StartDevice(); break;
            case 1: if (cls.fdo()) cls.StopDevice(); break;
            case 2: if (cls.fdo()) cls.RemoveDevice(); break;
            case 3: wdm::vxd::KeyboardInput(next()); break;
            case 4:
            case 7: {
              if (!cls.fdo()) break;
              const ULONG code = op % 12 == 4 ? IOCTL_HID_READ_REPORT
                                 : (next() & 0x80) ? 0x000B0000u | next() : kCodes[next() % 9];
              const uint8_t b = next();
              const long buffer = b == 0xFF ? -1 : b % 0x90;
              auto r = std::make_unique<wdm::IoRequest>(cls.fdo()->StackSize);
              r->SetInternalIoctl(code, buffer, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(next())));
              r->Send(cls.fdo());
              requests.push_back(std::move(r));
              break;
            }
            case 5: if (cls.fdo()) cls.WriteOutput(next()); break;
            case 6:
              if (next() & 1) cls.CancelOneRead();
              else if (!requests.empty()) IoCancelIrp(requests[next() % requests.size()]->irp());
              break;
            case 8: wdm::AdvanceTime(100 * (next() % 16)); break;
            case 9: {
              if (!cls.fdo()) break;
              const UCHAR minor = kMinors[next() % 7];
              cls.bus().complete_later = next() & 1;
              cls.bus().answer_query_id = next() & 1;
              cls.bus().start_status = (next() & 3) == 0 ? STATUS_UNSUCCESSFUL : STATUS_SUCCESS;
              auto r = cls.SendPnp(minor);
              if (minor == IRP_MN_QUERY_ID && NT_SUCCESS(r->status()) && r->information() != 0)
                ExFreePool(reinterpret_cast<PVOID>(r->information()));
              wdm::WaitForWork();
              break;
            }
            case 10: if (cls.fdo()) cls.SendPower(next() % 4); break;
            case 11: {
              const uint8_t n = next();
              wdm::FailAllocationsFrom(n == 0 ? 0 : wdm::GetPoolStats().allocations + n % 8 + 1);
              break;
            }
          }
          wdm::WaitForWork();
        }
        wdm::FailAllocationsFrom(0);
        if (cls.fdo()) cls.RemoveDevice();
        wdm::AdvanceTime(5000);
        wdm::WaitForWork();
        for (auto& r : requests) Check(r->completions() == 1, "a request was never completed");
        cls.UnloadMinidriver();
      }
      wdm::WaitForWork();
    }
    const wdm::IoStats io = wdm::GetIoStats();
    Check(io.in_driver == 0 && io.sent == io.completed, "a request was not completed exactly once");
    Check(wdm::GetPoolStats().live_blocks == 0, "pool blocks left after unload");
  }
  return 0;
}
