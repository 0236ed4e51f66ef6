// Parsed INI files of a machine, each parsed once and reused until the file changes.
//
// The files are shared by every process running on the machine, so a change is one step under a
// lock that those processes share: the file is read again when another process replaced it, the
// edit is applied to what it holds now, and the result is written back atomically before the
// lock is released.  No change of another process is lost that way.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_map>

#include "machine/host_file.h"
#include "machine/ini_file.h"

namespace w9x {

class ProfileStore {
 public:
  // `lock_file`: the lock shared by the machine's processes (its folder is created on the first
  // change); empty for none.
  explicit ProfileStore(fs::path lock_file = {}) : lock_file_(std::move(lock_file)) {}

  // The parsed file, or nullptr when it does not exist (or is not a regular file).  The pointer
  // stays valid until the next call on this store.
  const IniFile* Load(const fs::path& host_path);
  // The same with the file's stat taken by the caller just before (no stat of its own).
  const IniFile* Load(const fs::path& host_path, const struct stat& status);

  enum class Change {
    kNone,     // the edit changed nothing: the file is untouched
    kWritten,  // the file was replaced
    kCreated,  // the file did not exist and was written
    kDenied,   // the file is read-only or not a file: untouched
    kFailed,   // the write failed: the file is untouched
  };
  // Applies `edit` to the file as it stands now (an empty one when it is missing) and writes the
  // result when `edit` returns true, all under the lock.
  Change Modify(const fs::path& host_path, const std::function<bool(IniFile&)>& edit);

  void Forget(const fs::path& host_path) { cache_.erase(host_path.native()); }

 private:
  struct Entry {
    FileStamp stamp;
    IniFile file;
  };
  bool Store(const fs::path& host_path, IniFile file);

  fs::path lock_file_;
  std::unordered_map<std::string, Entry> cache_;
};

}  // namespace w9x
