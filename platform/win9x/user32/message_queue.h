// The message queue of one thread: messages posted to it, messages sent to it from other threads
// (handled when the thread next looks for a message), the quit request and its timers.
//
// Order of retrieval, as on Windows: sent messages first, then posted messages in order, then
// WM_QUIT once the queue is empty, then WM_TIMER for a timer that has come due.  A thread that
// waits while it has timers waits for the first one (on the virtual clock of `--fast` the clock
// moves on to it at once).  A thread with nothing to wait for is idle: then the simulated user
// acts (user_input.h).
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "machine/clock.h"

namespace w9x::user32 {

struct PostedMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

struct SentMessage {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  std::promise<LRESULT> answer;
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  UINT period = 0;
  std::uint64_t due = 0;  // on the machine's clock (milliseconds)
};

class ThreadQueue {
 public:
  explicit ThreadQueue(DWORD thread) : thread_(thread) {}
  DWORD Thread() const { return thread_; }

  void Post(const PostedMessage& m);
  void PostQuit(int code);
  // Queues a message sent from another thread; the future gets the window procedure's result.
  std::future<LRESULT> Send(const PostedMessage& m);
  // Wakes the thread if it waits (another thread of the process ended, ...).
  void Wake();

  void SetTimer(const Timer& t);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  void KillTimersOf(HWND hwnd);

  enum class Result { kMessage, kQuit, kIdle };
  // Takes the next message for `filter` (null: any window of the thread), handling sent
  // messages on the way; kIdle when nothing is queued and no timer runs.  Waits while
  // `busy()` says another thread of the process may still post something.
  Result Next(HWND filter, MSG& out, Clock& clock, const std::function<bool()>& busy,
              const std::function<void(SentMessage&)>& handle_sent);
  // Handles the sent messages waiting, and nothing else.
  void HandleSent(const std::function<void(SentMessage&)>& handle_sent);
  // Waits until something is queued (or Wake).
  void WaitForWork();

 private:
  bool TakeTimer(MSG& out, std::uint64_t now);

  DWORD thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PostedMessage> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  bool quit_ = false;
  int quit_code_ = 0;
  std::vector<Timer> timers_;
  std::uint64_t wakes_ = 0;
};

// The thread id the platform gives the calling thread (GetCurrentThreadId).
DWORD CurrentThreadId();

}  // namespace w9x::user32
