#include "kernel32/api_support.h"

#include <sys/stat.h>

#include <cstring>

namespace w9x::api {

nlohmann::ordered_json Utf8(const char* cp932) {
  if (!cp932) return nullptr;
  return text::ToUtf8(cp932);
}

void Record(std::string_view event, nlohmann::ordered_json fields) {
  CurrentMachine().Log().Record(event, std::move(fields));
}

std::optional<DWORD> InjectedFault(const char* call) {
  std::optional<std::uint32_t> error = CurrentProcess().Faults().Next(call);
  if (!error) return std::nullopt;
  Record("InjectedFault", {{"call", call}, {"error", *error}});
  return static_cast<DWORD>(*error);
}

std::optional<WinPath> ResolveArg(const char* path) {
  if (!path || !*path) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  auto resolved = ResolvePath(CurrentProcess().CurrentDir(), path);
  if (!resolved) {
    SetLastError(std::strlen(path) > kMaxPathLength ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME);
    return std::nullopt;
  }
  if (!CurrentMachine().Files().DriveRoot(resolved->drive)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  return resolved;
}

std::optional<HostEntry> Lookup(const WinPath& path) {
  struct stat st {};
  auto host = CurrentMachine().Files().Find(path, &st);
  if (!host) return std::nullopt;
  return HostEntry{*host, S_ISDIR(st.st_mode), (st.st_mode & S_IWUSR) == 0, st};
}

DWORD AttributesOf(const WinPath& path, const HostEntry& entry) {
  DWORD bits = path.IsRoot() ? 0 : CurrentMachine().Attributes().Get(path, entry.is_folder);
  if (entry.is_folder) bits |= FILE_ATTRIBUTE_DIRECTORY;
  if (entry.read_only) bits |= FILE_ATTRIBUTE_READONLY;
  return bits;
}

FILETIME ToFileTime(const struct timespec& t) {
  constexpr std::uint64_t kEpochDifference = 11644473600ULL;  // seconds from 1601 to 1970
  std::uint64_t v = (static_cast<std::uint64_t>(t.tv_sec) + kEpochDifference) * 10000000ULL +
                    static_cast<std::uint64_t>(t.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

DWORD CopyOut(const std::string& value, char* buffer, DWORD size) {
  if (!buffer || size <= value.size()) return static_cast<DWORD>(value.size() + 1);
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

}  // namespace w9x::api
