#include "machine/messenger.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace w9x {
namespace {

// Requests and answers are small; anything longer than this is not ours.
constexpr std::size_t kMaxMessage = 1 << 20;

socklen_t AddressOf(int pid, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const std::string name = "w9x-process-" + std::to_string(pid);
  // Abstract namespace: the name starts with a NUL byte.
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
    if (n == 0) return false;
  }
}

bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to the end of the stream (the peer shuts down its side after one message).
std::optional<std::string> ReceiveAll(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string out;
  char buffer[4096];
  for (;;) {
    if (!WaitFor(fd, POLLIN, deadline)) return std::nullopt;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.append(buffer, static_cast<std::size_t>(n));
    if (out.size() > kMaxMessage) return std::nullopt;
  }
}

}  // namespace

Messenger::Messenger(int pid, Handler handler) : handler_(std::move(handler)) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un address;
  socklen_t length = AddressOf(pid, address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0 ||
      pipe2(wake_, O_CLOEXEC) != 0) {
    close(fd);
    return;
  }
  listen_fd_ = fd;
  thread_ = std::thread([this] { Serve(); });
}

Messenger::~Messenger() {
  if (thread_.joinable()) {
    char c = 0;
    ssize_t n = write(wake_[1], &c, 1);
    (void)n;
    thread_.join();
  }
  for (int fd : {listen_fd_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
}

void Messenger::Serve() {
  for (;;) {
    pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    if (!(p[0].revents & POLLIN)) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A peer that sends nothing useful within a few seconds is dropped.
    auto text = ReceiveAll(fd, std::chrono::steady_clock::now() + std::chrono::seconds(5));
    nlohmann::json answer = nullptr;
    if (text) {
      auto request = nlohmann::json::parse(*text, nullptr, false);
      if (!request.is_discarded() && request.is_object()) answer = handler_(request);
    }
    SendAll(fd, answer.dump());
    close(fd);
  }
}

std::optional<nlohmann::json> Messenger::Ask(int pid, const nlohmann::json& request,
                                             std::chrono::milliseconds timeout) {
  if (pid <= 0) return std::nullopt;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_un address;
  socklen_t length = AddressOf(pid, address);
  std::optional<nlohmann::json> result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && SendAll(fd, request.dump()) &&
      shutdown(fd, SHUT_WR) == 0) {
    if (auto text = ReceiveAll(fd, deadline)) {
      auto answer = nlohmann::json::parse(*text, nullptr, false);
      if (!answer.is_discarded() && !answer.is_null()) result = std::move(answer);
    }
  }
  close(fd);
  return result;
}

}  // namespace w9x
