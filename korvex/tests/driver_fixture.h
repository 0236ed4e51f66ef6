// A simulated kernel with the HID class driver and KORVEX loaded in it. Every test ends with
// the device removed and the driver unloaded, and checks that every request sent was completed
// exactly once (the kernel aborts on a second completion) and that no pool block is left.
#pragma once

#include <gtest/gtest.h>
#include <hid_class_host.h>
#include <vxd_host.h>
#include <wdm_host.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "button_input.h"
#include "frame.h"
#include "hid_interface.h"

namespace korvex_test {

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

class DriverTest : public ::testing::Test {
 protected:
  explicit DriverTest(wdm::ClockMode clock = wdm::ClockMode::Manual, wdm::hid::ClassOptions options = {})
      : session_(wdm::KernelOptions{clock, 2}), options_(options) {}

  void SetUp() override { cls_ = std::make_unique<wdm::hid::ClassDriver>(options_); }

  void TearDown() override {
    if (cls_->fdo() != nullptr) cls_->RemoveDevice();
    cls_->UnloadMinidriver();
    wdm::WaitIdle();
    cls_.reset();
    const wdm::IoStats io = wdm::GetIoStats();
    EXPECT_EQ(io.in_driver, 0u) << "requests still held by a driver";
    EXPECT_EQ(io.sent, io.completed) << "every request sent is completed exactly once";
    const wdm::PoolStats pool = wdm::GetPoolStats();
    EXPECT_EQ(pool.live_blocks, 0u) << "pool blocks left after unload";
  }

  // Loads, adds and starts the device.
  void Boot() {
    ASSERT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_SUCCESS);
    ASSERT_EQ(cls_->AddDevice(), STATUS_SUCCESS);
    ASSERT_EQ(cls_->StartDevice(), STATUS_SUCCESS);
  }

  PBUTTON_DEVICE_EXTENSION Extension() { return GetButtonExtension(cls_->fdo()); }

  // Scan codes through the keyboard driver's filter chain.
  void Keys(std::initializer_list<uint8_t> codes) {
    for (uint8_t c : codes) wdm::vxd::KeyboardInput(c);
  }

  // The input reports the class driver received since the last call, as hex.
  std::vector<std::string> Reports() {
    std::vector<std::string> out;
    for (auto& e : cls_->TakeInputs()) out.push_back(NT_SUCCESS(e.status) ? Hex(e.report) : "error");
    return out;
  }

  size_t QueueLength(PLIST_ENTRY head, PKSPIN_LOCK lock) {
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    size_t n = 0;
    for (PLIST_ENTRY e = head->Flink; e != head; e = e->Flink) ++n;
    KeReleaseSpinLock(lock, irql);
    return n;
  }
  size_t Reads() { return QueueLength(&ReadQueue, &ReadQueueLock); }
  size_t Events() { return QueueLength(&ReportQueue, &ReportQueueLock); }
  size_t WritesQueued() { return QueueLength(&WriteQueue, &WriteQueueLock); }

  wdm::KernelSession session_;
  wdm::hid::ClassOptions options_;
  std::unique_ptr<wdm::hid::ClassDriver> cls_;
};

}  // namespace korvex_test
