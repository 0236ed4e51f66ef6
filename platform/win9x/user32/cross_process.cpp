// Requests from other processes of the machine, arriving on this process's socket: messages
// posted or sent to its windows, ShowWindow on them, and the end of the session.
#include <cstdio>
#include <cstdlib>

#include "user32/user_state.h"

namespace w9x::user32 {

nlohmann::json HandleRequest(const nlohmann::json& request) {
  const std::string op = request.value("op", "");
  auto w = User().windows.Get(HandleOf(request.value("hwnd", 0u)));
  if (op == "show") {
    if (!w) return {{"error", "no such window"}};
    return {{"was_visible", ShowLocal(w, request.value("command", 0), "another process")}};
  }
  if (op == "post" || op == "send") {
    if (!w) return {{"error", "no such window"}};
    auto q = User().QueueOf(w->thread);
    if (!q) return {{"error", "no queue"}};
    PostedMessage m{w->Handle(), request.value("message", 0u), static_cast<WPARAM>(request.value("wparam", std::uint64_t{0})),
                    static_cast<LPARAM>(request.value("lparam", std::int64_t{0}))};
    if (op == "post") {
      q->Post(m);
      return {{"posted", true}};
    }
    std::future<LRESULT> answer = q->Send(m);
    // A thread that does not look at its messages within this time does not respond.
    if (answer.wait_for(std::chrono::seconds(8)) != std::future_status::ready) return {{"error", "not responding"}};
    return {{"result", static_cast<std::int64_t>(answer.get())}};
  }
  if (op == "end") {
    // The session ends: this process ends now, as Windows ends it after WM_ENDSESSION.
    api::Record("ProcessExit", {{"exit_code", 0}, {"ended_by", "ExitWindowsEx"}});
    CurrentMachine().Shared().DestroyWindowsOf(CurrentProcess().Id());
    CurrentMachine().Shared().UnregisterProcess(CurrentProcess().Id());
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return {{"error", "unknown request"}};
}

}  // namespace w9x::user32
