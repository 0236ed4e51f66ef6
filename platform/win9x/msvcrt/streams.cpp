// C runtime file streams over the machine's files, with the text mode of the Windows C runtime.
//
// A stream is a C stream made with fopencookie: the C library does the buffering, fgets, fputs
// and fclose, and calls the functions here to read, write and close the file.  The text mode
// conversion happens here, between that buffer and the file.
#include "msvcrt/msvcrt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

constexpr int kCtrlZ = 0x1A;

class Stream {
 public:
  Stream(int fd, bool text, bool writing, std::string name)
      : fd_(fd), text_(text), writing_(writing), name_(std::move(name)) {}
  ~Stream() {
    if (fd_ >= 0) close(fd_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Up to `size` bytes as the program reads them; 0 at the end, -1 on a read error.
  ssize_t Read(char* out, std::size_t size) {
    std::size_t n = 0;
    while (n < size) {
      int c = Next();
      if (c < 0) break;
      if (text_) {
        if (c == kCtrlZ) {
          ended_ = true;  // the end marker: nothing after it is ever read
          break;
        }
        if (c == '\r' && Peek() == '\n') c = Next();
      }
      out[n++] = static_cast<char>(c);
    }
    if (n == 0 && failed_) return -1;
    return static_cast<ssize_t>(n);
  }

  // Writes `size` bytes as the program wrote them; the count taken, 0 on failure.
  ssize_t Write(const char* data, std::size_t size) {
    std::string bytes;
    bytes.reserve(size + size / 8);
    for (std::size_t i = 0; i < size; ++i) {
      if (text_ && data[i] == '\n') bytes += '\r';
      bytes += data[i];
    }
    for (std::size_t done = 0; done < bytes.size();) {
      ssize_t w = write(fd_, bytes.data() + done, bytes.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        Failed(w < 0 ? errno : ENOSPC);
        return 0;
      }
      done += static_cast<std::size_t>(w);
      written_ += static_cast<std::uint64_t>(w);
    }
    return static_cast<ssize_t>(size);
  }

  // 0, or -1 when a write or the close failed.
  int Close() {
    if (close(fd_) != 0 && writing_) Failed(errno);
    fd_ = -1;
    if (writing_ && HasContext()) {
      nlohmann::ordered_json fields = {{"path", api::Utf8(name_)}, {"bytes", written_}, {"result", !failed_}};
      if (failed_) {
        fields["error"] = api::ErrorFromErrno(error_);
        api::WriteFailed(name_, api::ErrorFromErrno(error_));
      }
      api::Record("fclose", std::move(fields));
    }
    return writing_ && failed_ ? -1 : 0;
  }

 private:
  bool Fill() {
    if (ended_ || failed_) return false;
    if (pos_ < end_) return true;
    ssize_t n;
    do n = read(fd_, raw_, sizeof raw_);
    while (n < 0 && errno == EINTR);
    if (n <= 0) {
      (n == 0 ? ended_ : failed_) = true;
      return false;
    }
    pos_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }
  // The next byte of the file, -1 at its end.
  int Next() { return Fill() ? static_cast<unsigned char>(raw_[pos_++]) : -1; }
  // Keeps the first failure's errno: the one the journal reports.
  void Failed(int error) {
    if (!failed_) error_ = error;
    failed_ = true;
  }
  int Peek() { return Fill() ? static_cast<unsigned char>(raw_[pos_]) : -1; }

  int fd_;
  bool text_;
  bool writing_;
  std::string name_;  // as the program gave it
  char raw_[4096];
  std::size_t pos_ = 0, end_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  int error_ = 0;  // errno of the first failure
  std::uint64_t written_ = 0;
};

ssize_t ReadStream(void* cookie, char* buffer, std::size_t size) {
  return static_cast<Stream*>(cookie)->Read(buffer, size);
}

ssize_t WriteStream(void* cookie, const char* buffer, std::size_t size) {
  return static_cast<Stream*>(cookie)->Write(buffer, size);
}

int CloseStream(void* cookie) {
  std::unique_ptr<Stream> stream(static_cast<Stream*>(cookie));
  return stream->Close();
}

int Fail(int error) {
  errno = error;
  return -1;
}

// Opens the host file for reading or for writing; the descriptor, or -1 with errno set.
int OpenFile(const char* name, bool writing) {
  auto path = api::ResolveArg(name);
  if (!path) return Fail(ENOENT);
  auto entry = api::Lookup(*path);
  if (!writing) {
    if (!entry) return Fail(ENOENT);
    if (entry->is_folder) return Fail(EACCES);
    int fd = open(entry->host.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? Fail(EACCES) : fd;
  }
  // Writing creates the file or empties it; a folder or a read-only file refuses.
  if (entry && (entry->is_folder || entry->read_only)) return Fail(EACCES);
  auto host = entry ? std::optional<fs::path>(entry->host) : CurrentMachine().Files().Place(*path);
  if (!host) return Fail(ENOENT);
  int fd = open(host->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(EACCES);
  if (!entry) CurrentMachine().Files().Added(host->parent_path(), host->filename().native());
  return fd;
}

}  // namespace

FILE* w9x_fopen(const char* name, const char* mode) {
  if (!name || !mode || (mode[0] != 'r' && mode[0] != 'w')) {
    errno = EINVAL;
    return nullptr;
  }
  const bool writing = mode[0] == 'w';
  bool text = true;
  for (const char* m = mode + 1; *m; ++m) {
    if (*m != 't' && *m != 'b') {
      errno = EINVAL;
      return nullptr;
    }
    text = *m == 't';
  }
  // An injected failure is a refused open: EACCES, with the Windows error as the last error.
  std::optional<DWORD> fault = api::InjectedFault("fopen");
  int fd = fault ? Fail(EACCES) : OpenFile(name, writing);
  if (fault) SetLastError(*fault);
  if (writing) api::Record("fopen", {{"path", api::Utf8(name)}, {"mode", mode}, {"result", fd >= 0}});
  if (fd < 0) return nullptr;
  auto stream = std::make_unique<Stream>(fd, text, writing, name);
  FILE* file = fopencookie(stream.get(), writing ? "w" : "r", {ReadStream, WriteStream, nullptr, CloseStream});
  if (!file) {
    errno = ENOMEM;
    return nullptr;
  }
  stream.release();  // closed by fclose
  return file;
}

int w9x_access(const char* name, int mode) {
  auto path = name ? api::ResolveArg(name) : std::nullopt;
  auto entry = path ? api::Lookup(*path) : std::nullopt;
  if (!entry) return Fail(ENOENT);
  if ((mode & 2) && entry->read_only) return Fail(EACCES);
  return 0;
}
