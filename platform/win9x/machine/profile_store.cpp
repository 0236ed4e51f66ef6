#include "machine/profile_store.h"

#include <sys/stat.h>

#include <optional>

#include "machine/runtime.h"

namespace w9x {

const IniFile* ProfileStore::Load(const fs::path& host_path) {
  struct stat st {};
  if (stat(host_path.c_str(), &st) != 0) {
    cache_.erase(host_path.native());
    return nullptr;
  }
  return Load(host_path, st);
}

const IniFile* ProfileStore::Load(const fs::path& host_path, const struct stat& status) {
  auto stamp = StampOf(status);
  if (!stamp) {
    cache_.erase(host_path.native());
    return nullptr;
  }
  auto it = cache_.find(host_path.native());
  if (it != cache_.end() && it->second.stamp == *stamp) return &it->second.file;
  auto bytes = ReadHostFile(host_path);
  if (!bytes) return nullptr;
  // Stamp taken before the read: a change during the read makes the next call parse again.
  auto& entry = cache_[host_path.native()];
  entry = Entry{*stamp, IniFile::Parse(*bytes)};
  return &entry.file;
}

ProfileStore::Change ProfileStore::Modify(const fs::path& host_path, const std::function<bool(IniFile&)>& edit) {
  std::optional<FileLock> lock;
  if (!lock_file_.empty()) {
    std::error_code ec;
    fs::create_directories(lock_file_.parent_path(), ec);
    lock.emplace(lock_file_);
  }
  struct stat st {};
  const bool exists = stat(host_path.c_str(), &st) == 0;
  if (exists && (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) return Change::kDenied;
  const IniFile* current = exists ? Load(host_path) : nullptr;
  if (exists && !current) return Change::kFailed;  // there, but it does not read
  IniFile ini = current ? *current : IniFile::Parse("");
  if (!edit(ini)) return Change::kNone;
  if (!Store(host_path, std::move(ini))) return Change::kFailed;
  return exists ? Change::kWritten : Change::kCreated;
}

bool ProfileStore::Store(const fs::path& host_path, IniFile file) {
  if (!WriteHostFileAtomically(host_path, file.Serialize())) {
    cache_.erase(host_path.native());
    return false;
  }
  if (auto stamp = StampOf(host_path)) cache_[host_path.native()] = Entry{*stamp, std::move(file)};
  else cache_.erase(host_path.native());
  return true;
}

}  // namespace w9x
