// KORVEX button input: the keyboard filter and the loading of the class driver module.
//
// The filter sits in the keyboard driver's VKD_Filter_Keyboard_Input chain from load to unload,
// whatever the device does. It never changes or swallows a scan code; for the button codes and
// a few break codes it queues a key event and runs the report pump. Typematic repeats: a held
// button repeats its make code; a make code equal to the last button code seen passes without a
// new event, since the key is already down for Windows (the repeat is Windows' own business).
// Bytes that are no button (prefixes, other keys) leave that memory alone, so E0 5E E0 5E is
// one press too.
#include "button_input.h"

#include "hid_interface.h"
#include "vxd_services.h"

extern "C" {
void* PreviousFilter;
void* ResolvedRegisterEntry;
}

namespace {

// The last button-table code seen; only ever touched by the keyboard input path.
UCHAR LastScanCode;

// Loader nesting and retries are bounded, so a module table whose imports form a cycle, or a
// loader that keeps naming the same missing module, ends in a failure instead of a stack
// overflow or an endless loop.
constexpr int kMaxImportDepth = 16;
constexpr int kMaxImportRetries = 64;
constexpr long kLoadFailed = -1;
constexpr long kMissingImport = -12;

void* LoadAcquire(void** cell) { return __atomic_load_n(cell, __ATOMIC_ACQUIRE); }

void QueueClassDriverLoad() {
  PWORK_QUEUE_ITEM item =
      static_cast<PWORK_QUEUE_ITEM>(ExAllocatePoolWithTag(NonPagedPool, sizeof(WORK_QUEUE_ITEM), KORVEX_POOL_TAG));
  if (item == nullptr) return;
  __atomic_add_fetch(&OutstandingWorkItems, 1, __ATOMIC_ACQ_REL);
  ExInitializeWorkItem(item, LoadClassDriver, item);
  ExQueueWorkItem(item, DelayedWorkQueue);
}

long LoadModuleNested(void** handle, const char* name, int depth) {
  if (depth > kMaxImportDepth) return kLoadFailed;
  char buffer[260];
  buffer[0] = 0;
  long r = VxdLoadModule(handle, name, buffer);
  for (int tries = 0; r == kMissingImport; ++tries) {
    if (tries == kMaxImportRetries) return kLoadFailed;
    buffer[sizeof(buffer) - 1] = 0;
    void* other = nullptr;
    long r2 = LoadModuleNested(&other, buffer, depth + 1);
    if (r2 != 0) return r2;
    r = VxdLoadModule(handle, name, buffer);
  }
  return r;
}

}  // namespace

int ScanCodeUsage(UCHAR code) {
  switch (code) {
    case 0x5E: return 0x81;
    case 0x5F: return 0x82;
    case 0x63: return 0x83;
    case 0x67: return 0x6D;
    case 0x6B: return 0x6E;
    // Breaks of the five buttons.
    case 0xDE: case 0xDF: case 0xE3: case 0xE7: case 0xEB:
    // Breaks of F8, F9, F10, F11 and F12.
    case 0xC2: case 0xC3: case 0xC4: case 0xD7: case 0xD8:
      return 0;
    default:
      return -1;
  }
}

VOID HookKeyboardFilter() {
  // The filter state starts from zero at every load.
  __atomic_store_n(&ResolvedRegisterEntry, nullptr, __ATOMIC_RELEASE);
  __atomic_store_n(&LastScanCode, 0, __ATOMIC_RELAXED);
  void* previous = nullptr;
  if (VxdHookDeviceService(VKD_FILTER_KEYBOARD_INPUT, &previous))
    __atomic_store_n(&PreviousFilter, previous, __ATOMIC_RELEASE);
}

VOID UnhookKeyboardFilter() {
  VxdUnhookDeviceService(VKD_FILTER_KEYBOARD_INPUT);
  __atomic_store_n(&PreviousFilter, nullptr, __ATOMIC_RELEASE);
}

extern "C" unsigned long FilterScanCode(unsigned long code) {
  const UCHAR c = static_cast<UCHAR>(code & 0xFF);
  const int usage = ScanCodeUsage(c);
  if (usage < 0) return c;

  const UCHAR last = __atomic_exchange_n(&LastScanCode, c, __ATOMIC_RELAXED);
  const bool make = (c & 0x80) == 0;
  if (make && c == last) return c;  // typematic repeat of a held button

  if (make && LoadAcquire(&ResolvedRegisterEntry) == nullptr) QueueClassDriverLoad();

  PREPORT_ENTRY entry =
      static_cast<PREPORT_ENTRY>(ExAllocatePoolWithTag(NonPagedPool, sizeof(REPORT_ENTRY), KORVEX_POOL_TAG));
  if (entry == nullptr) return c;
  entry->Usage = static_cast<USHORT>(usage);
  ExInterlockedInsertTailList(&ReportQueue, &entry->Link, &ReportQueueLock);
  DeliverReports();
  return c;
}

VOID NTAPI LoadClassDriver(PVOID WorkItem) {
  ExFreePool(WorkItem);
  if (LoadAcquire(&ResolvedRegisterEntry) == nullptr) {
    void* handle = nullptr;
    if (LoadModuleWithImports(&handle, "hidclass.sys") == 0) {
      void* entry = VxdGetProcAddress(handle, "HidRegisterMinidriver");
      if (entry != nullptr) __atomic_store_n(&ResolvedRegisterEntry, entry, __ATOMIC_RELEASE);
    }
  }
  __atomic_sub_fetch(&OutstandingWorkItems, 1, __ATOMIC_RELEASE);
}

long LoadModuleWithImports(void** Handle, const char* Name) { return LoadModuleNested(Handle, Name, 0); }

#if !defined(_WIN32)
// The hook procedure on the host: VKD's filter chain calls it with the scan code in the low byte
// of ECX, and it passes the code on, unchanged, to the handler that followed it.
extern "C" unsigned long KeyboardFilterHook(unsigned long ecx) {
  const unsigned long code = FilterScanCode(ecx);
  ecx = (ecx & ~0xFFUL) | (code & 0xFF);
  auto previous = reinterpret_cast<unsigned long (*)(unsigned long)>(LoadAcquire(&PreviousFilter));
  return previous != nullptr ? previous(ecx) : ecx;
}
#endif
