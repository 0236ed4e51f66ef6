// KORVEX frame: entry and unload, AddDevice, Plug and Play and power.
//
// The driver serves one device. The queues and DeviceStarted are driver-wide; the per-device
// record holds the descriptor copies and the output timer. Plug and Play requests always go down
// to the lower driver; start, stop and identifier queries get a completion routine that runs
// when the lower driver has completed them. Power requests pass through untouched.
#include "frame.h"

#include "button_input.h"
#include "hid_interface.h"

HID_MINIDRIVER_REGISTRATION Registration;
BOOLEAN DeviceStarted;
LIST_ENTRY ReadQueue;
KSPIN_LOCK ReadQueueLock;
LIST_ENTRY WriteQueue;
KSPIN_LOCK WriteQueueLock;
LIST_ENTRY ReportQueue;
KSPIN_LOCK ReportQueueLock;
LONG OutstandingWorkItems;

namespace {

// "HIDMINI_Device" and two NUL characters, UTF-16LE: 32 bytes.
const WCHAR kDefaultId[16] = {'H', 'I', 'D', 'M', 'I', 'N', 'I', '_', 'D', 'e', 'v', 'i', 'c', 'e', 0, 0};

void InitializeQueues() {
  InitializeListHead(&ReadQueue);
  InitializeListHead(&WriteQueue);
  InitializeListHead(&ReportQueue);
  KeInitializeSpinLock(&ReadQueueLock);
  KeInitializeSpinLock(&WriteQueueLock);
  KeInitializeSpinLock(&ReportQueueLock);
  SetDeviceStarted(FALSE);
}

// Key events left in ReportQueue when the driver goes away (the filter keeps capturing while no
// device is started) are freed with it.
void DropReports() { DropQueuedReports(); }

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  InitializeQueues();
  OutstandingWorkItems = 0;

  HookKeyboardFilter();

  DriverObject->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalIoctl;
  DriverObject->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  DriverObject->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  DriverObject->DriverExtension->AddDevice = AddDevice;
  DriverObject->DriverUnload = DriverUnload;

  Registration.Revision = 0;
  Registration.DriverObject = DriverObject;
  Registration.RegistryPath = RegistryPath;
  Registration.DeviceExtensionSize = sizeof(BUTTON_DEVICE_EXTENSION);
  Registration.DevicesArePolled = FALSE;

  NTSTATUS status = HidRegisterMinidriver(&Registration);
  if (!NT_SUCCESS(status)) UnhookKeyboardFilter();
  return status;
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT FunctionalDeviceObject) {
  PBUTTON_DEVICE_EXTENSION extension = GetButtonExtension(FunctionalDeviceObject);
  KeInitializeDpc(&extension->OutputDpc, OutputTimerDpc, extension);
  KeInitializeTimer(&extension->OutputTimer);
  KeSetEvent(reinterpret_cast<PRKEVENT>(&extension->OutputTimer), 0, FALSE);
  return STATUS_SUCCESS;
}

VOID NTAPI DriverUnload(PDRIVER_OBJECT) {
  UnhookKeyboardFilter();
  // Work routines of this image (class driver loads, report runs) must be over before the image
  // goes away.
  LARGE_INTEGER interval;
  interval.QuadPart = -10000;  // 1 ms
  while (__atomic_load_n(&OutstandingWorkItems, __ATOMIC_ACQUIRE) != 0)
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  DropReports();
}

NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PBUTTON_DEVICE_EXTENSION extension = GetButtonExtension(DeviceObject);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  PIO_COMPLETION_ROUTINE completion = nullptr;

  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
      extension->DeviceState = StateStarting;
      completion = korvex::StartCompletion;
      break;
    case IRP_MN_STOP_DEVICE:
      extension->DeviceState = StateStopped;
      SetDeviceStarted(FALSE);
      FlushQueues();
      completion = korvex::StopCompletion;
      break;
    case IRP_MN_REMOVE_DEVICE: {
      ULONG old_state = extension->DeviceState;
      extension->DeviceState = StateRemoved;
      SetDeviceStarted(FALSE);
      if (old_state == StateStarted) {
        FlushQueues();
      } else {
        // Reads can still be queued when a second start of a started device failed (the
        // failure clears DeviceStarted without a flush); the device goes away, so they end here.
        FlushReads();
      }
      // The record with the output timer goes away after removal: the timer is made idle and
      // the writes still queued are completed first.
      ShutDownOutput(extension);
      break;
    }
    case IRP_MN_SURPRISE_REMOVAL:
      // Windows 98 never sends this; later systems and other class drivers do, and then wait for
      // the reads they keep here before they send the removal: the device is gone, so they end
      // now, as a stop would end them.
      if (extension->DeviceState == StateStarted) {
        extension->DeviceState = StateStopped;
        SetDeviceStarted(FALSE);
        FlushQueues();
      }
      break;
    case IRP_MN_QUERY_ID:
      Irp->IoStatus.Information = 0;
      completion = korvex::QueryIdCompletion;
      break;
    default:
      break;
  }

  Irp->IoStatus.Status = STATUS_SUCCESS;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
  *next = *stack;
  IoMarkIrpPending(Irp);
  if (completion != nullptr)
    IoSetCompletionRoutine(Irp, completion, extension, TRUE, TRUE, TRUE);
  else
    next->Control = 0;
  return IoCallDriver(GetNextDevice(DeviceObject), Irp);
}

namespace korvex {

NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT, PIRP Irp, PVOID Context) {
  PBUTTON_DEVICE_EXTENSION extension = static_cast<PBUTTON_DEVICE_EXTENSION>(Context);
  NTSTATUS status = Irp->IoStatus.Status;
  if (!NT_SUCCESS(status)) {
    extension->DeviceState = StateStopped;
    SetDeviceStarted(FALSE);
    return status;
  }
  __builtin_memcpy(&extension->HidDescriptor, KorvexHidDescriptor, sizeof(KorvexHidDescriptor));
  extension->ReportDescriptor = KorvexReportDescriptor;
  extension->StringDescriptors = KorvexStringDescriptors;
  // Key events captured while no device was started are dropped.
  DropReports();
  extension->DeviceState = StateStarted;
  SetDeviceStarted(TRUE);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI StopCompletion(PDEVICE_OBJECT, PIRP Irp, PVOID Context) {
  PBUTTON_DEVICE_EXTENSION extension = static_cast<PBUTTON_DEVICE_EXTENSION>(Context);
  extension->DeviceState = StateStopComplete;
  SetDeviceStarted(FALSE);
  return Irp->IoStatus.Status;
}

NTSTATUS NTAPI QueryIdCompletion(PDEVICE_OBJECT, PIRP Irp, PVOID) {
  if (Irp->IoStatus.Information != 0) return Irp->IoStatus.Status;
  // Whatever identifier was asked for, an unanswered query gets this one; the buffer reads as a
  // single identifier and as a one-item list. It belongs to whoever receives the answer.
  PVOID buffer = ExAllocatePoolWithTag(NonPagedPool, sizeof(kDefaultId), KORVEX_POOL_TAG);
  if (buffer == nullptr) {
    Irp->IoStatus.Status = STATUS_INSUFFICIENT_RESOURCES;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  __builtin_memcpy(buffer, kDefaultId, sizeof(kDefaultId));
  Irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(buffer);
  Irp->IoStatus.Status = STATUS_SUCCESS;
  return STATUS_SUCCESS;
}

}  // namespace korvex

VOID FlushQueues() {
  FlushReads();
  DropReports();
}

VOID FlushReads() {
  // A read whose cancel routine is already gone is being cancelled: CancelRead completes it.
  while (PIRP irp = TakeOwnedRead()) {
    irp->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
}

NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  IoCopyCurrentIrpStackLocationToNext(Irp);
  IoGetNextIrpStackLocation(Irp)->Control = 0;
  PoStartNextPowerIrp(Irp);
  return PoCallDriver(GetNextDevice(DeviceObject), Irp);
}
