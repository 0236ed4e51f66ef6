#include "machine/profile_store.h"

namespace w9x {

const IniFile* ProfileStore::Load(const fs::path& host_path) {
  auto stamp = StampOf(host_path);
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

bool ProfileStore::Store(const fs::path& host_path, IniFile file) {
  if (!WriteHostFileAtomically(host_path, file.Serialize())) return false;
  if (auto stamp = StampOf(host_path)) cache_[host_path.native()] = Entry{*stamp, std::move(file)};
  else cache_.erase(host_path.native());
  return true;
}

}  // namespace w9x
