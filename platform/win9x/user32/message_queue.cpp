#include "user32/message_queue.h"

#include <atomic>

namespace w9x::user32 {

DWORD CurrentThreadId() {
  static std::atomic<DWORD> next{0x10};
  thread_local DWORD id = next.fetch_add(0x10);
  return id;
}

void ThreadQueue::Post(const PostedMessage& m) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(m);
  }
  changed_.notify_all();
}

void ThreadQueue::PostQuit(int code) {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    quit_code_ = code;
  }
  changed_.notify_all();
}

std::future<LRESULT> ThreadQueue::Send(const PostedMessage& m) {
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = m.hwnd;
  sent->message = m.message;
  sent->wparam = m.wparam;
  sent->lparam = m.lparam;
  std::future<LRESULT> f = sent->answer.get_future();
  {
    std::lock_guard lock(mutex_);
    sent_.push_back(std::move(sent));
  }
  changed_.notify_all();
  return f;
}

void ThreadQueue::Wake() {
  {
    std::lock_guard lock(mutex_);
    ++wakes_;
  }
  changed_.notify_all();
}

void ThreadQueue::SetTimer(const Timer& t) {
  std::lock_guard lock(mutex_);
  for (Timer& existing : timers_) {
    if (existing.hwnd == t.hwnd && existing.id == t.id) {
      existing = t;  // setting a timer again restarts it with the new period
      return;
    }
  }
  timers_.push_back(t);
}

bool ThreadQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(mutex_);
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->hwnd == hwnd && it->id == id) {
      timers_.erase(it);
      // A WM_TIMER already taken from the queue is not taken back; none waits in posted_.
      return true;
    }
  }
  return false;
}

void ThreadQueue::KillTimersOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
}

bool ThreadQueue::TakeTimer(MSG& out, std::uint64_t now) {
  Timer* first = nullptr;
  for (Timer& t : timers_)
    if (t.due <= now && (!first || t.due < first->due)) first = &t;
  if (!first) return false;
  out = MSG{};
  out.hwnd = first->hwnd;
  out.message = WM_TIMER;
  out.wParam = first->id;
  out.lParam = 0;
  out.time = static_cast<DWORD>(now);
  // The next period counts from now: WM_TIMER messages never pile up.
  first->due = now + (first->period ? first->period : 1);
  return true;
}

void ThreadQueue::HandleSent(const std::function<void(SentMessage&)>& handle_sent) {
  std::unique_lock lock(mutex_);
  while (!sent_.empty()) {
    auto sent = sent_.front();
    sent_.pop_front();
    lock.unlock();
    handle_sent(*sent);
    lock.lock();
  }
}

ThreadQueue::Result ThreadQueue::Next(HWND filter, MSG& out, Clock& clock, const std::function<bool()>& busy,
                                      const std::function<void(SentMessage&)>& handle_sent) {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!sent_.empty()) {
      auto sent = sent_.front();
      sent_.pop_front();
      lock.unlock();
      handle_sent(*sent);
      lock.lock();
    }
    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
      if (filter && it->hwnd != filter) continue;
      out = MSG{};
      out.hwnd = it->hwnd;
      out.message = it->message;
      out.wParam = it->wparam;
      out.lParam = it->lparam;
      out.time = static_cast<DWORD>(clock.Elapsed());
      posted_.erase(it);
      return Result::kMessage;
    }
    if (quit_) {
      quit_ = false;
      out = MSG{};
      out.message = WM_QUIT;
      out.wParam = static_cast<WPARAM>(quit_code_);
      return Result::kQuit;
    }
    const std::uint64_t now = clock.Elapsed();
    if (TakeTimer(out, now)) return Result::kMessage;
    if (!timers_.empty()) {
      std::uint64_t due = timers_.front().due;
      for (const Timer& t : timers_) due = std::min(due, t.due);
      if (clock.IsVirtual()) {
        clock.Advance(due - now);
      } else {
        changed_.wait_for(lock, std::chrono::milliseconds(due - now));
      }
      continue;
    }
    lock.unlock();
    const bool others = busy();
    lock.lock();
    if (!others) return Result::kIdle;
    // Another thread of the process runs: it may still post something.
    const std::uint64_t wakes = wakes_;
    changed_.wait_for(lock, std::chrono::milliseconds(200),
                      [&] { return !posted_.empty() || !sent_.empty() || quit_ || wakes_ != wakes; });
  }
}

void ThreadQueue::WaitForWork() {
  std::unique_lock lock(mutex_);
  const std::uint64_t wakes = wakes_;
  changed_.wait(lock, [&] { return !posted_.empty() || !sent_.empty() || quit_ || wakes_ != wakes; });
}

}  // namespace w9x::user32
