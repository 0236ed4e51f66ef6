#include "machine/host_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace w9x {

std::optional<std::string> ReadHostFile(const fs::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return data;
}

namespace {

// A name for a temporary file beside `path`, unique among the threads and processes of the
// machine; platform names start with ".w9x" and are invisible to programs.
fs::path TemporaryBeside(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  return path.parent_path() / (".w9x-tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
}

std::function<void(const fs::path&)>& SyncWatcher() {
  static std::function<void(const fs::path&)> watcher;
  return watcher;
}

// Makes a file's content reach the disk.
bool SyncFile(int fd, const fs::path& path) {
  if (fsync(fd) != 0) return false;
  if (SyncWatcher()) SyncWatcher()(path);
  return true;
}

// Makes a folder's entries (a rename into it) reach the disk.
bool SyncFolder(const fs::path& folder) {
  const fs::path name = folder.empty() ? fs::path(".") : folder;
  int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  if (ok && SyncWatcher()) SyncWatcher()(name);
  return ok;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<fs::path> CopyToTemporary(const fs::path& from, const fs::path& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return std::nullopt;
  struct stat st {};
  fstat(in, &st);
  fs::path temp = TemporaryBeside(to);
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    close(in);
    return std::nullopt;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!(ok = WriteAll(out, buffer, static_cast<std::size_t>(n)))) break;
  }
  close(in);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  // The content reaches the disk before the file can take the place of another.
  ok = ok && fchmod(out, st.st_mode & 07777) == 0 && futimens(out, times) == 0 && SyncFile(out, temp);
  int error = errno;
  if (close(out) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) return temp;
  unlink(temp.c_str());
  errno = error;
  return std::nullopt;
}

bool PutTemporaryInPlace(const fs::path& temp, const fs::path& path) {
  // Once renamed, the folder is synced too, so that the change survives a power loss.  The file
  // itself was synced before: the name never stands for an empty file.  A folder that cannot be
  // synced does not undo a change that is already in place.
  if (rename(temp.c_str(), path.c_str()) == 0) {
    SyncFolder(path.parent_path());
    return true;
  }
  const int error = errno;
  unlink(temp.c_str());
  errno = error;
  return false;
}

bool WriteHostFileAtomically(const fs::path& path, std::string_view bytes) {
  fs::path temp = TemporaryBeside(path);
  mode_t mode = 0644;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  ok = ok && fchmod(fd, mode) == 0 && SyncFile(fd, temp);
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    errno = error;
    return false;
  }
  return PutTemporaryInPlace(temp, path);
}

void WatchSyncs(std::function<void(const fs::path&)> watcher) { SyncWatcher() = std::move(watcher); }

std::optional<FileStamp> StampOf(const fs::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampOf(st);
}

std::optional<FileStamp> StampOf(const struct stat& status) {
  if (!S_ISREG(status.st_mode)) return std::nullopt;
  return FileStamp{status.st_ino, status.st_size, status.st_mtim};
}

}  // namespace w9x
