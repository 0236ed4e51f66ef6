// The machine's registry as every process on the machine sees it: registry.reg beside
// machine.ini, read when the machine opens, read again whenever another process has replaced it,
// and written back atomically after each change.
//
// Changes are read-modify-write steps on the whole file, so they run under a lock file shared by
// the processes of the machine: a change never starts from a tree that another process has
// already replaced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "machine/host_file.h"
#include "machine/registry_tree.h"
#include "machine/runtime.h"

namespace w9x {

class RegistryStore {
 public:
  // Reads `file`; a missing file is an empty registry.  Throws MachineError naming the file and
  // the line when the text is malformed.  The lock file is created on the first change.
  RegistryStore(fs::path file, fs::path lock_file);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Makes Tree() what the file holds now, reading it again when it changed on disk since this
  // store last read or wrote it.  False when the changed file no longer reads: the tree stays the
  // last good one, and the file is read again at the next call.
  bool Refresh();
  RegistryTree& Tree() { return *tree_; }
  // Changes whenever Refresh or a failed write replaces the tree: keys taken from an older tree
  // must then be found again by their path.
  std::uint64_t Generation() const { return generation_; }
  const fs::path& File() const { return file_; }

  // One change: holds the registry lock for its life, with the tree made current first.
  class Update {
   public:
    explicit Update(RegistryStore& store);
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

    // False when the file changed and no longer reads: nothing may be changed then.
    bool Ready() const { return ready_; }
    RegistryTree& Tree() { return store_.Tree(); }
    // Writes the file when its text changed.  False when the write failed: the tree is then read
    // again from the file, which is unchanged.
    bool Commit();

   private:
    RegistryStore& store_;
    FileLock lock_;
    bool ready_;
  };

 private:
  // Reads the file into a fresh tree; the parse error when it is malformed.
  std::optional<RegistryParseError> Read();
  static FileLock LockFile(const fs::path& lock_file);

  fs::path file_;
  fs::path lock_file_;
  std::unique_ptr<RegistryTree> tree_;
  std::optional<FileStamp> stamp_;  // of the file as last read or written; nullopt: no file
  std::string text_;                // the file's text as last read or written
  std::uint64_t generation_ = 0;
};

}  // namespace w9x
