// KORVEX HID interface: the internal requests of the HID class driver.
//
// Reads wait in ReadQueue and key events in ReportQueue; DeliverReports pairs them. How the
// contexts that touch a read agree: whoever takes a read's entry out of ReadQueue (the report
// pump, the flush at stop or removal, or the cancel routine) owns the entry, and the read is
// completed by whoever takes its cancel routine away: the pump and the flush exchange it for
// none, under the queue's lock as they take the entry (TakeOwnedRead), and complete the read only
// if they got CancelRead back; when they get none, the system has already begun cancelling it
// and CancelRead, which takes the same lock and finds no entry left to remove, completes it. So
// every read is completed exactly once, and by the sending it was queued for. Each pairing (take the oldest event, take the
// oldest read that is not being cancelled, fill and complete it, or put the event back at the
// head) runs under DeliveryLock, so two runs of the pump (keyboard input and a worker thread)
// never interleave their pairings and events reach reads in the order they were queued. The
// three queue locks are still held only inside single list operations.
#include "hid_interface.h"

namespace {

KSPIN_LOCK DeliveryLock;

#define C(c) static_cast<UCHAR>(c), 0x00

}  // namespace

const UCHAR KorvexHidDescriptor[9] = {
    0x09,        // bLength
    0x21,        // bDescriptorType: HID
    0x00, 0x01,  // bcdHID 1.00
    0x00,        // bCountry
    0x01,        // bNumDescriptors
    0x22,        // bReportType: report descriptor
    KORVEX_REPORT_DESCRIPTOR_LENGTH, 0x00,  // wReportLength
};

const UCHAR KorvexReportDescriptor[KORVEX_REPORT_DESCRIPTOR_LENGTH] = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x06,  // Usage (Keyboard)
    0xA1, 0x01,  // Collection (Application)
    0x85, 0x01,  //   Report ID (1)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0xE0,  //   Usage Minimum (Left Control)
    0x29, 0xE7,  //   Usage Maximum (Right GUI)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x01,  //   Logical Maximum (1)
    0x75, 0x01,  //   Report Size (1)
    0x95, 0x08,  //   Report Count (8)
    0x81, 0x02,  //   Input (Data, Variable, Absolute): modifier bits
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x08,  //   Report Size (8)
    0x81, 0x01,  //   Input (Constant): reserved byte
    0x95, 0x05,  //   Report Count (5)
    0x75, 0x01,  //   Report Size (1)
    0x05, 0x08,  //   Usage Page (LEDs)
    0x19, 0x01,  //   Usage Minimum (Num Lock)
    0x29, 0x05,  //   Usage Maximum (Kana)
    0x91, 0x02,  //   Output (Data, Variable, Absolute): indicator bits
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x03,  //   Report Size (3)
    0x91, 0x01,  //   Output (Constant): filler bits
    0x95, 0x06,  //   Report Count (6)
    0x75, 0x08,  //   Report Size (8)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x65,  //   Logical Maximum (0x65)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0x00,  //   Usage Minimum (0)
    0x29, 0x65,  //   Usage Maximum (0x65)
    0x81, 0x00,  //   Input (Data, Array, Absolute): key array
    0xC0,        // End Collection
};

// Four string descriptors: length, type 3, UTF-16LE text without terminator.
const UCHAR KorvexStringDescriptors[KORVEX_STRING_BLOCK_LENGTH] = {
    0x04, 0x03, 0x09, 0x00,  // language list: 0x0009
    0x2C, 0x03,  // "Microsoft Corporation"
    C('M'), C('i'), C('c'), C('r'), C('o'), C('s'), C('o'), C('f'), C('t'), C(' '), C('C'), C('o'),
    C('r'), C('p'), C('o'), C('r'), C('a'), C('t'), C('i'), C('o'), C('n'),
    0x2E, 0x03,  // "System Control Buttons"
    C('S'), C('y'), C('s'), C('t'), C('e'), C('m'), C(' '), C('C'), C('o'), C('n'), C('t'), C('r'),
    C('o'), C('l'), C(' '), C('B'), C('u'), C('t'), C('t'), C('o'), C('n'), C('s'),
    0x20, 0x03,  // "Legacy Keyboard"
    C('L'), C('e'), C('g'), C('a'), C('c'), C('y'), C(' '), C('K'), C('e'), C('y'), C('b'), C('o'),
    C('a'), C('r'), C('d'),
};

namespace {

NTSTATUS GetDeviceDescriptor(PBUTTON_DEVICE_EXTENSION extension, PIRP irp, ULONG length) {
  if (irp->UserBuffer == nullptr) return STATUS_INVALID_USER_BUFFER;
  ULONG n = length < extension->HidDescriptor.bLength ? length : extension->HidDescriptor.bLength;
  __builtin_memcpy(irp->UserBuffer, &extension->HidDescriptor, n);
  irp->IoStatus.Information = n;
  return STATUS_SUCCESS;
}

NTSTATUS GetReportDescriptor(PBUTTON_DEVICE_EXTENSION extension, PIRP irp, ULONG length) {
  if (irp->UserBuffer == nullptr) return STATUS_INVALID_USER_BUFFER;
  ULONG total = extension->HidDescriptor.DescriptorList[0].wReportLength;
  if (extension->ReportDescriptor == nullptr || total > KORVEX_REPORT_DESCRIPTOR_LENGTH) total = 0;
  ULONG n = length < total ? length : total;
  if (n != 0) __builtin_memcpy(irp->UserBuffer, extension->ReportDescriptor, n);
  irp->IoStatus.Information = n;
  return STATUS_SUCCESS;
}

NTSTATUS GetDeviceAttributes(PIRP irp, ULONG length) {
  if (irp->UserBuffer == nullptr) return STATUS_INVALID_USER_BUFFER;
  if (length < sizeof(HID_DEVICE_ATTRIBUTES)) return STATUS_BUFFER_TOO_SMALL;
  PHID_DEVICE_ATTRIBUTES attributes = static_cast<PHID_DEVICE_ATTRIBUTES>(irp->UserBuffer);
  attributes->Size = sizeof(HID_DEVICE_ATTRIBUTES);
  attributes->VendorID = 0x4B56;
  attributes->ProductID = 0x003D;
  attributes->VersionNumber = 0x0101;
  irp->IoStatus.Information = sizeof(HID_DEVICE_ATTRIBUTES);
  return STATUS_SUCCESS;
}

// Every string request, whatever string and language it names, gets the whole block.
NTSTATUS GetString(PIRP irp, ULONG length) {
  if (irp->UserBuffer == nullptr || length == 0) return STATUS_INVALID_USER_BUFFER;
  ULONG n = length < KORVEX_STRING_BLOCK_LENGTH ? length : KORVEX_STRING_BLOCK_LENGTH;
  __builtin_memcpy(irp->UserBuffer, KorvexStringDescriptors, n);
  irp->IoStatus.Information = n;
  return STATUS_SUCCESS;
}

NTSTATUS ReadReport(PIRP irp, ULONG length) {
  if (!IsDeviceStarted()) return STATUS_NO_SUCH_DEVICE;
  if (length == 0 || irp->UserBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  // A read that cannot hold an input report is refused at once, so the pump only ever meets
  // reads it can fill and never drops a key event for want of room.
  if (length < KORVEX_INPUT_REPORT_LENGTH) return STATUS_BUFFER_TOO_SMALL;
  PREAD_ENTRY entry = static_cast<PREAD_ENTRY>(ExAllocatePoolWithTag(NonPagedPool, sizeof(READ_ENTRY), KORVEX_POOL_TAG));
  if (entry == nullptr) return STATUS_NO_MEMORY;
  entry->Irp = irp;

  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  IoSetCancelRoutine(irp, CancelRead);
  if (irp->Cancel) {
    IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    ExFreePool(entry);
    return STATUS_CANCELLED;
  }
  // Marked before it is queued: from then on the pump may complete it on another thread.
  IoMarkIrpPending(irp);
  ExInterlockedInsertTailList(&ReadQueue, &entry->Link, &ReadQueueLock);
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

void ArmOutputTimer(PBUTTON_DEVICE_EXTENSION extension) {
  InterlockedIncrement(&extension->OutputArms);
  LARGE_INTEGER due;
  due.QuadPart = KORVEX_OUTPUT_PERIOD;
  // An arm that replaces one still counting down takes over its single run of OutputTimerDpc.
  if (KeSetTimer(&extension->OutputTimer, due, &extension->OutputDpc)) InterlockedDecrement(&extension->OutputArms);
}

NTSTATUS WriteReport(PBUTTON_DEVICE_EXTENSION extension, PIRP irp) {
  if (!IsDeviceStarted()) return STATUS_NO_SUCH_DEVICE;
  PWRITE_ENTRY entry = static_cast<PWRITE_ENTRY>(ExAllocatePoolWithTag(NonPagedPool, sizeof(WRITE_ENTRY), KORVEX_POOL_TAG));
  if (entry == nullptr) return STATUS_NO_MEMORY;
  entry->Irp = irp;
  IoMarkIrpPending(irp);
  ExInterlockedInsertTailList(&WriteQueue, &entry->Link, &WriteQueueLock);
  if (KeReadStateTimer(&extension->OutputTimer)) ArmOutputTimer(extension);
  return STATUS_PENDING;
}

bool WriteQueueEmpty() {
  KIRQL irql;
  KeAcquireSpinLock(&WriteQueueLock, &irql);
  bool empty = IsListEmpty(&WriteQueue);
  KeReleaseSpinLock(&WriteQueueLock, irql);
  return empty;
}

VOID NTAPI DeliverReportsWork(PVOID parameter) {
  DeliverReports();
  ExFreePool(parameter);
  __atomic_sub_fetch(&OutstandingWorkItems, 1, __ATOMIC_RELEASE);
}

}  // namespace

NTSTATUS NTAPI DispatchInternalIoctl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
  PBUTTON_DEVICE_EXTENSION extension = GetButtonExtension(DeviceObject);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  ULONG length = stack->Parameters.DeviceIoControl.OutputBufferLength;
  NTSTATUS status;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: status = GetDeviceDescriptor(extension, Irp, length); break;
    case IOCTL_HID_GET_REPORT_DESCRIPTOR: status = GetReportDescriptor(extension, Irp, length); break;
    case IOCTL_HID_READ_REPORT: status = ReadReport(Irp, length); break;
    case IOCTL_HID_WRITE_REPORT: status = WriteReport(extension, Irp); break;
    case IOCTL_HID_GET_STRING: status = GetString(Irp, length); break;
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE: status = STATUS_SUCCESS; break;
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: status = GetDeviceAttributes(Irp, length); break;
    default: status = STATUS_NOT_SUPPORTED; break;
  }
  // A queued request belongs to its queue from the moment it is queued: only the dispatcher's
  // own completions look at it here.
  if (status == STATUS_PENDING) return STATUS_PENDING;
  Irp->IoStatus.Status = status;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

VOID NTAPI CancelRead(PDEVICE_OBJECT, PIRP Irp) {
  PREAD_ENTRY found = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(&ReadQueueLock, &irql);
  for (PLIST_ENTRY link = ReadQueue.Flink; link != &ReadQueue; link = link->Flink) {
    PREAD_ENTRY entry = CONTAINING_RECORD(link, READ_ENTRY, Link);
    if (entry->Irp == Irp) {
      RemoveEntryList(link);
      found = entry;
      break;
    }
  }
  KeReleaseSpinLock(&ReadQueueLock, irql);
  if (found != nullptr) ExFreePool(found);
  IoReleaseCancelSpinLock(Irp->CancelIrql);
  Irp->IoStatus.Status = STATUS_CANCELLED;
  IoCompleteRequest(Irp, IO_NO_INCREMENT);
}

PIRP TakeOwnedRead() {
  // The entry is taken and the cancel routine exchanged under the queue's lock, the lock
  // CancelRead takes before it completes a read: a read given up here (its cancel routine already
  // gone) is completed by CancelRead only after this decision, so it cannot have been completed
  // and sent again meanwhile, and a stale entry never takes a later sending of the same IRP.
  for (;;) {
    KIRQL irql;
    KeAcquireSpinLock(&ReadQueueLock, &irql);
    if (IsListEmpty(&ReadQueue)) {
      KeReleaseSpinLock(&ReadQueueLock, irql);
      return nullptr;
    }
    PREAD_ENTRY read = CONTAINING_RECORD(RemoveHeadList(&ReadQueue), READ_ENTRY, Link);
    PIRP irp = read->Irp;
    const bool owned = IoSetCancelRoutine(irp, nullptr) != nullptr;
    KeReleaseSpinLock(&ReadQueueLock, irql);
    ExFreePool(read);
    if (owned) return irp;
    // None back: the read is being cancelled and CancelRead completes it.
  }
}

VOID DropQueuedReports() {
  // Under DeliveryLock: an event the pump has taken out for a moment (and puts back when no read
  // waits) is dropped with the rest, not left behind for the next start without its release.
  KIRQL irql;
  KeAcquireSpinLock(&DeliveryLock, &irql);
  PLIST_ENTRY link;
  while ((link = ExInterlockedRemoveHeadList(&ReportQueue, &ReportQueueLock)) != nullptr)
    ExFreePool(CONTAINING_RECORD(link, REPORT_ENTRY, Link));
  KeReleaseSpinLock(&DeliveryLock, irql);
}

VOID DeliverReports() {
  while (IsDeviceStarted()) {
    KIRQL irql;
    KeAcquireSpinLock(&DeliveryLock, &irql);
    PLIST_ENTRY report_link = ExInterlockedRemoveHeadList(&ReportQueue, &ReportQueueLock);
    if (report_link == nullptr) {
      KeReleaseSpinLock(&DeliveryLock, irql);
      return;
    }
    PIRP irp = TakeOwnedRead();
    PREPORT_ENTRY report = CONTAINING_RECORD(report_link, REPORT_ENTRY, Link);
    if (irp == nullptr) {
      ExInterlockedInsertHeadList(&ReportQueue, report_link, &ReportQueueLock);
      KeReleaseSpinLock(&DeliveryLock, irql);
      return;
    }
    PUCHAR buffer = static_cast<PUCHAR>(irp->UserBuffer);
    for (int i = 0; i < KORVEX_INPUT_REPORT_LENGTH; ++i) buffer[i] = 0;
    buffer[0] = 0x01;  // report ID
    buffer[3] = static_cast<UCHAR>(report->Usage & 0xFF);
    irp->IoStatus.Information = KORVEX_INPUT_REPORT_LENGTH;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    ExFreePool(report);
    KeReleaseSpinLock(&DeliveryLock, irql);
  }
}

VOID NTAPI OutputTimerDpc(PKDPC, PVOID DeferredContext, PVOID, PVOID) {
  PBUTTON_DEVICE_EXTENSION extension = static_cast<PBUTTON_DEVICE_EXTENSION>(DeferredContext);
  PLIST_ENTRY link = ExInterlockedRemoveHeadList(&WriteQueue, &WriteQueueLock);
  if (link != nullptr) {
    PWRITE_ENTRY entry = CONTAINING_RECORD(link, WRITE_ENTRY, Link);
    PWORK_QUEUE_ITEM item = static_cast<PWORK_QUEUE_ITEM>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(WORK_QUEUE_ITEM), KORVEX_POOL_TAG));
    if (item != nullptr) {
      __atomic_add_fetch(&OutstandingWorkItems, 1, __ATOMIC_ACQ_REL);
      ExInitializeWorkItem(item, DeliverReportsWork, item);
      ExQueueWorkItem(item, DelayedWorkQueue);
    }
    PIRP irp = entry->Irp;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    ExFreePool(entry);
  }
  if (!WriteQueueEmpty() && __atomic_load_n(&extension->Removing, __ATOMIC_ACQUIRE) == 0) ArmOutputTimer(extension);
  // Last touch of the record: removal may free it once no arm is outstanding.
  InterlockedDecrement(&extension->OutputArms);
}

VOID ShutDownOutput(PBUTTON_DEVICE_EXTENSION Extension) {
  InterlockedExchange(&Extension->Removing, 1);
  if (KeCancelTimer(&Extension->OutputTimer)) InterlockedDecrement(&Extension->OutputArms);
  LARGE_INTEGER interval;
  interval.QuadPart = -10000;  // 1 ms
  while (__atomic_load_n(&Extension->OutputArms, __ATOMIC_ACQUIRE) != 0)
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  PLIST_ENTRY link;
  while ((link = ExInterlockedRemoveHeadList(&WriteQueue, &WriteQueueLock)) != nullptr) {
    PWRITE_ENTRY entry = CONTAINING_RECORD(link, WRITE_ENTRY, Link);
    PIRP irp = entry->Irp;
    ExFreePool(entry);
    irp->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
  }
}
