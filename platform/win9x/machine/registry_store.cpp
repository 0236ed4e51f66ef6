#include "machine/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "machine/machine_config.h"

namespace w9x {
namespace {

constexpr std::string_view kLogMagic = "W9XRLOG1";
// Magic, the size and hash of the text the log applies to, and an identity of its own: a log
// that replaces another (after a fold) may get the same inode, never the same identity.
constexpr std::size_t kLogHeaderSize = 8 + 8 + 8 + 8;
constexpr std::uint32_t kMaxRecord = 64u << 20;
// The record a fold appends before it replaces registry.reg: the size and hash of the new text.
constexpr std::uint8_t kFoldRecord = 0x80;

// A 64-bit hash of a text, eight bytes at a time (FNV-1a over words, then mixed).
std::uint64_t HashOf(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull ^ bytes.size();
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    h = (h ^ word) * 0x100000001b3ull;
    h ^= h >> 29;
  }
  for (; i < bytes.size(); ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ull;
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
void PutBytes(std::string& out, std::string_view bytes) {
  PutU32(out, static_cast<std::uint32_t>(bytes.size()));
  out += bytes;
}

// Reads little-endian fields from a record; any read past the end makes it !ok.
struct Reader {
  std::string_view rest;
  bool ok = true;

  std::uint64_t Number(int bytes) {
    if (rest.size() < static_cast<std::size_t>(bytes)) {
      ok = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(rest[i])) << (8 * i);
    rest.remove_prefix(static_cast<std::size_t>(bytes));
    return v;
  }
  std::string_view Bytes() {
    std::uint64_t size = Number(4);
    if (!ok || rest.size() < size) {
      ok = false;
      return {};
    }
    std::string_view out = rest.substr(0, size);
    rest.remove_prefix(size);
    return out;
  }
};

std::string Header(std::uint64_t text_size, std::uint64_t text_hash, std::uint64_t id) {
  std::string out(kLogMagic);
  PutU64(out, text_size);
  PutU64(out, text_hash);
  PutU64(out, id);
  return out;
}

std::uint64_t NewLogId() {
  std::random_device random;
  const std::uint64_t now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t id = (static_cast<std::uint64_t>(random()) << 32 | random()) ^ now ^ static_cast<std::uint64_t>(getpid());
  return id ? id : 1;
}

// `size` bytes of a file from `offset` on (fewer at its end); nullopt when it cannot be read.
std::optional<std::string> ReadAt(int fd, std::uint64_t offset, std::uint64_t size) {
  std::string out(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return out;
}

// A record: its payload's length and checksum, then the payload.
void AppendRecord(std::string& out, std::string_view payload) {
  PutU32(out, static_cast<std::uint32_t>(payload.size()));
  PutU32(out, static_cast<std::uint32_t>(HashOf(payload)));
  out += payload;
}

std::string Encode(const RegistryChange& change) {
  std::string payload;
  payload += static_cast<char>(change.kind);
  PutBytes(payload, change.path);
  PutBytes(payload, change.name);
  PutU32(payload, change.type);
  PutBytes(payload, std::string_view(reinterpret_cast<const char*>(change.data.data()), change.data.size()));
  return payload;
}

std::optional<RegistryChange> Decode(std::string_view payload) {
  Reader r{payload};
  RegistryChange change;
  const auto kind = static_cast<std::uint8_t>(r.Number(1));
  if (kind < 1 || kind > 4) return std::nullopt;
  change.kind = static_cast<RegistryChange::Kind>(kind);
  change.path = std::string(r.Bytes());
  change.name = std::string(r.Bytes());
  change.type = static_cast<std::uint32_t>(r.Number(4));
  std::string_view data = r.Bytes();
  if (!r.ok || !r.rest.empty()) return std::nullopt;
  change.data.assign(data.begin(), data.end());
  return change;
}

// The whole records of a log's bytes from `offset` on: calls `each` with every payload and gives
// where the last whole record ends.  A record cut short or failing its checksum ends the log.
template <typename Each>
std::uint64_t ForEachRecord(std::string_view log, std::uint64_t offset, Each each) {
  while (offset + 8 <= log.size()) {
    Reader r{log.substr(offset, 8)};
    const auto size = static_cast<std::uint32_t>(r.Number(4));
    const auto sum = static_cast<std::uint32_t>(r.Number(4));
    if (size == 0 || size > kMaxRecord || offset + 8 + size > log.size()) break;
    std::string_view payload = log.substr(offset + 8, size);
    if (static_cast<std::uint32_t>(HashOf(payload)) != sum) break;
    each(payload);
    offset += 8 + size;
  }
  return offset;
}

bool IsFoldOf(std::string_view payload, std::uint64_t size, std::uint64_t hash) {
  Reader r{payload};
  if (r.Number(1) != kFoldRecord) return false;
  const std::uint64_t folded_size = r.Number(8);
  const std::uint64_t folded_hash = r.Number(8);
  return r.ok && folded_size == size && folded_hash == hash;
}

bool WriteAllAt(int fd, std::string_view bytes, off_t at) {
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void RegistryChange::ApplyTo(RegistryTree& tree) const {
  switch (kind) {
    case Kind::kCreateKey:
      tree.Create(path);
      break;
    case Kind::kDeleteKey: {
      KeyResult found = tree.Open(path);
      if (found.status != RegStatus::kOk) break;
      if (std::shared_ptr<RegistryKey> parent = found.key->Parent()) parent->DeleteSubKey(found.key->Name());
      break;
    }
    case Kind::kSetValue: {
      KeyResult key = tree.Create(path);
      if (key.status == RegStatus::kOk) key.key->SetValue(name, type, data);
      break;
    }
    case Kind::kDeleteValue: {
      KeyResult key = tree.Open(path);
      if (key.status == RegStatus::kOk) key.key->DeleteValue(name);
      break;
    }
  }
}

RegistryStore::RegistryStore(fs::path file, fs::path lock_file)
    : file_(std::move(file)), lock_file_(std::move(lock_file)) {
  log_file_ = file_.parent_path() / ".w9x-registry.log";
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
  for (;;) {
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
    text_size_ = text ? text->size() : 0;
    text_hash_ = HashOf(text.value_or(""));
    ++generation_;
    ReadLog(true);
    // A fold between reading the file and reading the log removes the log whose changes the
    // text read lacks: the file has been replaced then, and is read again.
    if (StampOf(file_) == stamp_) return std::nullopt;
  }
}

void RegistryStore::ReadLog(bool from_start) {
  int fd = open(log_file_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && fstat(fd, &st) != 0) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) {
    log_stamp_ = std::nullopt;
    log_end_ = 0;
    log_id_ = 0;
    return;
  }
  const FileStamp stamp{st.st_ino, st.st_size, st.st_mtim};
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (!from_start) {
    // Only the records past those applied are read, from the log known: another log in its
    // place (a fold removed that one) is read from its start.
    std::optional<std::string> header = ReadAt(fd, 0, kLogHeaderSize);
    Reader id{header && header->size() == kLogHeaderSize ? std::string_view(*header).substr(24) : std::string_view()};
    from_start = log_end_ == 0 || id.Number(8) != log_id_ || !id.ok || size < log_end_;
  }
  if (!from_start) {
    std::optional<std::string> tail = ReadAt(fd, log_end_, size - log_end_);
    close(fd);
    log_stamp_ = stamp;
    if (!tail) return;
    log_end_ += ForEachRecord(*tail, 0, [&](std::string_view payload) {
      if (std::optional<RegistryChange> change = Decode(payload)) change->ApplyTo(*tree_);
    });
    return;
  }
  std::optional<std::string> log = ReadAt(fd, 0, size);
  close(fd);
  log_stamp_ = stamp;
  log_end_ = 0;
  log_id_ = 0;
  if (!log || log->size() < kLogHeaderSize || !std::string_view(*log).starts_with(kLogMagic)) return;
  Reader header{std::string_view(*log).substr(kLogMagic.size(), kLogHeaderSize - kLogMagic.size())};
  const std::uint64_t base_size = header.Number(8);
  const std::uint64_t base_hash = header.Number(8);
  const std::uint64_t id = header.Number(8);
  if (id == 0) return;
  log_id_ = id;
  // A log whose text is not the file's: either a fold replaced the file and was cut short
  // before removing the log (a fold record names the file's text: the changes before it are in
  // the file, those appended after it are not), or the file was replaced by hand with changes
  // pending (they are all applied over it).
  std::uint64_t start = kLogHeaderSize;
  if (base_size != text_size_ || base_hash != text_hash_) {
    std::uint64_t offset = kLogHeaderSize;
    ForEachRecord(*log, kLogHeaderSize, [&](std::string_view payload) {
      offset += 8 + payload.size();
      if (IsFoldOf(payload, text_size_, text_hash_)) start = offset;
    });
  }
  log_end_ = ForEachRecord(*log, start, [&](std::string_view payload) {
    if (std::optional<RegistryChange> change = Decode(payload)) change->ApplyTo(*tree_);
  });
}

bool RegistryStore::Refresh(bool exact) {
  if (StampOf(file_) != stamp_) return !Read().has_value();
  // A log rewritten to the same size within the file clock's tick keeps its stamp: under the
  // lock the log is always read past its last known record.
  if (!exact && StampOf(log_file_) == log_stamp_) return true;
  ReadLog(false);
  return true;
}

bool RegistryStore::Append(const std::vector<RegistryChange>& changes) {
  std::string records;
  for (const RegistryChange& change : changes) AppendRecord(records, Encode(change));
  if (!log_stamp_ || log_end_ == 0) {
    // A new log, header and records in one file put in place whole.
    const std::uint64_t id = NewLogId();
    std::string log = Header(text_size_, text_hash_, id) + records;
    if (!WriteHostFileAtomically(log_file_, log)) return false;
    log_stamp_ = StampOf(log_file_);
    log_end_ = log.size();
    log_id_ = id;
    return true;
  }
  int fd = open(log_file_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // What lies past the last whole record is a record a killed writer left unfinished: it was
  // never acknowledged, and goes.
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (ok && static_cast<std::uint64_t>(st.st_size) != log_end_) ok = ftruncate(fd, static_cast<off_t>(log_end_)) == 0;
  ok = ok && WriteAllAt(fd, records, static_cast<off_t>(log_end_)) && fdatasync(fd) == 0;
  if (!ok) {
    const int error = errno;
    if (ftruncate(fd, static_cast<off_t>(log_end_)) == 0) fdatasync(fd);
    close(fd);
    errno = error;
    return false;
  }
  close(fd);
  log_end_ += records.size();
  log_stamp_ = StampOf(log_file_);
  return true;
}

bool RegistryStore::FoldLocked(bool always) {
  if (!log_stamp_ && !always) return true;  // nothing pending
  std::string text = tree_->Serialize();
  const std::uint64_t size = text.size();
  const std::uint64_t hash = HashOf(text);
  if (log_end_ != 0) {
    std::string fold;
    fold += static_cast<char>(kFoldRecord);
    PutU64(fold, size);
    PutU64(fold, hash);
    std::string record;
    AppendRecord(record, fold);
    int fd = open(log_file_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, static_cast<off_t>(log_end_)) == 0 &&
              WriteAllAt(fd, record, static_cast<off_t>(log_end_)) && fdatasync(fd) == 0;
    close(fd);
    if (!ok) return false;
  }
  // Written even when the text is the same: a new file tells every process that the log it
  // knew is gone.
  if (!WriteHostFileAtomically(file_, text)) {
    Read();  // back to what the file and the log hold
    return false;
  }
  stamp_ = StampOf(file_);
  text_size_ = size;
  text_hash_ = hash;
  // Should the removal be lost, the fold record tells the next reader the log is in the file.
  unlink(log_file_.c_str());
  log_stamp_ = std::nullopt;
  log_end_ = 0;
  log_id_ = 0;
  return true;
}

bool RegistryStore::Fold() {
  FileLock lock = LockFile(lock_file_);
  if (!Refresh(true)) return false;
  return FoldLocked();
}

bool RegistryStore::FoldMachine(const fs::path& machine_root, const fs::path& lock_file) {
  const fs::path file = machine_root / "registry.reg";
  std::error_code ec;
  if (!fs::exists(file.parent_path() / ".w9x-registry.log", ec)) return true;
  try {
    RegistryStore store(file, lock_file);
    return store.Fold();
  } catch (const MachineError&) {
    return false;
  }
}

FileLock RegistryStore::LockFile(const fs::path& lock_file) {
  std::error_code ec;
  fs::create_directories(lock_file.parent_path(), ec);
  return FileLock(lock_file);
}

RegistryStore::Update::Update(RegistryStore& store)
    : store_(store), lock_(LockFile(store.lock_file_)), ready_(store.Refresh(true)) {}

bool RegistryStore::Update::Commit(const std::vector<RegistryChange>& changes) {
  if (changes.empty()) return true;
  if (!store_.Append(changes)) {
    store_.Read();  // back to what the file and the log hold
    return false;
  }
  // A long log costs every process that starts: it goes into the file.  Should that fail, the
  // change is safe in the log all the same.
  if (store_.log_end_ > kFoldLogSize) store_.FoldLocked();
  return true;
}

bool RegistryStore::Update::CommitWhole() { return store_.FoldLocked(/*always=*/true); }

}  // namespace w9x
