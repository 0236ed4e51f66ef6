#include "machine/process.h"

#include <unistd.h>

#include "machine/text.h"

namespace w9x {

std::uintptr_t HandleTable::Add(std::unique_ptr<KernelObject> object) {
  std::lock_guard lock(mutex_);
  std::uintptr_t h = next_;
  next_ += 4;
  objects_.emplace(h, std::move(object));
  return h;
}

bool HandleTable::Close(std::uintptr_t handle) {
  std::unique_ptr<KernelObject> closed;  // destroyed outside the lock
  std::lock_guard lock(mutex_);
  auto it = objects_.find(handle);
  if (it == objects_.end()) return false;
  closed = std::move(it->second);
  objects_.erase(it);
  return true;
}

Process::Process(std::string module_path, std::string command_line, WinPath current_dir, int show)
    : module_path_(std::move(module_path)), command_line_(std::move(command_line)),
      current_dir_(std::move(current_dir)), show_(show), id_(static_cast<int>(getpid())) {}

std::string Process::Name() const {
  std::size_t slash = text::FindLast(module_path_, '\\');
  return text::Upper(slash == std::string::npos ? module_path_ : module_path_.substr(slash + 1));
}

std::string Process::Arguments() const {
  std::string_view s = command_line_;
  std::size_t i = 0;
  if (!s.empty() && s[0] == '"') {
    std::size_t close = s.find('"', 1);
    i = close == std::string_view::npos ? s.size() : close + 1;
  } else {
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') i += text::CharLength(s, i);
  }
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return std::string(s.substr(i));
}

}  // namespace w9x
