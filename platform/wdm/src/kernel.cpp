// Kernel: IRQL, spin locks, deferred routines, timers and the clock.
//
// The IRQL is kept per thread; a spin lock raises it to dispatch level and spins (yielding) until
// the lock is free. Timers sit in one table ordered by due time (absolute, 100-ns units of the
// kernel clock). On the real and the virtual clock a timer thread takes each timer as it falls
// due, signals it and runs its deferred routine at dispatch level; the virtual clock jumps to the
// next due time at once. On the manual clock AdvanceTime does the same on its caller's thread.
// A timer is signalled from its expiry until it is set again; KeSetEvent on a timer object
// signals it too.
#include <chrono>
#include <thread>

#include "internal.h"

namespace wdm {
namespace {

thread_local KIRQL current_irql = PASSIVE_LEVEL;

std::mutex timer_mutex;
std::condition_variable timer_cv;
std::condition_variable timer_idle_cv;
std::vector<PKTIMER> armed;
ClockMode clock_mode = ClockMode::Manual;
int64_t virtual_now = 0;
int dpcs_running = 0;
bool timers_stopping = false;
bool clock_held = false;
std::thread timer_thread;
std::chrono::steady_clock::time_point real_start;

int64_t NowLocked() {
  if (clock_mode == ClockMode::Real)
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - real_start).count() / 100;
  return virtual_now;
}

bool Disarm(PKTIMER timer) {
  for (auto it = armed.begin(); it != armed.end(); ++it) {
    if (*it == timer) {
      armed.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<PKTIMER>::iterator Earliest() {
  auto best = armed.begin();
  for (auto it = armed.begin(); it != armed.end(); ++it)
    if ((*it)->DueTime.QuadPart < (*best)->DueTime.QuadPart) best = it;
  return best;
}

// Takes the earliest timer (due by now), signals it; returns its deferred routine to run.
PKDPC Expire(std::vector<PKTIMER>::iterator it) {
  PKTIMER timer = *it;
  armed.erase(it);
  timer->Header.Inserted = FALSE;
  __atomic_store_n(&timer->Header.SignalState, 1, __ATOMIC_RELEASE);
  return timer->Dpc;
}

void RunDpc(PKDPC dpc) {
  if (dpc == nullptr) return;
  KIRQL old = current_irql;
  current_irql = DISPATCH_LEVEL;
  dpc->DeferredRoutine(dpc, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2);
  current_irql = old;
}

void TimerLoop() {
  std::unique_lock lock(timer_mutex);
  for (;;) {
    timer_cv.wait(lock, [] { return timers_stopping || (!armed.empty() && !clock_held); });
    if (timers_stopping) return;
    auto it = Earliest();
    const int64_t due = (*it)->DueTime.QuadPart;
    if (clock_mode == ClockMode::Real) {
      const int64_t now = NowLocked();
      if (due > now) {
        timer_cv.wait_for(lock, std::chrono::nanoseconds((due - now) * 100));
        continue;  // the table may have changed meanwhile
      }
    } else if (due > virtual_now) {
      virtual_now = due;
    }
    PKDPC dpc = Expire(it);
    ++dpcs_running;
    lock.unlock();
    RunDpc(dpc);
    lock.lock();
    --dpcs_running;
    timer_idle_cv.notify_all();
  }
}

}  // namespace

namespace internal {

void TimersStart(ClockMode mode) {
  std::lock_guard lock(timer_mutex);
  armed.clear();
  clock_mode = mode;
  virtual_now = 0;
  dpcs_running = 0;
  timers_stopping = false;
  clock_held = false;
  real_start = std::chrono::steady_clock::now();
  if (mode != ClockMode::Manual) timer_thread = std::thread(TimerLoop);
}

void TimersStop() {
  {
    std::lock_guard lock(timer_mutex);
    timers_stopping = true;
  }
  timer_cv.notify_all();
  if (timer_thread.joinable()) timer_thread.join();
  std::lock_guard lock(timer_mutex);
  armed.clear();
}

}  // namespace internal

int64_t Now() {
  std::lock_guard lock(timer_mutex);
  return NowLocked();
}

void AdvanceTime(int64_t ms) {
  std::unique_lock lock(timer_mutex);
  if (clock_mode != ClockMode::Manual) internal::Fatal("AdvanceTime needs the manual clock");
  const int64_t target = virtual_now + ms * 10000;
  for (;;) {
    if (armed.empty()) break;
    auto it = Earliest();
    if ((*it)->DueTime.QuadPart > target) break;
    virtual_now = (*it)->DueTime.QuadPart;
    PKDPC dpc = Expire(it);
    lock.unlock();
    RunDpc(dpc);
    lock.lock();
  }
  virtual_now = target;
}

void HoldClock(bool hold) {
  {
    std::lock_guard lock(timer_mutex);
    clock_held = hold;
  }
  timer_cv.notify_all();
}

void WaitForTimers() {
  std::unique_lock lock(timer_mutex);
  if (clock_mode == ClockMode::Manual) return;
  timer_idle_cv.wait(lock, [] { return (armed.empty() || clock_held) && dpcs_running == 0; });
}

int ArmedTimers() {
  std::lock_guard lock(timer_mutex);
  return static_cast<int>(armed.size());
}

}  // namespace wdm

extern "C" {

KIRQL KeGetCurrentIrql(void) { return wdm::current_irql; }

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE); }

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql) {
  *OldIrql = wdm::current_irql;
  wdm::current_irql = DISPATCH_LEVEL;
  while (__atomic_exchange_n(SpinLock, 1, __ATOMIC_ACQUIRE) != 0) {
    while (__atomic_load_n(SpinLock, __ATOMIC_RELAXED) != 0) std::this_thread::yield();
  }
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql) {
  __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE);
  wdm::current_irql = NewIrql;
}

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext) {
  *Dpc = KDPC{};
  Dpc->Type = 19;
  Dpc->DeferredRoutine = DeferredRoutine;
  Dpc->DeferredContext = DeferredContext;
}

VOID KeInitializeTimer(PKTIMER Timer) {
  std::lock_guard lock(wdm::timer_mutex);
  wdm::Disarm(Timer);
  *Timer = KTIMER{};
  Timer->Header.Type = 8;  // notification timer
  InitializeListHead(&Timer->Header.WaitListHead);
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) {
  {
    std::lock_guard lock(wdm::timer_mutex);
    const bool was_armed = wdm::Disarm(Timer);
    __atomic_store_n(&Timer->Header.SignalState, 0, __ATOMIC_RELEASE);
    const int64_t now = wdm::NowLocked();
    Timer->DueTime.QuadPart = DueTime.QuadPart < 0 ? now - DueTime.QuadPart : DueTime.QuadPart;
    Timer->Dpc = Dpc;
    Timer->Header.Inserted = TRUE;
    wdm::armed.push_back(Timer);
    wdm::timer_cv.notify_all();
    return was_armed;
  }
}

BOOLEAN KeCancelTimer(PKTIMER Timer) {
  std::lock_guard lock(wdm::timer_mutex);
  const bool was_armed = wdm::Disarm(Timer);
  Timer->Header.Inserted = FALSE;
  wdm::timer_idle_cv.notify_all();
  return was_armed;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer) { return __atomic_load_n(&Timer->Header.SignalState, __ATOMIC_ACQUIRE) != 0; }

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
  return __atomic_exchange_n(&Event->Header.SignalState, 1, __ATOMIC_ACQ_REL);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval) {
  int64_t units = Interval->QuadPart < 0 ? -Interval->QuadPart : 10000;
  std::this_thread::sleep_for(std::chrono::nanoseconds(units * 100));
  return STATUS_SUCCESS;
}

}  // extern "C"
