// The kernel interface of our simulated Windows 98 WDM kernel (host only): the types, constants
// and calls a kernel-mode driver of this tree uses, with their documented names and layouts.
// Types keep the Windows widths (ULONG and LONG are 32 bits). The implementation lives in
// platform/wdm/src: io_manager (IRPs, completion, cancel), kernel (DPCs, timers, spin locks),
// executive (pool, work items, interlocked lists), power (pass-through).
#pragma once

#include <cstddef>
#include <cstdint>

#define NTAPI
#define DDKAPI
#define FASTCALL
#define IN
#define OUT
#define OPTIONAL

typedef void VOID;
typedef void* PVOID;
typedef char CHAR, CCHAR, *PCHAR;
typedef unsigned char UCHAR, *PUCHAR;
typedef short CSHORT, SHORT;
typedef unsigned short USHORT, *PUSHORT;
typedef int32_t LONG, *PLONG;
typedef uint32_t ULONG, *PULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR, *PULONG_PTR, SIZE_T;
typedef UCHAR BOOLEAN, *PBOOLEAN;
typedef LONG NTSTATUS;
typedef UCHAR KIRQL, *PKIRQL;
typedef LONG KPRIORITY;
typedef CCHAR KPROCESSOR_MODE;
typedef char16_t WCHAR, *PWCHAR, *PWSTR;
typedef ULONG_PTR KSPIN_LOCK, *PKSPIN_LOCK;

#define TRUE 1
#define FALSE 0

#define NT_SUCCESS(s) (static_cast<NTSTATUS>(s) >= 0)
#define STATUS_SUCCESS                  static_cast<NTSTATUS>(0x00000000L)
#define STATUS_PENDING                  static_cast<NTSTATUS>(0x00000103L)
#define STATUS_MORE_PROCESSING_REQUIRED static_cast<NTSTATUS>(0xC0000016L)
#define STATUS_UNSUCCESSFUL             static_cast<NTSTATUS>(0xC0000001L)
#define STATUS_NOT_IMPLEMENTED          static_cast<NTSTATUS>(0xC0000002L)
#define STATUS_INVALID_PARAMETER        static_cast<NTSTATUS>(0xC000000DL)
#define STATUS_NO_SUCH_DEVICE           static_cast<NTSTATUS>(0xC000000EL)
#define STATUS_NO_MEMORY                static_cast<NTSTATUS>(0xC0000017L)
#define STATUS_BUFFER_TOO_SMALL         static_cast<NTSTATUS>(0xC0000023L)
#define STATUS_INSUFFICIENT_RESOURCES   static_cast<NTSTATUS>(0xC000009AL)
#define STATUS_NOT_SUPPORTED            static_cast<NTSTATUS>(0xC00000BBL)
#define STATUS_CANCELLED                static_cast<NTSTATUS>(0xC0000120L)
#define STATUS_INVALID_USER_BUFFER      static_cast<NTSTATUS>(0xC00000E8L)
#define STATUS_DEVICE_NOT_READY         static_cast<NTSTATUS>(0xC00000A3L)

#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

#define CONTAINING_RECORD(address, type, field) \
  (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))

typedef union _LARGE_INTEGER {
  struct { ULONG LowPart; LONG HighPart; } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

// ---- doubly linked lists -------------------------------------------------------------------
typedef struct _LIST_ENTRY {
  struct _LIST_ENTRY* Flink;
  struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

inline void InitializeListHead(PLIST_ENTRY head) { head->Flink = head->Blink = head; }
inline BOOLEAN IsListEmpty(const LIST_ENTRY* head) { return head->Flink == head; }
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY last = head->Blink;
  entry->Flink = head; entry->Blink = last; last->Flink = entry; head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
  PLIST_ENTRY first = head->Flink;
  entry->Flink = first; entry->Blink = head; first->Blink = entry; head->Flink = entry;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
  PLIST_ENTRY next = entry->Flink, prev = entry->Blink;
  prev->Flink = next; next->Blink = prev;
  return next == prev;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
  PLIST_ENTRY entry = head->Flink;
  RemoveEntryList(entry);
  return entry;
}

// ---- dispatcher objects, DPCs, timers --------------------------------------------------------
typedef struct _DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  LONG SignalState;
  LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef struct _KEVENT { DISPATCHER_HEADER Header; } KEVENT, *PKEVENT, *PRKEVENT;

struct _KDPC;
typedef VOID (*PKDEFERRED_ROUTINE)(struct _KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1,
                                   PVOID SystemArgument2);
typedef struct _KDPC {
  CSHORT Type;
  UCHAR Number;
  UCHAR Importance;
  LIST_ENTRY DpcListEntry;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
  PULONG_PTR Lock;
} KDPC, *PKDPC, *PRKDPC;

typedef struct _KTIMER {
  DISPATCHER_HEADER Header;
  LARGE_INTEGER DueTime;  // absolute, in 100-ns units of the kernel clock
  LIST_ENTRY TimerListEntry;
  struct _KDPC* Dpc;
  LONG Period;
} KTIMER, *PKTIMER;

typedef enum _KWAIT_REASON { Executive = 0 } KWAIT_REASON;
typedef enum _MODE { KernelMode = 0, UserMode = 1 } MODE;

// ---- work items ---------------------------------------------------------------------------
typedef VOID (*PWORKER_THREAD_ROUTINE)(PVOID Parameter);
typedef struct _WORK_QUEUE_ITEM {
  LIST_ENTRY List;
  PWORKER_THREAD_ROUTINE WorkerRoutine;
  PVOID Parameter;
} WORK_QUEUE_ITEM, *PWORK_QUEUE_ITEM;
typedef enum _WORK_QUEUE_TYPE { CriticalWorkQueue, DelayedWorkQueue, HyperCriticalWorkQueue } WORK_QUEUE_TYPE;
#define ExInitializeWorkItem(Item, Routine, Context) \
  do { (Item)->WorkerRoutine = (Routine); (Item)->Parameter = (Context); (Item)->List.Flink = nullptr; } while (0)

typedef enum _POOL_TYPE { NonPagedPool = 0, PagedPool = 1 } POOL_TYPE;

// ---- I/O ------------------------------------------------------------------------------------
typedef struct _IO_STATUS_BLOCK {
  union { NTSTATUS Status; PVOID Pointer; };
  ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

struct _IRP;
struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;
typedef NTSTATUS (*PDRIVER_DISPATCH)(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef VOID (*PDRIVER_CANCEL)(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef NTSTATUS (*PIO_COMPLETION_ROUTINE)(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp, PVOID Context);
typedef NTSTATUS (*PDRIVER_ADD_DEVICE)(struct _DRIVER_OBJECT* DriverObject, struct _DEVICE_OBJECT* PhysicalDeviceObject);
typedef VOID (*PDRIVER_UNLOAD)(struct _DRIVER_OBJECT* DriverObject);
typedef NTSTATUS (*PDRIVER_INITIALIZE)(struct _DRIVER_OBJECT* DriverObject, PUNICODE_STRING RegistryPath);

#define IRP_MJ_CREATE                   0x00
#define IRP_MJ_CLOSE                    0x02
#define IRP_MJ_DEVICE_CONTROL           0x0e
#define IRP_MJ_INTERNAL_DEVICE_CONTROL  0x0f
#define IRP_MJ_POWER                    0x16
#define IRP_MJ_SYSTEM_CONTROL           0x17
#define IRP_MJ_PNP                      0x1b
#define IRP_MJ_MAXIMUM_FUNCTION         0x1b

#define IRP_MN_START_DEVICE             0x00
#define IRP_MN_QUERY_REMOVE_DEVICE      0x01
#define IRP_MN_REMOVE_DEVICE            0x02
#define IRP_MN_CANCEL_REMOVE_DEVICE     0x03
#define IRP_MN_STOP_DEVICE              0x04
#define IRP_MN_QUERY_STOP_DEVICE        0x05
#define IRP_MN_CANCEL_STOP_DEVICE       0x06
#define IRP_MN_QUERY_DEVICE_RELATIONS   0x07
#define IRP_MN_QUERY_INTERFACE          0x08
#define IRP_MN_QUERY_CAPABILITIES       0x09
#define IRP_MN_QUERY_RESOURCES          0x0A
#define IRP_MN_QUERY_RESOURCE_REQUIREMENTS 0x0B
#define IRP_MN_QUERY_DEVICE_TEXT        0x0C
#define IRP_MN_QUERY_ID                 0x13
#define IRP_MN_QUERY_PNP_DEVICE_STATE   0x14
#define IRP_MN_SURPRISE_REMOVAL         0x17

#define IRP_MN_WAIT_WAKE                0x00
#define IRP_MN_POWER_SEQUENCE           0x01
#define IRP_MN_SET_POWER                0x02
#define IRP_MN_QUERY_POWER              0x03

typedef enum _BUS_QUERY_ID_TYPE {
  BusQueryDeviceID = 0, BusQueryHardwareIDs = 1, BusQueryCompatibleIDs = 2, BusQueryInstanceID = 3,
  BusQueryDeviceSerialNumber = 4
} BUS_QUERY_ID_TYPE;

typedef enum _POWER_STATE_TYPE { SystemPowerState = 0, DevicePowerState = 1 } POWER_STATE_TYPE;
typedef union _POWER_STATE { ULONG SystemState; ULONG DeviceState; } POWER_STATE;

// Control flags of a stack location.
#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

typedef struct _IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct { BUS_QUERY_ID_TYPE IdType; } QueryId;
    struct {
      ULONG SystemContext;
      POWER_STATE_TYPE Type;
      POWER_STATE State;
      ULONG ShutdownType;
    } Power;
    struct { PVOID Argument1; PVOID Argument2; PVOID Argument3; PVOID Argument4; } Others;
  } Parameters;
  struct _DEVICE_OBJECT* DeviceObject;
  PVOID FileObject;
  PIO_COMPLETION_ROUTINE CompletionRoutine;
  PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

typedef struct _IRP {
  CSHORT Type;
  USHORT Size;
  PVOID MdlAddress;
  ULONG Flags;
  union { PVOID SystemBuffer; } AssociatedIrp;
  LIST_ENTRY ThreadListEntry;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CHAR StackCount;
  CHAR CurrentLocation;
  BOOLEAN Cancel;
  KIRQL CancelIrql;
  CCHAR ApcEnvironment;
  UCHAR AllocationFlags;
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  PDRIVER_CANCEL CancelRoutine;
  PVOID UserBuffer;
  union {
    struct {
      PVOID DriverContext[4];
      PVOID Thread;
      PCHAR AuxiliaryBuffer;
      struct {
        LIST_ENTRY ListEntry;
        struct _IO_STACK_LOCATION* CurrentStackLocation;
      };
      PVOID OriginalFileObject;
    } Overlay;
  } Tail;
} IRP, *PIRP;

typedef struct _DEVICE_OBJECT {
  CSHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  struct _DRIVER_OBJECT* DriverObject;
  struct _DEVICE_OBJECT* NextDevice;
  struct _DEVICE_OBJECT* AttachedDevice;
  struct _IRP* CurrentIrp;
  ULONG Flags;
  ULONG Characteristics;
  PVOID DeviceExtension;
  ULONG DeviceType;
  CCHAR StackSize;
} DEVICE_OBJECT, *PDEVICE_OBJECT;

typedef struct _DRIVER_EXTENSION {
  struct _DRIVER_OBJECT* DriverObject;
  PDRIVER_ADD_DEVICE AddDevice;
  ULONG Count;
  UNICODE_STRING ServiceKeyName;
} DRIVER_EXTENSION, *PDRIVER_EXTENSION;

typedef struct _DRIVER_OBJECT {
  CSHORT Type;
  CSHORT Size;
  PDEVICE_OBJECT DeviceObject;
  ULONG Flags;
  PVOID DriverStart;
  ULONG DriverSize;
  PVOID DriverSection;
  PDRIVER_EXTENSION DriverExtension;
  UNICODE_STRING DriverName;
  PUNICODE_STRING HardwareDatabase;
  PVOID FastIoDispatch;
  PDRIVER_INITIALIZE DriverInit;
  PVOID DriverStartIo;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

#define IO_NO_INCREMENT 0

extern "C" {
// I/O manager.
NTSTATUS FASTCALL IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
VOID FASTCALL IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost);
VOID IoAcquireCancelSpinLock(PKIRQL Irql);
VOID IoReleaseCancelSpinLock(KIRQL Irql);
BOOLEAN IoCancelIrp(PIRP Irp);
PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota);
VOID IoFreeIrp(PIRP Irp);
VOID IoReuseIrp(PIRP Irp, NTSTATUS Status);

// Kernel.
VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
VOID KeInitializeTimer(PKTIMER Timer);
BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
BOOLEAN KeCancelTimer(PKTIMER Timer);
BOOLEAN KeReadStateTimer(PKTIMER Timer);
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
KIRQL KeGetCurrentIrql(void);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval);

// Executive.
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);
VOID ExFreePool(PVOID P);
VOID ExQueueWorkItem(PWORK_QUEUE_ITEM WorkItem, WORK_QUEUE_TYPE QueueType);
PLIST_ENTRY FASTCALL ExfInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
PLIST_ENTRY FASTCALL ExfInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
PLIST_ENTRY FASTCALL ExfInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock);

// Power manager.
VOID PoStartNextPowerIrp(PIRP Irp);
NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);
}

#define IoCallDriver IofCallDriver
#define IoCompleteRequest IofCompleteRequest
#define ExInterlockedInsertHeadList ExfInterlockedInsertHeadList
#define ExInterlockedInsertTailList ExfInterlockedInsertTailList
#define ExInterlockedRemoveHeadList ExfInterlockedRemoveHeadList

inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedIncrement(LONG volatile* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation; }
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) { return irp->Tail.Overlay.CurrentStackLocation - 1; }
inline void IoMarkIrpPending(PIRP irp) { IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED; }
inline void IoCopyCurrentIrpStackLocationToNext(PIRP irp) {
  PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(irp), next = IoGetNextIrpStackLocation(irp);
  // Everything up to, not including, the completion routine and its context.
  __builtin_memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
  next->Control = 0;
}
inline void IoSkipCurrentIrpStackLocation(PIRP irp) {
  irp->CurrentLocation++;
  irp->Tail.Overlay.CurrentStackLocation++;
}
inline void IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN on_success,
                                   BOOLEAN on_error, BOOLEAN on_cancel) {
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->CompletionRoutine = routine;
  next->Context = context;
  next->Control = 0;
  if (on_success) next->Control |= SL_INVOKE_ON_SUCCESS;
  if (on_error) next->Control |= SL_INVOKE_ON_ERROR;
  if (on_cancel) next->Control |= SL_INVOKE_ON_CANCEL;
}
inline PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine) {
  return __atomic_exchange_n(&irp->CancelRoutine, routine, __ATOMIC_SEQ_CST);
}
