// The HID class driver of the simulated kernel (host only): it takes a minidriver's
// registration, creates the functional device object over a lower bus driver's physical device
// object, starts the device (Plug and Play start, then device descriptor, report descriptor,
// attributes and strings, parsed by our report-descriptor parser), keeps reads pending and
// sends output reports.
#pragma once

#include <wdm_host.h>

#include <hidport.h>

#include <memory>
#include <string>
#include <vector>

#include "report_descriptor.h"

namespace wdm::hid {

// What the lower bus driver does with the Plug and Play requests that reach it.
struct BusOptions {
  NTSTATUS start_status = STATUS_SUCCESS;
  bool answer_query_id = false;  // answers identifier queries itself (with "ROOT\BUS_ID")
  bool complete_later = false;   // completes on a worker thread, returning STATUS_PENDING
};

struct ClassOptions {
  int pending_reads = 2;  // reads the class driver keeps at the minidriver
  bool resend_cancelled = false;  // a cancelled read is sent again (as a restarted reader would)
  NTSTATUS register_status = STATUS_SUCCESS;  // what HidRegisterMinidriver answers
  BusOptions bus;
};

// A completed read, as the class driver saw it.
struct InputEvent {
  std::vector<uint8_t> report;
  NTSTATUS status;
  int64_t time;  // kernel clock, 100-ns units
  int generation;       // how many starts had been sent when it completed
  int sent_generation;  // ... and when the read was sent: a read can cross a stop and a start
};

// One Plug and Play request as the bus driver received it.
struct BusRecord {
  UCHAR minor;
  NTSTATUS status_on_arrival;
  UCHAR control;  // the bus driver's stack location's control flags
};

class ClassDriver {
 public:
  explicit ClassDriver(ClassOptions options = {});
  ~ClassDriver();
  ClassDriver(const ClassDriver&) = delete;
  ClassDriver& operator=(const ClassDriver&) = delete;

  // Calls the minidriver's entry, which registers through HidRegisterMinidriver.
  NTSTATUS LoadMinidriver(PDRIVER_INITIALIZE entry);
  // Creates the device objects and calls the minidriver's AddDevice.
  NTSTATUS AddDevice();
  // Plug and Play start; on success the start sequence and the pending reads.
  NTSTATUS StartDevice();
  NTSTATUS StopDevice();
  // Plug and Play removal, then the device objects are deleted.
  NTSTATUS RemoveDevice();
  // The minidriver's unload routine.
  void UnloadMinidriver();

  // Raw requests to the functional device object, for tests.
  std::unique_ptr<IoRequest> SendInternal(ULONG code, long buffer_size, PVOID input = nullptr);
  std::unique_ptr<IoRequest> SendPnp(UCHAR minor, BUS_QUERY_ID_TYPE id_type = BusQueryDeviceID);
  std::unique_ptr<IoRequest> SendPower(UCHAR minor);

  // An output report (report ID 1 and its data byte) sent to the minidriver; stays pending.
  IoRequest& WriteOutput(uint8_t leds);
  std::vector<IoRequest*> Writes();
  // Cancels the oldest read still pending; false when none is.
  bool CancelOneRead();
  // Reads pending at the minidriver now.
  int PendingReads() const;
  std::vector<InputEvent> TakeInputs();

  PDEVICE_OBJECT fdo() const { return fdo_; }
  PDEVICE_OBJECT pdo() const { return pdo_; }
  const HID_MINIDRIVER_REGISTRATION& registration() const { return registration_; }
  bool registered() const { return registered_; }
  const ReportDescriptor& descriptor() const { return descriptor_; }
  const std::vector<uint8_t>& hid_descriptor() const { return hid_descriptor_; }
  const std::vector<uint8_t>& report_descriptor() const { return report_descriptor_; }
  const std::vector<uint8_t>& attributes() const { return attributes_; }
  const std::vector<uint8_t>& strings() const { return strings_; }
  std::vector<BusRecord> BusLog() const;
  BusOptions& bus() { return options_.bus; }

  // Used by HidRegisterMinidriver.
  static ClassDriver* Current();
  NTSTATUS Register(PHID_MINIDRIVER_REGISTRATION registration);

 private:
  struct Read;
  NTSTATUS RunStartSequence();
  void PostRead(Read& read);
  void OnReadDone(Read& read);
  void DeleteDevice();
  void WaitForReads();

  ClassOptions options_;
  DRIVER_OBJECT driver_{};
  DRIVER_EXTENSION driver_extension_{};
  DRIVER_OBJECT bus_driver_{};
  PDEVICE_OBJECT fdo_ = nullptr;
  PDEVICE_OBJECT pdo_ = nullptr;
  UNICODE_STRING registry_path_{};
  HID_MINIDRIVER_REGISTRATION registration_{};
  bool registered_ = false;
  bool loaded_ = false;
  ReportDescriptor descriptor_;
  std::vector<uint8_t> hid_descriptor_, report_descriptor_, attributes_, strings_;
  std::vector<std::unique_ptr<Read>> reads_;
  std::vector<std::unique_ptr<IoRequest>> writes_;
  mutable std::mutex mutex_;
  std::vector<InputEvent> inputs_;
  std::vector<BusRecord> bus_log_;
  std::atomic<bool> reading_{false};
  std::atomic<int> generation_{0};
  friend NTSTATUS BusDispatch(PDEVICE_OBJECT, PIRP);
};

}  // namespace wdm::hid
