#include "kernel32/devices.h"

#include <span>

#include "machine/context.h"
#include "machine/dmi_device.h"
#include "machine/text.h"

namespace w9x::api {
namespace {

// The maker's DMI driver: answers the control codes of its SMBIOS interface from the dump that
// machine.ini names.
class DmiDriver : public Device {
 public:
  explicit DmiDriver(std::unique_ptr<DmiDevice> device) : device_(std::move(device)) {}

  std::string Name() const override { return kName; }

  bool Control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD& returned) override {
    returned = 0;
    if ((!in && in_size) || (!out && out_size)) return false;
    std::span<const std::uint8_t> input(static_cast<const std::uint8_t*>(in), in ? in_size : 0);
    std::span<std::uint8_t> output(static_cast<std::uint8_t*>(out), out ? out_size : 0);
    std::optional<std::uint32_t> count = device_->Control(code, input, output);
    if (!count) return false;
    returned = *count;
    return true;
  }

  static constexpr const char* kName = "vkvodmid.vxd";

 private:
  std::unique_ptr<DmiDevice> device_;
};

}  // namespace

std::unique_ptr<Device> OpenDevice(const std::string& name) {
  if (!text::EqualNoCase(name, DmiDriver::kName)) return nullptr;
  std::unique_ptr<DmiDevice> device = CurrentMachine().OpenDmiDevice();
  if (!device) return nullptr;
  return std::make_unique<DmiDriver>(std::move(device));
}

}  // namespace w9x::api
