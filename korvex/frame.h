// KORVEX, the one-touch button HID minidriver: the frame. Loading and unloading, the
// registration with the HID class driver, the per-device record, the driver-wide state with its
// three request queues, and Plug and Play and power requests.
#pragma once

#if defined(_WIN32)
// The cross kernel header defines these two itself, after the compiler's intrinsics header.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#endif
#include <ddk/wdm.h>

#include "hidport.h"

// Pool tag of every block the driver allocates ("Wdm " as it reads in memory).
#define KORVEX_POOL_TAG 0x206D6457UL

// Device states.
enum {
  StateAdded = 0,
  StateStarting = 1,
  StateStarted = 2,
  StateStopped = 3,
  StateStopComplete = 4,
  StateRemoved = 5,
};

// The minidriver's part of the functional device object's extension.
typedef struct _BUTTON_DEVICE_EXTENSION {
  ULONG DeviceState;
  HID_DESCRIPTOR HidDescriptor;
  const UCHAR* ReportDescriptor;
  const UCHAR* StringDescriptors;
  KDPC OutputDpc;
  KTIMER OutputTimer;  // idle means signalled
  // Arms of OutputTimer whose deferred routine has not finished yet (see hid_interface.cpp).
  LONG OutputArms;
  // Set at removal: the output timer is not armed again.
  LONG Removing;
} BUTTON_DEVICE_EXTENSION, *PBUTTON_DEVICE_EXTENSION;

// Queue entries: one small pool block per queued item.
typedef struct _READ_ENTRY {
  LIST_ENTRY Link;
  PIRP Irp;
} READ_ENTRY, *PREAD_ENTRY;

typedef struct _WRITE_ENTRY {
  LIST_ENTRY Link;
  PIRP Irp;
} WRITE_ENTRY, *PWRITE_ENTRY;

typedef struct _REPORT_ENTRY {
  LIST_ENTRY Link;
  USHORT Usage;  // HID keyboard usage of the key event; 0 = no key down
} REPORT_ENTRY, *PREPORT_ENTRY;

// Driver-wide state.
extern HID_MINIDRIVER_REGISTRATION Registration;
extern BOOLEAN DeviceStarted;
extern LIST_ENTRY ReadQueue;
extern KSPIN_LOCK ReadQueueLock;
extern LIST_ENTRY WriteQueue;
extern KSPIN_LOCK WriteQueueLock;
extern LIST_ENTRY ReportQueue;
extern KSPIN_LOCK ReportQueueLock;

// DeviceStarted is a plain byte written by the Plug and Play paths and read without a lock;
// these keep each access a single whole-byte load or store.
inline BOOLEAN IsDeviceStarted() { return __atomic_load_n(&DeviceStarted, __ATOMIC_ACQUIRE); }
inline void SetDeviceStarted(BOOLEAN started) { __atomic_store_n(&DeviceStarted, started, __ATOMIC_RELEASE); }

inline PBUTTON_DEVICE_EXTENSION GetButtonExtension(PDEVICE_OBJECT fdo) {
  return static_cast<PBUTTON_DEVICE_EXTENSION>(
      static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension)->MiniDeviceExtension);
}
inline PDEVICE_OBJECT GetNextDevice(PDEVICE_OBJECT fdo) {
  return static_cast<PHID_DEVICE_EXTENSION>(fdo->DeviceExtension)->NextDeviceObject;
}

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT FunctionalDeviceObject);
VOID NTAPI DriverUnload(PDRIVER_OBJECT DriverObject);
NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// The completion routines have a namespace of their own: the kernel headers use one of their
// names for a value.
namespace korvex {
NTSTATUS NTAPI StartCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
NTSTATUS NTAPI StopCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
NTSTATUS NTAPI QueryIdCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
}  // namespace korvex
VOID FlushQueues();

// Work routines still queued or running; DriverUnload waits for them (button_input.cpp and
// hid_interface.cpp count them).
extern LONG OutstandingWorkItems;
