// Executive: non-paged pool, system worker threads and the interlocked list operations.
//
// Every block carries its tag and an ordinal; the live blocks are known by address, so a leak
// shows in the counts by tag and freeing a block twice (or one the pool never gave) is fatal.
// Fault injection fails every allocation from a chosen ordinal on. Work items run on a fixed
// set of worker threads, in the order queued; WaitForWork waits until none is queued or running.
#include <cstdlib>
#include <deque>
#include <thread>
#include <unordered_map>

#include "internal.h"

namespace wdm {
namespace {

struct Block {
  ULONG tag;
  uint64_t ordinal;
};

std::mutex pool_mutex;
std::unordered_map<void*, Block> live_blocks;
uint64_t allocations = 0;
uint64_t failed = 0;
uint64_t fail_from = 0;

std::mutex work_mutex;
std::condition_variable work_cv;
std::condition_variable idle_cv;
std::deque<PWORK_QUEUE_ITEM> work_queue;
int work_running = 0;
bool workers_stopping = false;
std::vector<std::thread> workers;

void WorkerLoop() {
  std::unique_lock lock(work_mutex);
  for (;;) {
    work_cv.wait(lock, [] { return workers_stopping || !work_queue.empty(); });
    if (work_queue.empty()) return;
    PWORK_QUEUE_ITEM item = work_queue.front();
    work_queue.pop_front();
    ++work_running;
    PWORKER_THREAD_ROUTINE routine = item->WorkerRoutine;
    PVOID parameter = item->Parameter;
    lock.unlock();
    routine(parameter);  // may free the item itself
    lock.lock();
    --work_running;
    idle_cv.notify_all();
  }
}

}  // namespace

namespace internal {

void PoolStart() {
  std::lock_guard lock(pool_mutex);
  live_blocks.clear();
  allocations = failed = fail_from = 0;
}

void PoolStop() {
  std::lock_guard lock(pool_mutex);
  for (auto& [address, block] : live_blocks) std::free(address);
  live_blocks.clear();
}

void WorkersStart(int count) {
  std::lock_guard lock(work_mutex);
  workers_stopping = false;
  work_queue.clear();
  for (int i = 0; i < count; ++i) workers.emplace_back(WorkerLoop);
}

void WorkersStop() {
  {
    std::unique_lock lock(work_mutex);
    idle_cv.wait(lock, [] { return work_queue.empty() && work_running == 0; });
    workers_stopping = true;
  }
  work_cv.notify_all();
  for (auto& t : workers) t.join();
  workers.clear();
}

}  // namespace internal

PoolStats GetPoolStats() {
  std::lock_guard lock(pool_mutex);
  PoolStats stats;
  stats.allocations = allocations;
  stats.failed = failed;
  stats.live_blocks = live_blocks.size();
  for (auto& [address, block] : live_blocks) ++stats.live_by_tag[block.tag];
  return stats;
}

void FailAllocationsFrom(uint64_t ordinal) {
  std::lock_guard lock(pool_mutex);
  fail_from = ordinal;
}

void WaitForWork() {
  std::unique_lock lock(work_mutex);
  idle_cv.wait(lock, [] { return work_queue.empty() && work_running == 0; });
}

}  // namespace wdm

using wdm::internal::Fatal;

extern "C" {

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T NumberOfBytes, ULONG Tag) {
  if (!wdm::internal::SessionActive()) Fatal("ExAllocatePoolWithTag outside a kernel session");
  std::lock_guard lock(wdm::pool_mutex);
  const uint64_t ordinal = ++wdm::allocations;
  if (wdm::fail_from != 0 && ordinal >= wdm::fail_from) {
    ++wdm::failed;
    return nullptr;
  }
  void* block = std::malloc(NumberOfBytes == 0 ? 1 : NumberOfBytes);
  if (block == nullptr) return nullptr;
  wdm::live_blocks[block] = {Tag, ordinal};
  return block;
}

VOID ExFreePool(PVOID P) {
  {
    std::lock_guard lock(wdm::pool_mutex);
    if (wdm::live_blocks.erase(P) == 0) Fatal("ExFreePool(%p): not a live pool block (freed twice?)", P);
  }
  std::free(P);
}

VOID ExQueueWorkItem(PWORK_QUEUE_ITEM WorkItem, WORK_QUEUE_TYPE) {
  {
    std::lock_guard lock(wdm::work_mutex);
    if (wdm::workers.empty() || wdm::workers_stopping) Fatal("ExQueueWorkItem while no worker thread runs");
    wdm::work_queue.push_back(WorkItem);
  }
  wdm::work_cv.notify_one();
}

PLIST_ENTRY FASTCALL ExfInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock) {
  KIRQL irql;
  KeAcquireSpinLock(Lock, &irql);
  PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : ListHead->Flink;
  InsertHeadList(ListHead, ListEntry);
  KeReleaseSpinLock(Lock, irql);
  return first;
}

PLIST_ENTRY FASTCALL ExfInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock) {
  KIRQL irql;
  KeAcquireSpinLock(Lock, &irql);
  PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : ListHead->Flink;
  InsertTailList(ListHead, ListEntry);
  KeReleaseSpinLock(Lock, irql);
  return first;
}

PLIST_ENTRY FASTCALL ExfInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock) {
  KIRQL irql;
  KeAcquireSpinLock(Lock, &irql);
  PLIST_ENTRY entry = IsListEmpty(ListHead) ? nullptr : RemoveHeadList(ListHead);
  KeReleaseSpinLock(Lock, irql);
  return entry;
}

}  // extern "C"
