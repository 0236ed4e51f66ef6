// The machine's registry as every process on the machine sees it.
//
// registry.reg, beside machine.ini, is the registry between runs: what a person reads and edits.
// Rewriting its whole text for every change would cost far too much on a large registry, so while
// programs run a change is appended to a change log (.w9x-registry.log, beside registry.reg) and
// synced before the call returns:
//
// - The log starts with a header naming the registry.reg text it applies to (its size and a
//   hash of its bytes); each record after it is one change (key created or deleted, value set or
//   deleted), with its length and a checksum.  A record whose length or checksum does not hold
//   (a writer killed in the middle of it) ends the log: it and anything after it are ignored,
//   and the next writer cuts it off before appending.
// - Changes are appended under a lock file shared by the processes of the machine, after the
//   tree was made current: every process reads the records that others appended since its last
//   look, so changes of processes running at once are all kept.
// - Folding writes the current tree to registry.reg atomically (temporary file, sync, rename,
//   folder sync) and then removes the log.  Before the rename, a fold record naming the new
//   text is appended, so a log whose fold was cut short between the rename and the removal is
//   recognised and not applied a second time.  Folds happen when the last process of the
//   machine ends, when a run on the machine ends or starts (a killed run's log), and when the log
//   grows past kFoldLogSize.
// - When registry.reg is not the text the log was started on and no fold record names it, a
//   person (or a copy) replaced it while changes were pending: the logged changes are applied
//   over the new text, so the edit is seen and no acknowledged change is lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "machine/host_file.h"
#include "machine/registry_tree.h"
#include "machine/runtime.h"

namespace w9x {

// One change to the registry, as the log records it.  Paths are full paths (root name first),
// code page 932.
struct RegistryChange {
  enum class Kind : std::uint8_t { kCreateKey = 1, kDeleteKey = 2, kSetValue = 3, kDeleteValue = 4 };
  Kind kind = Kind::kCreateKey;
  std::string path;
  std::string name;  // kSetValue, kDeleteValue
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;

  // Makes the change in `tree`; a change whose key is missing (deleted meanwhile) does nothing.
  void ApplyTo(RegistryTree& tree) const;
};

class RegistryStore {
 public:
  // A log past this size is folded into registry.reg by the change that makes it so.
  static constexpr std::uint64_t kFoldLogSize = 1u << 20;

  // Reads `file` and the change log beside it; a missing file is an empty registry.  Throws
  // MachineError naming the file and the line when the text is malformed.  The lock file is
  // created on the first change.
  RegistryStore(fs::path file, fs::path lock_file);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // Makes Tree() what the file and the log hold now: the records other processes appended since
  // the last look are applied, and the file is read again when it was replaced.  False when the
  // replaced file no longer reads: the tree stays the last good one, and the file is read again
  // at the next call.  `exact` (under the registry lock) reads the log past its last known
  // record even when its stamp looks unchanged.
  bool Refresh(bool exact = false);
  RegistryTree& Tree() { return *tree_; }
  // Changes whenever the tree is replaced by one read afresh: keys taken from an older tree must
  // then be found again by their path.
  std::uint64_t Generation() const { return generation_; }
  const fs::path& File() const { return file_; }
  const fs::path& LogFile() const { return log_file_; }

  // Writes the pending changes of the log into registry.reg and removes the log.  True when
  // there was nothing to fold or the fold succeeded; false leaves the file and the log as they
  // were (nothing is lost).
  bool Fold();
  // Fold() on the registry of a machine folder, for the runner once no program runs on it.
  static bool FoldMachine(const fs::path& machine_root, const fs::path& lock_file);

  // One change: holds the registry lock for its life, with the tree made current first.
  class Update {
   public:
    explicit Update(RegistryStore& store);
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;

    // False when the file changed and no longer reads: nothing may be changed then.
    bool Ready() const { return ready_; }
    RegistryTree& Tree() { return store_.Tree(); }
    // Makes the changes made to the tree lasting: they are appended to the log and synced.  No
    // changes: nothing is written.  False when the write failed: the tree is then read again
    // from the file and the log, which are unchanged.
    bool Commit(const std::vector<RegistryChange>& changes);
    // Makes whatever was done to the tree lasting in one step, by writing the whole tree into
    // the file (the log folded in), for changes too many to log one by one (an import).  False
    // when the write failed: the tree is then read again from the file and the log, unchanged.
    bool CommitWhole();

   private:
    RegistryStore& store_;
    FileLock lock_;
    bool ready_;
  };

 private:
  // Reads the file into a fresh tree and applies the log; the parse error when it is malformed.
  std::optional<RegistryParseError> Read();
  // Applies the log records past those applied already (all of them with `from_start`, or when
  // the log is not the one read before).
  void ReadLog(bool from_start);
  bool Append(const std::vector<RegistryChange>& changes);
  // Writes the tree into the file and drops the log; with `always`, also when no log is pending.
  bool FoldLocked(bool always = false);
  static FileLock LockFile(const fs::path& lock_file);

  fs::path file_;
  fs::path log_file_;
  fs::path lock_file_;
  std::unique_ptr<RegistryTree> tree_;
  std::optional<FileStamp> stamp_;  // of the file as last read or written; nullopt: no file
  std::uint64_t text_size_ = 0;     // the file's text as last read or written: its size and hash
  std::uint64_t text_hash_ = 0;
  // The log as far as applied: its stamp (nullopt: none) and where its last whole record ends
  // (0: no usable header, a new log is started by the next change).
  std::optional<FileStamp> log_stamp_;
  std::uint64_t log_end_ = 0;
  std::uint64_t log_id_ = 0;  // the identity in its header
  std::uint64_t generation_ = 0;
};

}  // namespace w9x
