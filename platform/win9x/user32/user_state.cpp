#include "user32/user_state.h"

#include <unistd.h>

#include <thread>

namespace w9x::user32 {

UserState::~UserState() {
  // Stop serving other processes before the windows and queues go.
  messenger_.reset();
  // Threads of the process still running (a test's program that returned from WinMain while its
  // shutdown thread finishes) use this object until their last act.
  for (int i = 0; i < 1000 && running_threads.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::lock_guard lock(mutex_);
}

void UserState::ThreadEnded() {
  std::lock_guard lock(mutex_);
  running_threads--;
  for (auto& [thread, q] : queues_) q->Wake();
}

UserState& User() { return CurrentProcess().Ext<UserState>(); }

ThreadQueue& UserState::CurrentQueue() {
  const DWORD thread = CurrentThreadId();
  std::lock_guard lock(mutex_);
  auto& q = queues_[thread];
  if (!q) q = std::make_shared<ThreadQueue>(thread);
  return *q;
}

std::shared_ptr<ThreadQueue> UserState::QueueOf(DWORD thread) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(thread);
  return it == queues_.end() ? nullptr : it->second;
}

void UserState::WakeAll() {
  std::lock_guard lock(mutex_);
  for (auto& [thread, q] : queues_) q->Wake();
}

bool UserState::EnsureSocket() {
  std::lock_guard lock(mutex_);
  if (!messenger_) messenger_ = std::make_unique<Messenger>(getpid(), [](const nlohmann::json& r) { return HandleRequest(r); });
  return messenger_->Listening();
}

}  // namespace w9x::user32
