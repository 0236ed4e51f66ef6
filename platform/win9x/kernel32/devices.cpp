#include "kernel32/devices.h"

namespace w9x::api {

std::unique_ptr<Device> OpenDevice(const std::string&) { return nullptr; }

}  // namespace w9x::api
