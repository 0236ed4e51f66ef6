#include "machine/runtime.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <nlohmann/json.hpp>

#include "machine/host_file.h"
#include "machine/text.h"

namespace w9x {
namespace {

std::string HexName(const std::string& name) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : name) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? std::string("_") : out;
}

bool Alive(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

FileLock::FileLock(const fs::path& file) : fd_(open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
  if (fd_ >= 0) flock(fd_, LOCK_EX);
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);
}

NamedMutexHandle::~NamedMutexHandle() {
  if (fd_ >= 0) close(fd_);
}

Runtime::Runtime(fs::path machine_root) : folder_(std::move(machine_root) / ".w9x") {}

fs::path Runtime::Ensure(const char* sub) {
  fs::path p = folder_ / sub;
  std::error_code ec;
  fs::create_directories(p, ec);
  return p;
}

std::unique_ptr<NamedMutexHandle> Runtime::OpenMutex(const std::string& name, bool& existed) {
  fs::path dir = Ensure("mutex");
  // The guard makes "is anybody holding it?" and "hold it" one step for every process.
  FileLock guard(folder_ / "mutex.lock");
  int fd = open((dir / HexName(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  existed = flock(fd, LOCK_EX | LOCK_NB) != 0;
  flock(fd, LOCK_SH);
  return std::make_unique<NamedMutexHandle>(fd);
}

std::uint32_t Runtime::CreateWindowRecord(WindowRecord record) {
  fs::path dir = Ensure("windows");
  FileLock guard(folder_ / "windows.lock");
  std::uint32_t next = 0x10010;
  if (auto text = ReadHostFile(folder_ / "windows.next")) {
    std::uint32_t stored = 0;
    if (std::from_chars(text->data(), text->data() + text->size(), stored).ec == std::errc() && stored > next)
      next = stored;
  }
  record.hwnd = next;
  WriteHostFileAtomically(folder_ / "windows.next", std::to_string(next + 0x10));
  WriteWindow(record);
  return record.hwnd;
}

std::optional<WindowRecord> Runtime::ReadWindow(std::uint32_t hwnd) {
  auto text = ReadHostFile(folder_ / "windows" / std::to_string(hwnd));
  if (!text) return std::nullopt;
  auto j = nlohmann::json::parse(*text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  WindowRecord r;
  r.hwnd = hwnd;
  r.title = text::ToCp932(j.value("title", "")).value_or("");
  r.class_name = text::ToCp932(j.value("class", "")).value_or("");
  r.visible = j.value("visible", false);
  r.host_pid = j.value("host_pid", 0);
  r.owner = j.value("owner", "");
  r.query_answer = j.value("query_answer", -1);
  if (!Alive(r.host_pid)) return std::nullopt;
  return r;
}

bool Runtime::WriteWindow(const WindowRecord& r) {
  fs::path dir = Ensure("windows");
  nlohmann::json j = {{"title", text::ToUtf8(r.title)}, {"class", text::ToUtf8(r.class_name)},
                      {"visible", r.visible},          {"host_pid", r.host_pid},
                      {"owner", r.owner},              {"query_answer", r.query_answer}};
  return WriteHostFileAtomically(dir / std::to_string(r.hwnd), j.dump());
}

void Runtime::DestroyWindowRecord(std::uint32_t hwnd) {
  std::error_code ec;
  fs::remove(folder_ / "windows" / std::to_string(hwnd), ec);
}

std::vector<WindowRecord> Runtime::Windows() {
  std::vector<WindowRecord> out;
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(folder_ / "windows", ec)) {
    const std::string name = entry.path().filename().native();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::uint32_t hwnd = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), hwnd).ec != std::errc()) continue;
    if (auto r = ReadWindow(hwnd)) out.push_back(*r);
  }
  std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.hwnd < b.hwnd; });
  return out;
}

void Runtime::DestroyWindowsOf(int host_pid) {
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(folder_ / "windows", ec)) {
    const std::string name = entry.path().filename().native();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    auto text = ReadHostFile(entry.path());
    if (!text) continue;
    auto j = nlohmann::json::parse(*text, nullptr, false);
    if (!j.is_discarded() && j.is_object() && j.value("host_pid", 0) == host_pid) fs::remove(entry.path(), ec);
  }
}

SessionEnd SessionEndOf(std::uint32_t flags) {
  // A restart wins over the other shutdowns; power-off implies a shutdown.
  if (flags & 2) return SessionEnd::kRestart;
  if (flags & 8) return SessionEnd::kPowerOff;
  if (flags & 1) return SessionEnd::kShutdown;
  return SessionEnd::kLogOff;
}

const char* DescribeSessionEnd(SessionEnd end) {
  switch (end) {
    case SessionEnd::kLogOff: return "The user was logged off";
    case SessionEnd::kShutdown: return "Windows was shut down";
    case SessionEnd::kPowerOff: return "Windows was shut down and switched off";
    case SessionEnd::kRestart: return "Windows was restarted";
  }
  return "";
}

void Runtime::RegisterProcess(int host_pid, const std::string& name) {
  fs::path dir = Ensure("processes");
  WriteHostFileAtomically(dir / std::to_string(host_pid), name);
}

void Runtime::UnregisterProcess(int host_pid) {
  std::error_code ec;
  fs::remove(folder_ / "processes" / std::to_string(host_pid), ec);
}

std::vector<std::pair<int, std::string>> Runtime::Processes() {
  std::vector<std::pair<int, std::string>> out;
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(folder_ / "processes", ec)) {
    const std::string name = entry.path().filename().native();
    int pid = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), pid).ptr != name.data() + name.size()) continue;
    if (!Alive(pid)) continue;
    out.emplace_back(pid, ReadHostFile(entry.path()).value_or(""));
  }
  std::sort(out.begin(), out.end());
  return out;
}

void Runtime::RecordSessionEnd(std::uint32_t flags) {
  Ensure("");
  nlohmann::json j = {{"flags", flags}, {"when", static_cast<std::int64_t>(std::time(nullptr))}};
  WriteHostFileAtomically(folder_ / "session_end", j.dump());
}

std::optional<Runtime::SessionEndRecord> Runtime::LastSessionEnd() {
  auto text = ReadHostFile(folder_ / "session_end");
  if (!text) return std::nullopt;
  auto j = nlohmann::json::parse(*text, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  SessionEndRecord r;
  r.flags = j.value("flags", 0u);
  r.when = j.value("when", std::int64_t{0});
  return r;
}

}  // namespace w9x
