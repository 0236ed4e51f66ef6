// Parsed INI files of a machine, each parsed once and reused until the file changes.
#pragma once

#include <filesystem>
#include <optional>
#include <unordered_map>

#include "machine/host_file.h"
#include "machine/ini_file.h"

namespace w9x {

class ProfileStore {
 public:
  // The parsed file, or nullptr when it does not exist (or is not a regular file).  The pointer
  // stays valid until the next call on this store.
  const IniFile* Load(const fs::path& host_path);
  // Writes the file atomically and keeps it as the cached parse.  False when the write failed.
  bool Store(const fs::path& host_path, IniFile file);
  void Forget(const fs::path& host_path) { cache_.erase(host_path.native()); }

 private:
  struct Entry {
    FileStamp stamp;
    IniFile file;
  };
  std::unordered_map<std::string, Entry> cache_;
};

}  // namespace w9x
