// I/O manager: requests (IRPs) with their stack locations, passing down, completion bottom-up,
// and cancellation.
//
// An IRP is allocated with its stack locations behind it; a fresh IRP's current location is one
// past the last, and each IofCallDriver moves down one location. IofCompleteRequest walks back
// up: at each location it notes whether that driver marked the request pending, then runs the
// completion routine stored there (set by the driver above) if its invoke flags match the
// outcome (success, error, cancel). A routine that returns STATUS_MORE_PROCESSING_REQUIRED stops
// the walk; where no routine runs, a pending mark moves up to the next location. Each sending of
// a request may be completed once: a second completion, or completing a request that no driver
// holds, ends the run with a message. The cancel spin lock is one global spin lock.
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "internal.h"

namespace wdm {
namespace {

struct IrpRecord {
  bool in_driver = false;  // sent and not yet completed
  uint64_t sendings = 0;
};

std::mutex io_mutex;
std::unordered_map<PIRP, IrpRecord> irps;
IoStats io_stats;
KSPIN_LOCK cancel_lock = 0;

IrpRecord& RecordOf(PIRP irp, const char* what) {
  auto it = irps.find(irp);
  if (it == irps.end()) internal::Fatal("%s: %p is not an IRP of this kernel", what, static_cast<void*>(irp));
  return it->second;
}

}  // namespace

namespace internal {

void IoStart() {
  std::lock_guard lock(io_mutex);
  irps.clear();
  io_stats = {};
  cancel_lock = 0;
}

void IoStop() {
  std::lock_guard lock(io_mutex);
  for (auto& [irp, record] : irps) std::free(irp);
  irps.clear();
}

}  // namespace internal

IoStats GetIoStats() {
  std::lock_guard lock(io_mutex);
  IoStats stats = io_stats;
  stats.live = irps.size();
  for (auto& [irp, record] : irps) stats.in_driver += record.in_driver ? 1 : 0;
  return stats;
}

// ---- IoRequest --------------------------------------------------------------------------------

IoRequest::IoRequest(CCHAR stack_size) : irp_(IoAllocateIrp(stack_size, FALSE)) {}

IoRequest::~IoRequest() {
  {
    std::lock_guard lock(io_mutex);
    auto it = irps.find(irp_);
    if (it != irps.end() && it->second.in_driver)
      internal::Fatal("IRP %p freed while a driver still holds it", static_cast<void*>(irp_));
  }
  IoFreeIrp(irp_);
}

PIO_STACK_LOCATION IoRequest::first() const { return IoGetNextIrpStackLocation(irp_); }

void IoRequest::SetInternalIoctl(ULONG code, long buffer_size, PVOID input) {
  PIO_STACK_LOCATION stack = first();
  stack->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
  stack->Parameters.DeviceIoControl.IoControlCode = code;
  stack->Parameters.DeviceIoControl.Type3InputBuffer = input;
  if (buffer_size < 0) {
    buffer_.clear();
    irp_->UserBuffer = nullptr;
    stack->Parameters.DeviceIoControl.OutputBufferLength = 0;
  } else {
    // A guard of 16 bytes behind the buffer shows writes past its end.
    buffer_.assign(static_cast<size_t>(buffer_size) + 16, 0xCC);
    irp_->UserBuffer = buffer_.data();
    stack->Parameters.DeviceIoControl.OutputBufferLength = static_cast<ULONG>(buffer_size);
  }
}

void IoRequest::SetPnp(UCHAR minor) {
  first()->MajorFunction = IRP_MJ_PNP;
  first()->MinorFunction = minor;
  irp_->IoStatus.Status = STATUS_NOT_SUPPORTED;  // what an unhandled Plug and Play request carries
}

void IoRequest::SetPower(UCHAR minor) {
  first()->MajorFunction = IRP_MJ_POWER;
  first()->MinorFunction = minor;
  irp_->IoStatus.Status = STATUS_NOT_SUPPORTED;
}

NTSTATUS IoRequest::Send(PDEVICE_OBJECT device) {
  IoSetCompletionRoutine(irp_, TopCompletion, this, TRUE, TRUE, TRUE);
  return IofCallDriver(device, irp_);
}

void IoRequest::Reuse() {
  const UCHAR major = first()->MajorFunction, minor = first()->MinorFunction;
  const auto parameters = first()->Parameters;
  IoReuseIrp(irp_, STATUS_SUCCESS);
  first()->MajorFunction = major;
  first()->MinorFunction = minor;
  first()->Parameters = parameters;
  if (!buffer_.empty()) irp_->UserBuffer = buffer_.data();
  std::lock_guard lock(mutex_);
  completions_ = 0;
}

bool IoRequest::WaitDone(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return done_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return done(); });
}

NTSTATUS IoRequest::TopCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  auto* self = static_cast<IoRequest*>(context);
  {
    std::lock_guard lock(self->mutex_);
    self->status_ = irp->IoStatus.Status;
    self->information_ = irp->IoStatus.Information;
    self->pending_returned_ = irp->PendingReturned;
    self->completed_at_ = Now();
    self->completions_.fetch_add(1);
  }
  if (self->on_complete) self->on_complete(*self);
  {
    std::lock_guard lock(self->mutex_);
    self->done_cv_.notify_all();
  }
  return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace wdm

using wdm::internal::Fatal;

extern "C" {

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN) {
  if (StackSize < 1) Fatal("IoAllocateIrp with %d stack locations", StackSize);
  const size_t size = sizeof(IRP) + static_cast<size_t>(StackSize) * sizeof(IO_STACK_LOCATION);
  PIRP irp = static_cast<PIRP>(std::calloc(1, size));
  irp->Type = 6;
  irp->Size = static_cast<USHORT>(size);
  irp->StackCount = StackSize;
  irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
  irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + StackSize;
  std::lock_guard lock(wdm::io_mutex);
  wdm::irps[irp] = {};
  return irp;
}

VOID IoFreeIrp(PIRP Irp) {
  {
    std::lock_guard lock(wdm::io_mutex);
    wdm::IrpRecord& record = wdm::RecordOf(Irp, "IoFreeIrp");
    if (record.in_driver) Fatal("IoFreeIrp(%p) while a driver still holds it", static_cast<void*>(Irp));
    wdm::irps.erase(Irp);
  }
  std::free(Irp);
}

VOID IoReuseIrp(PIRP Irp, NTSTATUS Status) {
  {
    std::lock_guard lock(wdm::io_mutex);
    if (wdm::RecordOf(Irp, "IoReuseIrp").in_driver) Fatal("IoReuseIrp(%p) while a driver holds it", static_cast<void*>(Irp));
  }
  const CHAR count = Irp->StackCount;
  std::memset(Irp + 1, 0, static_cast<size_t>(count) * sizeof(IO_STACK_LOCATION));
  Irp->IoStatus.Status = Status;
  Irp->IoStatus.Information = 0;
  Irp->PendingReturned = FALSE;
  // A canceller may look at these at any time.
  __atomic_store_n(&Irp->Cancel, FALSE, __ATOMIC_RELEASE);
  __atomic_store_n(&Irp->CancelRoutine, nullptr, __ATOMIC_RELEASE);
  Irp->UserBuffer = nullptr;
  Irp->CurrentLocation = static_cast<CHAR>(count + 1);
  Irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(Irp + 1) + count;
}

NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  {
    std::lock_guard lock(wdm::io_mutex);
    wdm::IrpRecord& record = wdm::RecordOf(Irp, "IofCallDriver");
    if (Irp->CurrentLocation == Irp->StackCount + 1) {
      if (record.in_driver) Fatal("IRP %p sent again before it was completed", static_cast<void*>(Irp));
      record.in_driver = true;
      ++record.sendings;
      ++wdm::io_stats.sent;
    } else if (!record.in_driver) {
      Fatal("IofCallDriver(%p): the IRP was already completed", static_cast<void*>(Irp));
    }
  }
  if (Irp->CurrentLocation <= 1) Fatal("IofCallDriver(%p): no stack location left", static_cast<void*>(Irp));
  Irp->CurrentLocation--;
  Irp->Tail.Overlay.CurrentStackLocation--;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  stack->DeviceObject = DeviceObject;
  PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
  if (dispatch == nullptr) Fatal("driver has no dispatch routine for major function 0x%02X", stack->MajorFunction);
  return dispatch(DeviceObject, Irp);
}

VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR) {
  {
    std::lock_guard lock(wdm::io_mutex);
    wdm::IrpRecord& record = wdm::RecordOf(Irp, "IofCompleteRequest");
    if (!record.in_driver)
      Fatal("IRP %p completed twice (or completed while no driver held it); status 0x%08X",
            static_cast<void*>(Irp), static_cast<unsigned>(Irp->IoStatus.Status));
    record.in_driver = false;
    ++wdm::io_stats.completed;
  }
  if (Irp->IoStatus.Status == STATUS_PENDING) Fatal("IRP %p completed with STATUS_PENDING", static_cast<void*>(Irp));
  if (Irp->CurrentLocation > Irp->StackCount) Fatal("IRP %p completed with no current stack location", static_cast<void*>(Irp));
  if (__atomic_load_n(&Irp->CancelRoutine, __ATOMIC_ACQUIRE) != nullptr)
    Fatal("IRP %p completed with its cancel routine still set", static_cast<void*>(Irp));

  while (Irp->CurrentLocation <= Irp->StackCount) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
    const PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
    const PVOID context = stack->Context;
    const UCHAR control = stack->Control;
    // Up to the location of the driver that set the routine.
    Irp->CurrentLocation++;
    Irp->Tail.Overlay.CurrentStackLocation++;
    const NTSTATUS status = Irp->IoStatus.Status;
    const bool invoke = routine != nullptr &&
                        ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                         (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                         (__atomic_load_n(&Irp->Cancel, __ATOMIC_ACQUIRE) && (control & SL_INVOKE_ON_CANCEL)));
    if (invoke) {
      PDEVICE_OBJECT device =
          Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
      if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
    } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
      IoMarkIrpPending(Irp);
    }
  }
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&wdm::cancel_lock, Irql); }

VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&wdm::cancel_lock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_RELEASE);
  PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
  if (routine == nullptr) {
    IoReleaseCancelSpinLock(irql);
    return FALSE;
  }
  Irp->CancelIrql = irql;
  // The routine releases the cancel spin lock.
  routine(IoGetCurrentIrpStackLocation(Irp)->DeviceObject, Irp);
  return TRUE;
}

VOID PoStartNextPowerIrp(PIRP) {}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) { return IofCallDriver(DeviceObject, Irp); }

}  // extern "C"
