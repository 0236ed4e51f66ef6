#include "machine/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <mutex>
#include <nlohmann/json.hpp>

#include "machine/host_file.h"
#include "machine/runtime.h"

namespace w9x {

Session Session::Create(const fs::path& file, SessionSettings settings) {
  nlohmann::json j = {{"journal", settings.journal.native()}, {"answers", settings.answers},
                      {"menu", settings.menu}, {"window_input", settings.window_input},                {"fast", settings.fast},
                      {"interactive", settings.interactive}, {"bin_dir", settings.bin_dir.native()}};
  nlohmann::json faults = nlohmann::json::array();
  for (const FaultSpec& f : settings.faults) faults.push_back({{"call", f.call}, {"nth", f.nth}, {"error", f.error}});
  j["faults"] = std::move(faults);
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  WriteHostFileAtomically(file, j.dump());
  Session s(std::move(settings));
  s.file_ = file;
  s.owner_ = true;
  return s;
}

std::optional<Session> Session::Load(const fs::path& file) {
  auto text = ReadHostFile(file);
  if (!text) return std::nullopt;
  auto j = nlohmann::json::parse(*text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  try {
    SessionSettings s;
    s.journal = j.value("journal", std::string());
    s.answers = j.value("answers", std::vector<std::string>());
    s.menu = j.value("menu", std::vector<std::string>());
    s.window_input = j.value("window_input", std::vector<std::string>());
    s.fast = j.value("fast", false);
    s.interactive = j.value("interactive", false);
    s.bin_dir = j.value("bin_dir", std::string());
    for (const auto& f : j.value("faults", nlohmann::json::array()))
      s.faults.push_back(FaultSpec{f.at("call").get<std::string>(), f.at("nth").get<unsigned>(), f.at("error").get<std::uint32_t>()});
    Session session(std::move(s));
    session.file_ = file;
    return session;
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

Session::Session(Session&& o) noexcept
    : settings_(std::move(o.settings_)), file_(std::move(o.file_)), owner_(o.owner_),
      answer_pos_(o.answer_pos_), window_input_pos_(o.window_input_pos_) {
  o.owner_ = false;
}

Session& Session::operator=(Session&& o) noexcept {
  std::swap(settings_, o.settings_);
  std::swap(file_, o.file_);
  std::swap(owner_, o.owner_);
  std::swap(answer_pos_, o.answer_pos_);
  std::swap(window_input_pos_, o.window_input_pos_);
  return *this;
}

Session::~Session() {
  if (!owner_) return;
  std::error_code ec;
  for (const char* suffix : {"", ".answers", ".window_input", ".lock", ".failures"}) fs::remove(file_.native() + suffix, ec);
}

void Session::NoteFailedWrite(const std::string& what) {
  if (file_.empty()) {
    failed_writes_.push_back(what);
    return;
  }
  // One line in one write on an appending descriptor: lines of processes never interleave.
  const std::string line = what + "\n";
  int fd = open((file_.native() + ".failures").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t n = write(fd, line.data(), line.size());
  (void)n;
  close(fd);
}

std::vector<std::string> Session::FailedWrites() const {
  if (file_.empty()) return failed_writes_;
  std::vector<std::string> out;
  auto text = ReadHostFile(file_.native() + ".failures");
  if (!text) return out;
  std::string_view rest = *text;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) end = rest.size();
    if (end > 0) out.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return out;
}

std::optional<std::string> Session::NextAnswer() { return Next(settings_.answers, ".answers", answer_pos_); }

std::optional<std::string> Session::NextWindowInput() {
  return Next(settings_.window_input, ".window_input", window_input_pos_);
}

std::optional<std::string> Session::Next(const std::vector<std::string>& list, const char* suffix,
                                         std::size_t& local_pos) {
  static std::mutex threads;  // the threads of this process take turns too
  std::lock_guard guard(threads);
  if (file_.empty()) {
    if (local_pos >= list.size()) return std::nullopt;
    return list[local_pos++];
  }
  // The position is shared by every process of the run.
  FileLock lock(file_.native() + ".lock");
  const fs::path pos_file = file_.native() + suffix;
  std::size_t pos = 0;
  if (auto text = ReadHostFile(pos_file)) std::from_chars(text->data(), text->data() + text->size(), pos);
  if (pos >= list.size()) return std::nullopt;
  WriteHostFileAtomically(pos_file, std::to_string(pos + 1));
  return list[pos];
}

}  // namespace w9x
