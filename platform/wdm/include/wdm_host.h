// Control of the simulated kernel from the host side: the session that owns the kernel's state
// and threads, its clock, pool accounting and fault injection, and requests sent to a driver.
#pragma once

#include <ddk/wdm.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace wdm {

enum class ClockMode {
  Real,     // the host's steady clock: timers wait as long as they say
  Virtual,  // a clock that jumps to the next due timer at once
  Manual,   // a clock that moves only by AdvanceTime; deferred routines run on that caller
};

struct KernelOptions {
  ClockMode clock = ClockMode::Manual;
  int workers = 2;  // system worker threads
};

// The kernel of one run: pool, timers with their thread, worker threads, cancel lock, VxD
// services. One session at a time per process; its destructor stops the threads.
class KernelSession {
 public:
  explicit KernelSession(KernelOptions options = {});
  ~KernelSession();
  KernelSession(const KernelSession&) = delete;
  KernelSession& operator=(const KernelSession&) = delete;
};

// Kernel time in 100-ns units since the session began.
int64_t Now();
// Manual clock: moves time forward by `ms`, running each deferred routine that falls due.
void AdvanceTime(int64_t ms);
// Until no work item is queued or running.
void WaitForWork();
// Until no timer is armed and no deferred routine runs (not on the manual clock).
void WaitForTimers();
// Both, until the kernel is quiet.
void WaitIdle();
// Virtual clock: while held, time stands still and no timer falls due (a script's steps that
// belong together, such as several writes, happen at one instant).
void HoldClock(bool hold);
// Timers armed now.
int ArmedTimers();

struct PoolStats {
  uint64_t allocations = 0;  // attempts so far, failed ones included
  uint64_t failed = 0;
  uint64_t live_blocks = 0;
  std::map<uint32_t, uint64_t> live_by_tag;
};
PoolStats GetPoolStats();
// The allocation with this ordinal (1 = the session's first) and every later one fail; 0 = none.
void FailAllocationsFrom(uint64_t ordinal);

// Requests seen by the I/O manager.
struct IoStats {
  uint64_t sent = 0;       // requests handed to a driver by their originator
  uint64_t completed = 0;  // completions (each request at most once per sending)
  uint64_t live = 0;       // allocated and not freed
  uint64_t in_driver = 0;  // sent and not completed yet
};
IoStats GetIoStats();

// A request sent by the host side (the class driver, the Plug and Play manager, a test), with
// its own buffer. Its completion routine at the top records the outcome and keeps the request
// for its owner (it is freed by the destructor, never while a driver holds it).
class IoRequest {
 public:
  explicit IoRequest(CCHAR stack_size);
  ~IoRequest();
  IoRequest(const IoRequest&) = delete;
  IoRequest& operator=(const IoRequest&) = delete;

  PIRP irp() const { return irp_; }
  PIO_STACK_LOCATION first() const;  // the stack location the first driver sees
  // An internal device-control request: `buffer_size` < 0 means no buffer at all.
  void SetInternalIoctl(ULONG code, long buffer_size, PVOID input = nullptr);
  void SetPnp(UCHAR minor);
  void SetPower(UCHAR minor);
  // Hands the request to `device` and returns what its dispatch routine returned.
  NTSTATUS Send(PDEVICE_OBJECT device);
  // Ready for sending again (the request must be complete).
  void Reuse();

  bool done() const { return completions_.load() > 0; }
  int completions() const { return completions_.load(); }
  NTSTATUS status() const { return status_; }
  ULONG_PTR information() const { return information_; }
  bool pending_returned() const { return pending_returned_; }
  int64_t completed_at() const { return completed_at_; }
  std::vector<uint8_t>& buffer() { return buffer_; }
  bool WaitDone(int timeout_ms = 10000);

  // Runs inside the completion (any thread) after the outcome is recorded.
  std::function<void(IoRequest&)> on_complete;

 private:
  static NTSTATUS TopCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context);
  PIRP irp_;
  std::vector<uint8_t> buffer_;
  std::atomic<int> completions_{0};
  NTSTATUS status_ = 0;
  ULONG_PTR information_ = 0;
  bool pending_returned_ = false;
  int64_t completed_at_ = 0;
  std::mutex mutex_;
  std::condition_variable done_cv_;
};

}  // namespace wdm
