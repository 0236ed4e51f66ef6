#include "machine/registry_store.h"

#include <sys/stat.h>

#include "machine/machine_config.h"

namespace w9x {

RegistryStore::RegistryStore(fs::path file, fs::path lock_file)
    : file_(std::move(file)), lock_file_(std::move(lock_file)) {
  // Only a missing file is an empty registry: a folder, a device or a pipe in its place is an
  // error, and is never opened.
  struct stat st {};
  if (stat(file_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw MachineError(file_.filename().string() + " is not a regular file");
  if (lstat(file_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && stat(file_.c_str(), &st) != 0)
    throw MachineError(file_.filename().string() + " is a link to nothing");
  if (std::optional<RegistryParseError> error = Read())
    throw MachineError(file_.filename().string() + ": " + error->Message());
}

RegistryStore::~RegistryStore() = default;

std::optional<RegistryParseError> RegistryStore::Read() {
  // The stamp is taken before the read: a replacement during the read makes the next Refresh
  // read again.
  std::optional<FileStamp> stamp = StampOf(file_);
  std::optional<std::string> text = stamp ? ReadHostFile(file_) : std::nullopt;
  if (stamp && !text) return RegistryParseError{1, "cannot be read"};
  std::unique_ptr<RegistryTree> tree;
  if (text) {
    RegistryParseResult parsed = RegistryTree::Parse(*text);
    if (!parsed.tree) return parsed.error;
    tree = std::move(parsed.tree);
  } else {
    tree = std::make_unique<RegistryTree>();
  }
  tree_ = std::move(tree);
  stamp_ = stamp;
  text_ = text.value_or("");
  ++generation_;
  return std::nullopt;
}

bool RegistryStore::Refresh() {
  if (StampOf(file_) == stamp_) return true;
  return !Read().has_value();
}

FileLock RegistryStore::LockFile(const fs::path& lock_file) {
  std::error_code ec;
  fs::create_directories(lock_file.parent_path(), ec);
  return FileLock(lock_file);
}

RegistryStore::Update::Update(RegistryStore& store)
    : store_(store), lock_(LockFile(store.lock_file_)), ready_(store.Refresh()) {}

bool RegistryStore::Update::Commit() {
  std::string text = store_.tree_->Serialize();
  if (store_.stamp_ && text == store_.text_) return true;  // same bytes: the file stays untouched
  if (!WriteHostFileAtomically(store_.file_, text)) {
    store_.Read();  // back to what the file holds
    return false;
  }
  store_.stamp_ = StampOf(store_.file_);
  store_.text_ = std::move(text);
  return true;
}

}  // namespace w9x
