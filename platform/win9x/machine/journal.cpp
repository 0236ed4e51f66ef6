#include "machine/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace w9x {

Journal::Journal(const std::filesystem::path& file, std::string process, int pid)
    : process_(std::move(process)), pid_(pid) {
  fd_ = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) problem_ = std::strerror(errno);
}

Journal::~Journal() {
  if (fd_ >= 0) close(fd_);
}

void Journal::Record(std::string_view event, nlohmann::ordered_json fields) {
  if (fd_ < 0) return;
  nlohmann::ordered_json line = nlohmann::ordered_json::object();
  line["event"] = event;
  line["process"] = process_;
  line["pid"] = pid_;
  for (auto& [key, value] : fields.items()) line[key] = value;
  std::string text = line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  // One write keeps the line whole among the lines of other processes.
  ssize_t n;
  do n = write(fd_, text.data(), text.size());
  while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(text.size())) return;
  if (problem_.empty()) problem_ = n < 0 ? std::strerror(errno) : "a line was cut short";
}

}  // namespace w9x
