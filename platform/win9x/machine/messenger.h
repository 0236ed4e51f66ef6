// The socket of a simulated process: how the other processes of the machine reach it.
//
// Every process that owns windows listens on a socket named after its host pid (in the abstract
// namespace, so nothing is left on disk when it dies).  A request is one JSON object sent on a
// fresh connection; the process answers with one JSON object and the connection closes.  The
// requests are handled one at a time, in order of arrival, on a thread of the listening process.
#pragma once

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

namespace w9x {

class Messenger {
 public:
  using Handler = std::function<nlohmann::json(const nlohmann::json& request)>;

  // Starts listening for `pid`; false from Listening() when the socket cannot be made.
  Messenger(int pid, Handler handler);
  ~Messenger();
  Messenger(const Messenger&) = delete;
  Messenger& operator=(const Messenger&) = delete;

  bool Listening() const { return listen_fd_ >= 0; }

  // Sends a request to the process `pid` and waits for its answer; nullopt when the process has
  // no socket (it ended, or it never owned a window) or gives no answer within `timeout`.
  static std::optional<nlohmann::json> Ask(int pid, const nlohmann::json& request,
                                           std::chrono::milliseconds timeout);

 private:
  void Serve();

  Handler handler_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // a byte on wake_[1] stops the thread
  std::thread thread_;
};

}  // namespace w9x
