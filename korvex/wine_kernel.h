// Forced into every source of the x86-64 image, which runs under Wine's kernel.
//
// Wine 8's kernel lacks ExInterlockedInsertHeadList, ExInterlockedInsertTailList,
// KeReadStateTimer and ExQueueWorkItem (a call ends the driver's host process), and its
// ExInterlockedRemoveHeadList hands back the list head itself, not NULL, when the list is empty.
//
// The three queue operations are therefore made here from the spin lock and the plain list
// operations, with the results the Windows kernel gives: insertion returns the entry that was
// first (head) or last (tail) before it, or NULL when the list was empty; removal returns the
// entry taken, or NULL. A timer's state is its dispatcher header's signal state: setting the timer
// clears it and the timer's expiry sets it, as on Windows (Wine's own expiry does not). A work item
// runs on a system thread of its own, started for it.
#pragma once

#include "frame.h"

static inline PLIST_ENTRY KorvexInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
  KIRQL irql;
  KeAcquireSpinLock(lock, &irql);
  PLIST_ENTRY first = IsListEmpty(head) ? nullptr : head->Flink;
  InsertHeadList(head, entry);
  KeReleaseSpinLock(lock, irql);
  return first;
}

static inline PLIST_ENTRY KorvexInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock) {
  KIRQL irql;
  KeAcquireSpinLock(lock, &irql);
  PLIST_ENTRY last = IsListEmpty(head) ? nullptr : head->Blink;
  InsertTailList(head, entry);
  KeReleaseSpinLock(lock, irql);
  return last;
}

static inline PLIST_ENTRY KorvexRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock) {
  KIRQL irql;
  KeAcquireSpinLock(lock, &irql);
  PLIST_ENTRY first = IsListEmpty(head) ? nullptr : RemoveHeadList(head);
  KeReleaseSpinLock(lock, irql);
  return first;
}

static inline BOOLEAN KorvexReadStateTimer(PKTIMER timer) {
  return __atomic_load_n(&timer->Header.SignalState, __ATOMIC_ACQUIRE) != 0;
}

// Runs in place of a timer's deferred routine, so that the routine finds the timer as Windows
// leaves it: expired, signalled and out of the timer queue. Wine calls the routine while it still
// counts the timer as queued (byte 3 of the dispatcher header), and setting the timer again from
// the routine would then wait for the routine's own end. The routine and the timer are kept in
// the deferred-routine object's list link, which Wine's kernel does not use.
static VOID NTAPI KorvexExpireTimer(PKDPC dpc, PVOID context, PVOID argument1, PVOID argument2) {
  auto timer = reinterpret_cast<PKTIMER>(dpc->DpcListEntry.Blink);
  auto routine = reinterpret_cast<PKDEFERRED_ROUTINE>(dpc->DpcListEntry.Flink);
  __atomic_store_n(&reinterpret_cast<UCHAR*>(&timer->Header)[3], 0, __ATOMIC_RELEASE);
  __atomic_store_n(&timer->Header.SignalState, 1, __ATOMIC_RELEASE);
  routine(dpc, context, argument1, argument2);
}

static inline BOOLEAN KorvexSetTimer(PKTIMER timer, LARGE_INTEGER due, PKDPC dpc) {
  if (dpc->DeferredRoutine != KorvexExpireTimer) {
    dpc->DpcListEntry.Flink = reinterpret_cast<PLIST_ENTRY>(dpc->DeferredRoutine);
    dpc->DeferredRoutine = KorvexExpireTimer;
  }
  dpc->DpcListEntry.Blink = reinterpret_cast<PLIST_ENTRY>(timer);
  __atomic_store_n(&timer->Header.SignalState, 0, __ATOMIC_RELEASE);
  return KeSetTimer(timer, due, dpc);
}

static inline VOID KorvexQueueWorkItem(PWORK_QUEUE_ITEM item, WORK_QUEUE_TYPE) {
  HANDLE thread;
  if (NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                      item->WorkerRoutine, item->Parameter)))
    ZwClose(thread);
}

#undef ExInterlockedInsertHeadList
#undef ExInterlockedInsertTailList
#undef ExInterlockedRemoveHeadList
#define ExInterlockedInsertHeadList KorvexInsertHeadList
#define ExInterlockedInsertTailList KorvexInsertTailList
#define ExInterlockedRemoveHeadList KorvexRemoveHeadList
#define KeReadStateTimer KorvexReadStateTimer
#define KeSetTimer KorvexSetTimer
#define ExQueueWorkItem KorvexQueueWorkItem
