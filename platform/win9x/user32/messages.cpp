// Sending, posting and taking messages; the default window procedure; accelerators; timers.
#include <cstring>

#include "user32/dialogs.h"
#include "user32/user_input.h"
#include "user32/user_state.h"

namespace w9x::user32 {
namespace {

// How long a message sent to another process may take before the caller gives up on it (as
// Windows gives up on a hung application).
constexpr auto kCrossProcessTimeout = std::chrono::seconds(10);

void HandleSentMessage(SentMessage& m) {
  auto w = User().windows.Get(m.hwnd);
  m.answer.set_value(w ? CallProcedure(w, m.message, m.wparam, m.lparam) : 0);
}

bool OtherThreadsRun() { return User().running_threads.load() > 0; }

}  // namespace

LRESULT CallProcedure(const std::shared_ptr<Window>& w, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!w->proc) return DefWindowProcA(w->Handle(), message, wparam, lparam);
  return w->proc(w->Handle(), message, wparam, lparam);
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  UserState& user = User();
  if (auto w = user.windows.Get(hwnd)) {
    if (w->thread == CurrentThreadId()) return CallProcedure(w, message, wparam, lparam);
    auto q = user.QueueOf(w->thread);
    if (!q) return 0;
    std::future<LRESULT> answer = q->Send({hwnd, message, wparam, lparam});
    // While waiting, this thread still answers what is sent to it (no deadlock between two
    // threads that send to each other).
    ThreadQueue& own = user.CurrentQueue();
    while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
      own.HandleSent(HandleSentMessage);
    return answer.get();
  }
  auto record = CurrentMachine().Shared().ReadWindow(IdOf(hwnd));
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (record->query_answer >= 0 && message == WM_QUERYENDSESSION) return record->query_answer;
  auto answer = Messenger::Ask(record->host_pid,
                               {{"op", "send"}, {"hwnd", record->hwnd}, {"message", message},
                                {"wparam", static_cast<std::uint64_t>(wparam)}, {"lparam", static_cast<std::int64_t>(lparam)}},
                               kCrossProcessTimeout);
  if (answer && answer->is_object() && answer->contains("result")) return answer->value("result", std::int64_t{0});
  // No answer: the window's process does not respond.  An end-session query counts as agreed,
  // as Windows ends such a program.
  return message == WM_QUERYENDSESSION ? TRUE : 0;
}

bool Post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  UserState& user = User();
  if (auto w = user.windows.Get(hwnd)) {
    auto q = user.QueueOf(w->thread);
    if (!q) return false;
    q->Post({hwnd, message, wparam, lparam});
    return true;
  }
  auto record = CurrentMachine().Shared().ReadWindow(IdOf(hwnd));
  if (!record) return false;
  auto answer = Messenger::Ask(record->host_pid,
                               {{"op", "post"}, {"hwnd", record->hwnd}, {"message", message},
                                {"wparam", static_cast<std::uint64_t>(wparam)}, {"lparam", static_cast<std::int64_t>(lparam)}},
                               kCrossProcessTimeout);
  return answer && answer->value("posted", false);
}

bool NextMessage(HWND filter, MSG& out, const std::shared_ptr<Window>& dialog) {
  UserState& user = User();
  ThreadQueue& q = user.CurrentQueue();
  for (;;) {
    switch (q.Next(filter, out, CurrentMachine().Time(), OtherThreadsRun, HandleSentMessage)) {
      case ThreadQueue::Result::kQuit:
        return false;
      case ThreadQueue::Result::kMessage:
        // WM_QUIT ends the loop also when it was posted to a window (PostMessageA).
        if (out.message == WM_QUIT) return false;
        if (out.message == WM_TIMER)
          api::Record("WM_TIMER", {{"hwnd", IdOf(out.hwnd)}, {"id", static_cast<std::uint64_t>(out.wParam)},
                                   {"at", CurrentMachine().Time().Elapsed()}});
        return true;
      case ThreadQueue::Result::kIdle:
        if (dialog && dialog->dialog_ended) {
          out = MSG{};  // the modal loop ends; nothing to take
          out.message = WM_NULL;
          return true;
        }
        if (!UserActsOnIdle(dialog)) q.WaitForWork();
        break;
    }
  }
}

}  // namespace w9x::user32

using namespace w9x;
using namespace w9x::user32;

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT, UINT) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (hwnd && !User().windows.Get(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  return NextMessage(hwnd, *msg) ? TRUE : FALSE;
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!hwnd) {
    // A null window posts to the calling thread, as PostThreadMessageA.
    User().CurrentQueue().Post({nullptr, message, wparam, lparam});
    return TRUE;
  }
  if (Post(hwnd, message, wparam, lparam)) return TRUE;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD thread, UINT message, WPARAM wparam, LPARAM lparam) {
  auto q = User().QueueOf(thread);
  if (!q) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  q->Post({nullptr, message, wparam, lparam});
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return Send(hwnd, message, wparam, lparam);
}

void WINAPI PostQuitMessage(int code) { User().CurrentQueue().PostQuit(code); }

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  auto w = User().windows.Get(msg->hwnd);
  if (!w) return 0;
  return CallProcedure(w, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return proc ? proc(hwnd, message, wparam, lparam) : 0;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  // Characters are not needed by any program here; the key messages themselves stay as they are.
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto w = User().windows.Get(hwnd);
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;  // agree to end the session
    case WM_ENDSESSION:
      return 0;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) Send(hwnd, WM_CLOSE, 0, 0);
      return 0;
    case WM_SYSKEYDOWN:
      // Alt+F4 closes the top-level window.
      if (wparam == VK_F4 && (lparam & (1 << 29)) && w) {
        HWND top = hwnd;
        for (auto p = w; p && !p->TopLevel(); p = User().windows.Get(HandleOf(p->parent))) top = HandleOf(p->parent);
        Send(top, WM_SYSCOMMAND, SC_CLOSE, 0);
      }
      return 0;
    case WM_SETTEXT:
      if (!w) return FALSE;
      w->title = lparam ? reinterpret_cast<const char*>(lparam) : "";
      UpdateRecord(*w);
      return TRUE;
    case WM_GETTEXTLENGTH:
      return w ? static_cast<LRESULT>(w->title.size()) : 0;
    case WM_GETTEXT:
      return w ? GetWindowTextA(hwnd, reinterpret_cast<LPSTR>(lparam), static_cast<int>(wparam)) : 0;
    default:
      return 0;
  }
}

int WINAPI TranslateAcceleratorA(HWND hwnd, HACCEL table, LPMSG msg) {
  if (!msg || !table || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return 0;
  auto entries = User().menus.Accelerators(table);
  if (!entries) return 0;
  auto w = User().windows.Get(hwnd);
  if (!w) return 0;
  const bool alt = msg->message == WM_SYSKEYDOWN && (msg->lParam & (1 << 29));
  const BYTE held = static_cast<BYTE>(User().held_modifiers.load() | (alt ? FALT : 0));
  for (const AcceleratorEntry& e : *entries) {
    if (!(e.flags & FVIRTKEY) || e.key != msg->wParam) continue;
    if ((e.flags & (FSHIFT | FCONTROL | FALT)) != (held & (FSHIFT | FCONTROL | FALT))) continue;
    // A command whose menu item is disabled is not sent.
    if (w->menu) {
      auto item = User().menus.FindCommand(w->menu, e.command);
      if (item && (item->flags & (MF_GRAYED | MF_DISABLED))) return 1;
    }
    Send(hwnd, WM_COMMAND, static_cast<WPARAM>(e.command) | (WPARAM{1} << 16), 0);
    return 1;
  }
  return 0;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT period, TIMERPROC) {
  UserState& user = User();
  std::shared_ptr<ThreadQueue> q;
  if (hwnd) {
    auto w = user.windows.Get(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = user.QueueOf(w->thread);
  } else {
    user.CurrentQueue();
    q = user.QueueOf(CurrentThreadId());
    static std::atomic<UINT_PTR> next{0x7FF0};
    id = next++;
  }
  if (!q) return 0;
  // Windows 9x gives a period of 0 the shortest the timer can do.
  const UINT effective = period ? period : 1;
  q->SetTimer({hwnd, id, effective, CurrentMachine().Time().Elapsed() + effective});
  api::Record("SetTimer", {{"hwnd", IdOf(hwnd)}, {"id", static_cast<std::uint64_t>(id)}, {"period", period},
                           {"at", CurrentMachine().Time().Elapsed()}});
  return hwnd ? 1 : id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  UserState& user = User();
  std::shared_ptr<ThreadQueue> q;
  if (auto w = hwnd ? user.windows.Get(hwnd) : nullptr) {
    q = user.QueueOf(w->thread);
  } else {
    q = user.QueueOf(CurrentThreadId());
  }
  const bool killed = q && q->KillTimer(hwnd, id);
  api::Record("KillTimer", {{"hwnd", IdOf(hwnd)}, {"id", static_cast<std::uint64_t>(id)}, {"result", killed}});
  if (!killed) SetLastError(ERROR_INVALID_PARAMETER);
  return killed ? TRUE : FALSE;
}
