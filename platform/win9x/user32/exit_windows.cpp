// ExitWindowsEx on the simulated PC.
//
// The calling process stays; every other process of the machine is asked and then ended:
//   1. Unless EWX_FORCE is set, each top-level window of the other processes gets
//      WM_QUERYENDSESSION (lParam ENDSESSION_LOGOFF for a log-off); the first 0 stops the end
//      of the session: the windows asked before it get WM_ENDSESSION with FALSE and the call
//      returns 0.  With EWX_FORCE the windows are asked too, but their answers do not count.
//   2. Each of those windows gets WM_ENDSESSION with TRUE, then its process ends.  Processes
//      without windows end as well.  The launcher windows of `w9x run --window` answer as the
//      run says (1, or 0 with ":refuse") and are removed.
//   3. The machine records the end (log-off, shutdown, power-off or restart, from the flags) for
//      the run to report.
#include <signal.h>

#include <set>

#include "user32/user_state.h"

using namespace w9x;
using namespace w9x::user32;

namespace {

const char* KindName(SessionEnd end) {
  switch (end) {
    case SessionEnd::kLogOff: return "logoff";
    case SessionEnd::kShutdown: return "shutdown";
    case SessionEnd::kPowerOff: return "poweroff";
    case SessionEnd::kRestart: return "restart";
  }
  return "";
}

}  // namespace

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD) {
  Machine& machine = CurrentMachine();
  Runtime& shared = machine.Shared();
  const int self = CurrentProcess().Id();
  const SessionEnd kind = SessionEndOf(flags);
  const bool force = (flags & EWX_FORCE) != 0;
  const LPARAM logoff = kind == SessionEnd::kLogOff ? static_cast<LPARAM>(ENDSESSION_LOGOFF) : 0;

  std::vector<WindowRecord> windows;
  for (const WindowRecord& w : shared.Windows())
    if (w.host_pid != self) windows.push_back(w);

  nlohmann::ordered_json asked = nlohmann::ordered_json::array();
  std::vector<WindowRecord> agreed;
  bool refused = false;
  for (const WindowRecord& w : windows) {
    const LRESULT answer = SendMessageA(HandleOf(w.hwnd), WM_QUERYENDSESSION, 0, logoff);
    asked.push_back({{"hwnd", w.hwnd}, {"title", text::ToUtf8(w.title)}, {"owner", w.owner}, {"answer", answer}});
    if (answer == 0 && !force) {
      refused = true;
      break;
    }
    agreed.push_back(w);
  }
  if (refused) {
    for (const WindowRecord& w : agreed) SendMessageA(HandleOf(w.hwnd), WM_ENDSESSION, FALSE, logoff);
    api::Record("ExitWindowsEx", {{"flags", flags}, {"kind", KindName(kind)}, {"force", force}, {"asked", asked},
                                  {"result", 0}});
    return FALSE;
  }

  std::set<int> ended;
  for (const WindowRecord& w : windows) {
    SendMessageA(HandleOf(w.hwnd), WM_ENDSESSION, TRUE, logoff);
    if (w.query_answer >= 0) shared.DestroyWindowRecord(w.hwnd);  // the launcher's window
  }
  for (const WindowRecord& w : windows) {
    if (w.query_answer >= 0 || !ended.insert(w.host_pid).second) continue;
    // The process ends itself on request; one that does not answer is ended by force.
    if (!Messenger::Ask(w.host_pid, {{"op", "end"}}, std::chrono::seconds(2))) kill(w.host_pid, SIGKILL);
  }
  // Processes with no window end too.
  for (auto& [pid, name] : shared.Processes()) {
    if (pid == self || ended.count(pid)) continue;
    bool launcher = false;
    for (const WindowRecord& w : windows) launcher |= w.host_pid == pid && w.query_answer >= 0;
    if (launcher) continue;
    ended.insert(pid);
    kill(pid, SIGKILL);
    shared.UnregisterProcess(pid);
  }
  shared.RecordSessionEnd(flags);
  nlohmann::ordered_json ended_json = nlohmann::ordered_json::array();
  for (int pid : ended) ended_json.push_back(pid);
  api::Record("ExitWindowsEx", {{"flags", flags}, {"kind", KindName(kind)}, {"force", force}, {"asked", asked},
                                {"ended", ended_json}, {"result", 1}});
  return TRUE;
}
