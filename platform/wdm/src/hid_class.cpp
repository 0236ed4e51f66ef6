// The HID class driver of the simulated kernel, with the lower bus driver under it.
//
// The class driver owns the functional device object: a DEVICE_OBJECT whose extension is a
// HID_DEVICE_EXTENSION followed by the minidriver's zero-filled record. Plug and Play requests
// go to the minidriver's dispatch routine (which passes them down to the bus driver's physical
// device object); after a successful start the class driver asks for the device descriptor, the
// report descriptor (parsed here), the attributes and the strings, then keeps its reads pending
// at the minidriver: each completed read is recorded and sent again while the device runs.
#include <hid_class_host.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "internal.h"

namespace wdm::hid {
namespace {

std::atomic<ClassDriver*> current{nullptr};
const char16_t kRegistryPath[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KORVEX";
const char16_t kBusId[] = u"ROOT\\BUS_ID\0";
constexpr ULONG kBusTag = 0x20737542;  // "Bus "

struct DeferredCompletion {
  WORK_QUEUE_ITEM item;
  PIRP irp;
  NTSTATUS status;
};

void CompleteLater(PVOID parameter) {
  auto* deferred = static_cast<DeferredCompletion*>(parameter);
  deferred->irp->IoStatus.Status = deferred->status;
  IoCompleteRequest(deferred->irp, IO_NO_INCREMENT);
  delete deferred;
}

}  // namespace

// The bus driver: completes what reaches it, as configured.
NTSTATUS BusDispatch(PDEVICE_OBJECT pdo, PIRP irp) {
  auto* owner = static_cast<ClassDriver*>(pdo->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  {
    std::lock_guard lock(owner->mutex_);
    owner->bus_log_.push_back({stack->MinorFunction, irp->IoStatus.Status, stack->Control});
  }
  NTSTATUS status = irp->IoStatus.Status;
  const BusOptions& bus = owner->options_.bus;
  if (stack->MajorFunction == IRP_MJ_POWER) {
    status = STATUS_SUCCESS;
  } else if (stack->MinorFunction == IRP_MN_START_DEVICE) {
    status = bus.start_status;
  } else if (stack->MinorFunction == IRP_MN_QUERY_ID && bus.answer_query_id) {
    void* answer = ExAllocatePoolWithTag(NonPagedPool, sizeof(kBusId), kBusTag);
    if (answer != nullptr) {
      std::memcpy(answer, kBusId, sizeof(kBusId));
      irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(answer);
      status = STATUS_SUCCESS;
    } else {
      status = STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  if (bus.complete_later) {
    IoMarkIrpPending(irp);
    auto* deferred = new DeferredCompletion{{}, irp, status};
    ExInitializeWorkItem(&deferred->item, CompleteLater, deferred);
    ExQueueWorkItem(&deferred->item, DelayedWorkQueue);
    return STATUS_PENDING;
  }
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

struct ClassDriver::Read {
  std::unique_ptr<IoRequest> request;
  std::atomic<bool> outstanding{false};
  int generation = 0;  // the start that sent it
};

ClassDriver::ClassDriver(ClassOptions options) : options_(options) {
  driver_.Type = 4;
  driver_.DriverExtension = &driver_extension_;
  driver_extension_.DriverObject = &driver_;
  bus_driver_.Type = 4;
  bus_driver_.MajorFunction[IRP_MJ_PNP] = BusDispatch;
  bus_driver_.MajorFunction[IRP_MJ_POWER] = BusDispatch;
  pdo_ = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT)));
  pdo_->Type = 3;
  pdo_->DriverObject = &bus_driver_;
  pdo_->StackSize = 1;
  pdo_->DeviceExtension = this;
  registry_path_.Buffer = const_cast<PWSTR>(kRegistryPath);
  registry_path_.Length = static_cast<USHORT>(sizeof(kRegistryPath) - sizeof(char16_t));
  registry_path_.MaximumLength = sizeof(kRegistryPath);
  current = this;
}

ClassDriver::~ClassDriver() {
  if (fdo_ != nullptr) RemoveDevice();
  if (loaded_) UnloadMinidriver();
  WaitIdle();
  std::free(pdo_);
  current = nullptr;
}

ClassDriver* ClassDriver::Current() { return current.load(); }

NTSTATUS ClassDriver::Register(PHID_MINIDRIVER_REGISTRATION registration) {
  if (registration == nullptr || registration->DriverObject != &driver_) return STATUS_INVALID_PARAMETER;
  if (registration->Revision > 1) return STATUS_UNSUCCESSFUL;  // newer than this class driver
  registration_ = *registration;
  if (!NT_SUCCESS(options_.register_status)) return options_.register_status;
  registered_ = true;
  return STATUS_SUCCESS;
}

NTSTATUS ClassDriver::LoadMinidriver(PDRIVER_INITIALIZE entry) {
  NTSTATUS status = entry(&driver_, &registry_path_);
  loaded_ = NT_SUCCESS(status);
  return status;
}

void ClassDriver::UnloadMinidriver() {
  if (!loaded_) return;
  loaded_ = false;
  if (driver_.DriverUnload != nullptr) driver_.DriverUnload(&driver_);
}

NTSTATUS ClassDriver::AddDevice() {
  if (!registered_ || driver_extension_.AddDevice == nullptr || fdo_ != nullptr) return STATUS_NO_SUCH_DEVICE;
  auto* extension = static_cast<PHID_DEVICE_EXTENSION>(
      std::calloc(1, sizeof(HID_DEVICE_EXTENSION) + registration_.DeviceExtensionSize));
  extension->PhysicalDeviceObject = pdo_;
  extension->NextDeviceObject = pdo_;
  extension->MiniDeviceExtension = extension + 1;
  fdo_ = static_cast<PDEVICE_OBJECT>(std::calloc(1, sizeof(DEVICE_OBJECT)));
  fdo_->Type = 3;
  fdo_->DriverObject = &driver_;
  fdo_->DeviceExtension = extension;
  fdo_->StackSize = static_cast<CCHAR>(pdo_->StackSize + 1);
  NTSTATUS status = driver_extension_.AddDevice(&driver_, fdo_);
  if (!NT_SUCCESS(status)) DeleteDevice();
  return status;
}

void ClassDriver::DeleteDevice() {
  if (fdo_ == nullptr) return;
  std::free(fdo_->DeviceExtension);
  std::free(fdo_);
  fdo_ = nullptr;
}

std::unique_ptr<IoRequest> ClassDriver::SendInternal(ULONG code, long buffer_size, PVOID input) {
  auto request = std::make_unique<IoRequest>(fdo_->StackSize);
  request->SetInternalIoctl(code, buffer_size, input);
  request->Send(fdo_);
  return request;
}

std::unique_ptr<IoRequest> ClassDriver::SendPnp(UCHAR minor, BUS_QUERY_ID_TYPE id_type) {
  auto request = std::make_unique<IoRequest>(fdo_->StackSize);
  request->SetPnp(minor);
  if (minor == IRP_MN_QUERY_ID) request->first()->Parameters.QueryId.IdType = id_type;
  request->Send(fdo_);
  request->WaitDone();
  return request;
}

std::unique_ptr<IoRequest> ClassDriver::SendPower(UCHAR minor) {
  auto request = std::make_unique<IoRequest>(fdo_->StackSize);
  request->SetPower(minor);
  request->first()->Parameters.Power.Type = DevicePowerState;
  request->first()->Parameters.Power.State.DeviceState = 1;
  request->Send(fdo_);
  request->WaitDone();
  return request;
}

NTSTATUS ClassDriver::StartDevice() {
  if (fdo_ == nullptr) return STATUS_NO_SUCH_DEVICE;
  // A new start from the moment it is sent: the driver may deliver as soon as it has started.
  ++generation_;
  NTSTATUS status = SendPnp(IRP_MN_START_DEVICE)->status();
  if (!NT_SUCCESS(status)) return status;
  status = RunStartSequence();
  if (!NT_SUCCESS(status)) return status;
  reading_ = true;
  const size_t length = descriptor_.MaxReportLength(ReportKind::Input);
  while (static_cast<int>(reads_.size()) < options_.pending_reads) {
    auto read = std::make_unique<Read>();
    read->request = std::make_unique<IoRequest>(fdo_->StackSize);
    reads_.push_back(std::move(read));
  }
  for (auto& read : reads_) {
    // Still pending from an earlier start, or being sent again by its completion.
    if (read->outstanding.exchange(true)) continue;
    read->request->SetInternalIoctl(IOCTL_HID_READ_REPORT, static_cast<long>(length));
    PostRead(*read);
  }
  return STATUS_SUCCESS;
}

NTSTATUS ClassDriver::RunStartSequence() {
  auto take = [](IoRequest& r) {
    return std::vector<uint8_t>(r.buffer().begin(), r.buffer().begin() + static_cast<long>(r.information()));
  };
  auto dd = SendInternal(IOCTL_HID_GET_DEVICE_DESCRIPTOR, sizeof(HID_DESCRIPTOR));
  if (!dd->done() || !NT_SUCCESS(dd->status()) || dd->information() != sizeof(HID_DESCRIPTOR))
    return STATUS_DEVICE_NOT_READY;
  hid_descriptor_ = take(*dd);
  if (hid_descriptor_[1] != 0x21 || hid_descriptor_[6] != 0x22) return STATUS_DEVICE_NOT_READY;
  const long report_length = hid_descriptor_[7] | hid_descriptor_[8] << 8;

  auto rd = SendInternal(IOCTL_HID_GET_REPORT_DESCRIPTOR, report_length);
  if (!rd->done() || !NT_SUCCESS(rd->status())) return STATUS_DEVICE_NOT_READY;
  report_descriptor_ = take(*rd);
  descriptor_ = ParseReportDescriptor(report_descriptor_.data(), report_descriptor_.size());
  if (!descriptor_.ok || descriptor_.MaxReportLength(ReportKind::Input) == 0) return STATUS_DEVICE_NOT_READY;

  auto at = SendInternal(IOCTL_HID_GET_DEVICE_ATTRIBUTES, sizeof(HID_DEVICE_ATTRIBUTES));
  if (!at->done() || !NT_SUCCESS(at->status())) return STATUS_DEVICE_NOT_READY;
  attributes_ = take(*at);

  // String index 1 (manufacturer), language 0x0409.
  auto st = SendInternal(IOCTL_HID_GET_STRING, 256, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(0x04090001)));
  if (st->done() && NT_SUCCESS(st->status())) strings_ = take(*st);
  return STATUS_SUCCESS;
}

void ClassDriver::PostRead(Read& read) {
  read.outstanding = true;
  read.generation = generation_;
  read.request->on_complete = [this, &read](IoRequest&) { OnReadDone(read); };
  read.request->Send(fdo_);
}

void ClassDriver::OnReadDone(Read& read) {
  IoRequest& r = *read.request;
  {
    std::lock_guard lock(mutex_);
    InputEvent event;
    const size_t n = std::min<size_t>(r.information(), r.buffer().size());
    if (NT_SUCCESS(r.status())) event.report.assign(r.buffer().begin(), r.buffer().begin() + static_cast<long>(n));
    event.status = r.status();
    event.time = r.completed_at();
    event.generation = generation_;
    event.sent_generation = read.generation;
    inputs_.push_back(std::move(event));
  }
  // The read stays claimed while it is sent again; otherwise it is released, and when a start
  // came in since it was sent (and so left it alone), it is sent here for that start.
  const bool again = NT_SUCCESS(r.status()) || (r.status() == STATUS_CANCELLED && options_.resend_cancelled);
  if (again && reading_) {
    r.Reuse();
    PostRead(read);
    return;
  }
  read.outstanding = false;
  if (reading_ && read.generation != generation_ && !read.outstanding.exchange(true)) {
    r.Reuse();
    PostRead(read);
  }
}

NTSTATUS ClassDriver::StopDevice() {
  if (fdo_ == nullptr) return STATUS_NO_SUCH_DEVICE;
  reading_ = false;
  return SendPnp(IRP_MN_STOP_DEVICE)->status();
}

NTSTATUS ClassDriver::RemoveDevice() {
  if (fdo_ == nullptr) return STATUS_NO_SUCH_DEVICE;
  reading_ = false;
  NTSTATUS status = SendPnp(IRP_MN_REMOVE_DEVICE)->status();
  WaitForWork();
  for (auto& read : reads_)
    if (read->outstanding) internal::Fatal("a read is still pending after the device was removed");
  for (auto& write : writes_)
    if (!write->done()) internal::Fatal("a write is still pending after the device was removed");
  DeleteDevice();
  return status;
}

IoRequest& ClassDriver::WriteOutput(uint8_t leds) {
  auto request = std::make_unique<IoRequest>(fdo_->StackSize);
  request->SetInternalIoctl(IOCTL_HID_WRITE_REPORT, sizeof(HID_XFER_PACKET) + 2);
  auto* packet = reinterpret_cast<PHID_XFER_PACKET>(request->buffer().data());
  PUCHAR report = request->buffer().data() + sizeof(HID_XFER_PACKET);
  report[0] = 1;
  report[1] = leds;
  packet->reportBuffer = report;
  packet->reportBufferLen = 2;
  packet->reportId = 1;
  IoRequest& ref = *request;
  {
    std::lock_guard lock(mutex_);
    writes_.push_back(std::move(request));
  }
  ref.Send(fdo_);
  return ref;
}

std::vector<IoRequest*> ClassDriver::Writes() {
  std::lock_guard lock(mutex_);
  std::vector<IoRequest*> out;
  for (auto& w : writes_) out.push_back(w.get());
  return out;
}

bool ClassDriver::CancelOneRead() {
  Read* target = nullptr;
  for (auto& read : reads_) {
    if (read->outstanding) {
      target = read.get();
      break;
    }
  }
  if (target == nullptr) return false;
  return IoCancelIrp(target->request->irp());
}

int ClassDriver::PendingReads() const {
  int n = 0;
  for (auto& read : reads_) n += read->outstanding ? 1 : 0;
  return n;
}

std::vector<InputEvent> ClassDriver::TakeInputs() {
  std::lock_guard lock(mutex_);
  return std::exchange(inputs_, {});
}

std::vector<BusRecord> ClassDriver::BusLog() const {
  std::lock_guard lock(mutex_);
  return bus_log_;
}

void ClassDriver::WaitForReads() {}

}  // namespace wdm::hid

extern "C" NTSTATUS NTAPI HidRegisterMinidriver(PHID_MINIDRIVER_REGISTRATION MinidriverRegistration) {
  wdm::hid::ClassDriver* driver = wdm::hid::ClassDriver::Current();
  if (driver == nullptr) return STATUS_NO_SUCH_DEVICE;
  return driver->Register(MinidriverRegistration);
}
