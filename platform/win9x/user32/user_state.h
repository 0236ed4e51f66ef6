// The window system of one simulated process: its classes, windows, menus, message queues and
// socket, and the threads that may still post to them.  Every part is safe to use from any
// thread of the process (the shutdown thread posts WM_QUIT while the main thread runs its loop).
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "kernel32/api_support.h"
#include "machine/messenger.h"
#include "user32/class_registry.h"
#include "user32/menus.h"
#include "user32/message_queue.h"
#include "user32/resource_model.h"
#include "user32/window_table.h"

namespace w9x::user32 {

class UserState : public Process::Extension {
 public:
  ~UserState() override;

  ClassRegistry classes;
  WindowTable windows;
  MenuTable menus;
  std::shared_ptr<const ModuleResources> resources;

  // The calling thread's queue, made on first use.
  ThreadQueue& CurrentQueue();
  // The queue of a thread, if it has one.
  std::shared_ptr<ThreadQueue> QueueOf(DWORD thread);
  void WakeAll();

  // Threads started by CreateThread that have not ended: while any runs, a thread that waits
  // for messages is not idle.
  std::atomic<int> running_threads{0};
  // Called by a thread of CreateThread as its last act: wakes the threads that wait for it.
  void ThreadEnded();

  // Starts the process's socket (once); false when it cannot listen.
  bool EnsureSocket();
  // Idle rounds of the simulated user that found nothing left to do (user_input.cpp).
  std::atomic<int> unanswered_idle{0};
  // FSHIFT / FCONTROL held with the key last pressed by the simulated user.
  std::atomic<BYTE> held_modifiers{0};

 private:
  std::mutex mutex_;
  std::map<DWORD, std::shared_ptr<ThreadQueue>> queues_;
  std::unique_ptr<Messenger> messenger_;
};

UserState& User();

// Messages to windows, wherever they live: the calling thread, another thread, another process.
LRESULT Send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
bool Post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Calls the window's procedure on the calling thread.
LRESULT CallProcedure(const std::shared_ptr<Window>& w, UINT message, WPARAM wparam, LPARAM lparam);
// Takes the next message for the calling thread; when idle, lets the simulated user act, and
// when even that has nothing to do, waits.  False only for WM_QUIT.
// `dialog`: a modal dialog is running on this thread (the user answers it first).
bool NextMessage(HWND filter, MSG& out, const std::shared_ptr<Window>& dialog = nullptr);
// ShowWindow on a window of this process; the previous visibility.
bool ShowLocal(const std::shared_ptr<Window>& w, int command, const char* by);
// Writes the machine-wide record of a top-level window after a change.
void UpdateRecord(const Window& w);

// The request handler of the process's socket (cross_process.cpp).
nlohmann::json HandleRequest(const nlohmann::json& request);

}  // namespace w9x::user32
