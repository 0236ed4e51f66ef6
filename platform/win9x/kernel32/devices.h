// Devices that CreateFileA opens by a "\\.\NAME" path.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "machine/process.h"

namespace w9x::api {

class Device : public KernelObject {
 public:
  virtual std::string Name() const = 0;
  // Answers one control code; `returned` is the count of bytes written to `out`.
  virtual bool Control(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD& returned) = 0;
};

// The device of that name on the current machine, or nullptr when the machine has none.
std::unique_ptr<Device> OpenDevice(const std::string& name);

}  // namespace w9x::api
