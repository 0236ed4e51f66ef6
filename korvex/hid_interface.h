// KORVEX: the HID interface. Descriptors, attributes and strings for the class driver, reads
// kept waiting until a key event arrives, and writes completed at the output pace.
#pragma once

#include "frame.h"

// Wire format.
#define KORVEX_REPORT_DESCRIPTOR_LENGTH 65
#define KORVEX_STRING_BLOCK_LENGTH 126
#define KORVEX_INPUT_REPORT_LENGTH 9
extern const UCHAR KorvexHidDescriptor[9];
extern const UCHAR KorvexReportDescriptor[KORVEX_REPORT_DESCRIPTOR_LENGTH];
extern const UCHAR KorvexStringDescriptors[KORVEX_STRING_BLOCK_LENGTH];

// Output pace: 500 ms, relative, in 100-ns units.
#define KORVEX_OUTPUT_PERIOD (-5000000LL)

NTSTATUS NTAPI DispatchInternalIoctl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// The oldest queued read that is not being cancelled, now owned by the caller (its cancel
// routine taken away); nullptr when none is left.
PIRP TakeOwnedRead();
// Frees every queued key event, never in the middle of a pairing.
VOID DropQueuedReports();
VOID DeliverReports();
VOID NTAPI OutputTimerDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2);
VOID NTAPI CancelRead(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// Removal: the output timer made idle and the queued writes completed (hid_interface.cpp).
VOID ShutDownOutput(PBUTTON_DEVICE_EXTENSION Extension);
