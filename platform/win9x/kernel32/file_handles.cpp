// Open files: CreateFileA and the calls on its handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kernel32/api_support.h"
#include "kernel32/devices.h"

using namespace w9x;

namespace {

class FileObject : public KernelObject {
 public:
  FileObject(int fd, WinPath path, fs::path host, bool delete_on_close)
      : fd_(fd), path_(std::move(path)), host_(std::move(host)), delete_on_close_(delete_on_close) {}
  ~FileObject() override {
    close(fd_);
    if (delete_on_close_ && unlink(host_.c_str()) == 0) {
      if (HasContext()) {
        CurrentMachine().Files().Removed(host_.parent_path(), host_.filename().native());
        CurrentMachine().Attributes().Forget(path_);
      }
    }
  }
  int fd() const { return fd_; }
  const WinPath& path() const { return path_; }
  std::uint64_t written = 0;

 private:
  int fd_;
  WinPath path_;
  fs::path host_;
  bool delete_on_close_;
};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

FileObject* FileOf(HANDLE h) {
  return CurrentProcess().Handles().Get<FileObject>(reinterpret_cast<std::uintptr_t>(h));
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
  if (auto error = api::InjectedFault("CreateFileA")) {
    api::Record("CreateFileA", {{"path", api::Utf8(name)}, {"result", false}, {"error", *error}});
    return FailHandle(*error);
  }
  if (!name) return FailHandle(ERROR_PATH_NOT_FOUND);
  if (std::strncmp(name, "\\\\.\\", 4) == 0) {
    auto device = api::OpenDevice(name + 4);
    api::Record("CreateFileA", {{"path", api::Utf8(name)}, {"device", true}, {"result", device != nullptr}});
    if (!device) return FailHandle(ERROR_FILE_NOT_FOUND);
    return reinterpret_cast<HANDLE>(CurrentProcess().Handles().Add(std::move(device)));
  }
  auto path = api::ResolveArg(name);
  if (!path) return INVALID_HANDLE_VALUE;
  auto entry = api::Lookup(*path);
  const bool write = (access & GENERIC_WRITE) != 0;
  int oflags = O_CLOEXEC | (write ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY);
  switch (disposition) {
    case CREATE_NEW:
      if (entry) return FailHandle(ERROR_FILE_EXISTS);
      oflags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      oflags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      if (!entry) return FailHandle(ERROR_FILE_NOT_FOUND);
      break;
    case OPEN_ALWAYS:
      oflags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!entry) return FailHandle(ERROR_FILE_NOT_FOUND);
      oflags |= O_TRUNC;
      break;
    default:
      return FailHandle(ERROR_INVALID_PARAMETER);
  }
  if (entry && entry->is_folder) return FailHandle(ERROR_ACCESS_DENIED);
  if (entry && entry->read_only && (write || (oflags & O_TRUNC))) return FailHandle(ERROR_ACCESS_DENIED);
  auto host = entry ? std::optional<fs::path>(entry->host) : CurrentMachine().Files().Place(*path);
  if (!host) return FailHandle(ERROR_PATH_NOT_FOUND);
  int fd = open(host->c_str(), oflags, 0644);
  if (fd < 0) return FailHandle(errno == EEXIST ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
  if (!entry) CurrentMachine().Files().Added(host->parent_path(), host->filename().native());
  if (write || !entry) {
    api::Record("CreateFileA", {{"path", api::Utf8(name)}, {"write", write}, {"disposition", disposition},
                                {"created", !entry}, {"result", true}});
  }
  SetLastError(entry && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS : 0);
  auto object = std::make_unique<FileObject>(fd, *path, *host, (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0);
  return reinterpret_cast<HANDLE>(CurrentProcess().Handles().Add(std::move(object)));
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  FileObject* f = FileOf(h);
  if (done) *done = 0;
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (auto error = api::InjectedFault("ReadFile")) return Fail(*error);
  ssize_t n;
  do n = read(f->fd(), buffer, size);
  while (n < 0 && errno == EINTR);
  if (n < 0) return Fail(ERROR_ACCESS_DENIED);
  if (done) *done = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED) {
  FileObject* f = FileOf(h);
  if (done) *done = 0;
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  if (auto error = api::InjectedFault("WriteFile")) {
    api::Record("WriteFile", {{"path", api::Utf8(f->path().ToString())}, {"bytes", 0}, {"result", false}, {"error", *error}});
    api::WriteFailed(f->path().ToString(), *error);
    return Fail(*error);
  }
  DWORD total = 0;
  while (total < size) {
    ssize_t n = write(f->fd(), static_cast<const char*>(buffer) + total, size - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const DWORD error = api::ErrorFromErrno(n < 0 ? errno : ENOSPC);
      if (done) *done = total;
      api::Record("WriteFile",
                  {{"path", api::Utf8(f->path().ToString())}, {"bytes", total}, {"result", false}, {"error", error}});
      api::WriteFailed(f->path().ToString(), error);
      return Fail(error);
    }
    total += static_cast<DWORD>(n);
  }
  if (done) *done = total;
  api::Record("WriteFile", {{"path", api::Utf8(f->path().ToString())}, {"bytes", total}, {"result", true}});
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG high, DWORD method) {
  FileObject* f = FileOf(h);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t offset = high ? ((static_cast<std::int64_t>(*high) << 32) | static_cast<std::uint32_t>(distance))
                             : static_cast<std::int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = lseek(f->fd(), static_cast<off_t>(offset), whence);
  if (pos < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (high) *high = static_cast<LONG>(static_cast<std::uint64_t>(pos) >> 32);
  SetLastError(0);
  return static_cast<DWORD>(pos);
}

DWORD WINAPI GetFileSize(HANDLE h, LPDWORD high) {
  FileObject* f = FileOf(h);
  struct stat st {};
  if (!f || fstat(f->fd(), &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  if (high) *high = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_size) >> 32);
  return static_cast<DWORD>(st.st_size);
}

BOOL WINAPI SetEndOfFile(HANDLE h) {
  FileObject* f = FileOf(h);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  off_t pos = lseek(f->fd(), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(f->fd(), pos) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE h) {
  FileObject* f = FileOf(h);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  return fsync(f->fd()) == 0 ? TRUE : Fail(ERROR_WRITE_FAULT);
}

BOOL WINAPI GetFileTime(HANDLE h, LPFILETIME created, LPFILETIME accessed, LPFILETIME written) {
  FileObject* f = FileOf(h);
  struct stat st {};
  if (!f || fstat(f->fd(), &st) != 0) return Fail(ERROR_INVALID_HANDLE);
  if (created) *created = api::ToFileTime(st.st_mtim);
  if (accessed) *accessed = api::ToFileTime(st.st_atim);
  if (written) *written = api::ToFileTime(st.st_mtim);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE h, const FILETIME*, const FILETIME* accessed, const FILETIME* written) {
  FileObject* f = FileOf(h);
  if (!f) return Fail(ERROR_INVALID_HANDLE);
  auto to_timespec = [](const FILETIME* t) {
    struct timespec ts {0, UTIME_OMIT};
    if (!t) return ts;
    std::uint64_t v = (static_cast<std::uint64_t>(t->dwHighDateTime) << 32) | t->dwLowDateTime;
    v -= 116444736000000000ULL;
    ts.tv_sec = static_cast<time_t>(v / 10000000ULL);
    ts.tv_nsec = static_cast<long>((v % 10000000ULL) * 100);
    return ts;
  };
  struct timespec times[2] = {to_timespec(accessed), to_timespec(written)};
  return futimens(f->fd(), times) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

BOOL WINAPI CloseHandle(HANDLE h) {
  if (!CurrentProcess().Handles().Close(reinterpret_cast<std::uintptr_t>(h))) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                            LPDWORD returned, LPOVERLAPPED) {
  auto* device = CurrentProcess().Handles().Get<api::Device>(reinterpret_cast<std::uintptr_t>(h));
  if (!device) return Fail(ERROR_INVALID_HANDLE);
  DWORD count = 0;
  bool ok = device->Control(code, in, in_size, out, out_size, count);
  if (returned) *returned = count;
  api::Record("DeviceIoControl", {{"device", device->Name()}, {"code", code}, {"bytes", count}, {"result", ok}});
  return ok ? TRUE : Fail(ERROR_INVALID_FUNCTION);
}
