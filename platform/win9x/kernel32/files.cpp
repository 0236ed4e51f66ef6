// Files and folders of the machine's drives.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "kernel32/api_support.h"
#include "machine/host_file.h"

using namespace w9x;

namespace {

FileSystem& Files() { return CurrentMachine().Files(); }

// Journal line for a call that changes the disk, with its outcome.
void RecordResult(std::string_view event, nlohmann::ordered_json fields, BOOL ok) {
  fields["result"] = ok != FALSE;
  if (!ok) fields["error"] = GetLastError();
  api::Record(event, std::move(fields));
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// A write to the disk that failed: noted for the run's summary, and the call's error.
BOOL WriteFailure(const WinPath& path, DWORD error) {
  api::WriteFailed(path.ToString(), error);
  return Fail(error);
}

std::string Name(const fs::path& host) { return host.filename().native(); }

// Copies the bytes of `from` into a new file `to` atomically (temporary file, then rename), with
// the source's permission bits and modification time, as Windows keeps a copy's write time.
bool CopyHostFile(const fs::path& from, const fs::path& to) {
  auto temp = CopyToTemporary(from, to);
  return temp && PutTemporaryInPlace(*temp, to);
}

// Windows wildcard match ("*" any run, "?" one character), ignoring case.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::string p = text::Upper(pattern), n = text::Upper(name);
  if (p == "*.*") return true;
  std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      std::size_t step = p[pi] == '?' ? text::CharLength(n, ni) : 1;
      ++pi;
      ni += step;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = mark += text::CharLength(n, mark);
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

class FindObject : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATAA> results;
  std::size_t next = 0;
};

bool FillFindData(const WinPath& path, WIN32_FIND_DATAA& data) {
  auto entry = api::Lookup(path);
  if (!entry) return false;
  const struct stat& st = entry->status;
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = api::AttributesOf(path, *entry);
  data.ftCreationTime = data.ftLastAccessTime = data.ftLastWriteTime = api::ToFileTime(st.st_mtim);
  data.ftLastAccessTime = api::ToFileTime(st.st_atim);
  if (!entry->is_folder) {
    data.nFileSizeLow = static_cast<DWORD>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_size) >> 32);
  }
  // The name as it stands on the disk, whatever spelling the caller used.
  auto name = FileSystem::WindowsName(entry->host.filename());
  std::strncpy(data.cFileName, name ? name->c_str() : path.Leaf().c_str(), MAX_PATH - 1);
  return true;
}

// The search path of FindFirstFileA: a folder, resolved like any path, and a last name that may
// hold wildcards (which no path name may).
std::optional<WinPath> ResolvePattern(LPCSTR pattern_arg) {
  if (!pattern_arg) return api::ResolveArg(pattern_arg);
  std::string_view pattern = pattern_arg;
  std::size_t slash = text::FindLast(pattern, '\\');
  if (std::size_t other = text::FindLast(pattern, '/'); other != std::string_view::npos &&
                                                        (slash == std::string_view::npos || other > slash))
    slash = other;
  std::size_t leaf_start = slash == std::string_view::npos ? 0 : slash + 1;
  if (leaf_start == 0 && pattern.size() >= 2 && pattern[1] == ':') leaf_start = 2;  // "C:*.TXT"
  const std::string leaf(pattern.substr(leaf_start));
  if (!HasWildcard(leaf)) return api::ResolveArg(pattern_arg);
  std::string folder(pattern.substr(0, leaf_start));
  if (folder.empty() || folder.back() == ':') folder += '.';
  std::string plain = leaf;  // the leaf with its wildcards as ordinary characters, to check the rest
  for (std::size_t i = 0; i < plain.size(); i += text::CharLength(plain, i))
    if (plain[i] == '*' || plain[i] == '?') plain[i] = '_';
  auto parent = api::ResolveArg(folder.c_str());
  if (!parent) return std::nullopt;
  if (!IsValidName(plain)) {
    SetLastError(ERROR_INVALID_NAME);
    return std::nullopt;
  }
  return parent->Child(leaf);
}

}  // namespace

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path_arg) {
  auto path = api::ResolveArg(path_arg);
  BOOL ok = FALSE;
  if (path) {
    auto entry = api::Lookup(*path);
    if (entry && entry->is_folder) {
      CurrentProcess().SetCurrentDir(*path);
      ok = TRUE;
    } else {
      SetLastError(ERROR_PATH_NOT_FOUND);
    }
  }
  RecordResult("SetCurrentDirectoryA", {{"path", api::Utf8(path_arg)}}, ok);
  return ok;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  return api::CopyOut(CurrentProcess().CurrentDir().ToString(), buffer, size);
}

BOOL WINAPI CreateDirectoryA(LPCSTR path_arg, LPSECURITY_ATTRIBUTES) {
  BOOL ok = [&] {
    if (auto error = api::InjectedFault("CreateDirectoryA")) return Fail(*error);
    auto path = api::ResolveArg(path_arg);
    if (!path) return FALSE;
    if (api::Lookup(*path)) return Fail(ERROR_ALREADY_EXISTS);
    auto host = Files().Place(*path);
    if (!host) return Fail(ERROR_PATH_NOT_FOUND);
    if (mkdir(host->c_str(), 0755) != 0) return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED);
    Files().Added(host->parent_path(), Name(*host));
    return TRUE;
  }();
  RecordResult("CreateDirectoryA", {{"path", api::Utf8(path_arg)}}, ok);
  return ok;
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
  char drive = CurrentProcess().CurrentDir().drive;
  if (root) {
    if (!(std::strlen(root) == 3 && root[1] == ':' && root[2] == '\\')) return DRIVE_NO_ROOT_DIR;
    drive = static_cast<char>(root[0] & ~0x20);
  }
  auto type = Files().TypeOf(drive);
  return type ? static_cast<UINT>(*type) : DRIVE_NO_ROOT_DIR;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path_arg) {
  auto path = api::ResolveArg(path_arg);
  if (!path) return INVALID_FILE_ATTRIBUTES;
  auto entry = api::Lookup(*path);
  if (!entry) {
    SetLastError(Files().Find(path->Parent()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return api::AttributesOf(*path, *entry);
}

BOOL WINAPI SetFileAttributesA(LPCSTR path_arg, DWORD attributes) {
  BOOL ok = [&] {
    if (auto error = api::InjectedFault("SetFileAttributesA")) return Fail(*error);
    auto path = api::ResolveArg(path_arg);
    if (!path) return FALSE;
    auto entry = api::Lookup(*path);
    if (!entry) return Fail(ERROR_FILE_NOT_FOUND);
    if (path->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
    const struct stat& st = entry->status;
    mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~S_IWUSR) : (st.st_mode | S_IWUSR);
    // Both halves or neither: the read-only bit goes back when the other bits cannot be stored.
    if (chmod(entry->host.c_str(), mode & 07777) != 0) return Fail(ERROR_ACCESS_DENIED);
    if (!CurrentMachine().Attributes().Set(*path, entry->is_folder, attributes)) {
      chmod(entry->host.c_str(), st.st_mode & 07777);
      return WriteFailure(*path, ERROR_ACCESS_DENIED);
    }
    return TRUE;
  }();
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%02X", attributes);
  RecordResult("SetFileAttributesA", {{"path", api::Utf8(path_arg)}, {"attributes", hex}}, ok);
  return ok;
}

DWORD WINAPI GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* file_part) {
  auto path = api::ResolveArg(name);
  if (!path) return 0;
  std::string full = path->ToString();
  DWORD n = api::CopyOut(full, buffer, size);
  if (file_part && n < size) {
    std::size_t slash = text::FindLast(full, '\\');
    *file_part = path->IsRoot() ? nullptr : buffer + slash + 1;
  }
  return n;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern_arg, LPWIN32_FIND_DATAA data) {
  auto path = ResolvePattern(pattern_arg);
  if (!path || !data) return INVALID_HANDLE_VALUE;
  auto object = std::make_unique<FindObject>();
  // A name is searched for: a path that ends in a separator names none, nor does a root.
  const std::string_view pattern = pattern_arg;
  const bool ends_in_separator = text::FindLast(pattern, '\\') + 1 == pattern.size() || pattern.back() == '/';
  if (path->IsRoot() || ends_in_separator) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string leaf = path->Leaf();
  if (!HasWildcard(leaf)) {
    WIN32_FIND_DATAA one;
    if (FillFindData(*path, one)) object->results.push_back(one);
  } else if (auto dir = Files().Find(path->Parent())) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir->c_str())) {
      while (dirent* e = readdir(d)) {
        std::string host = e->d_name;
        if (host == "." || host == ".." || IsPlatformName(host)) continue;
        if (auto name = FileSystem::WindowsName(host); name && WildcardMatch(leaf, *name)) names.push_back(*name);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      WIN32_FIND_DATAA one;
      if (FillFindData(path->Parent().Child(name), one)) object->results.push_back(one);
    }
  }
  if (object->results.empty()) {
    SetLastError(Files().Find(path->Parent()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = object->results[0];
  object->next = 1;
  return reinterpret_cast<HANDLE>(CurrentProcess().Handles().Add(std::move(object)));
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  auto* object = CurrentProcess().Handles().Get<FindObject>(reinterpret_cast<std::uintptr_t>(handle));
  if (!object || !data) return Fail(ERROR_INVALID_HANDLE);
  if (object->next >= object->results.size()) return Fail(ERROR_NO_MORE_FILES);
  *data = object->results[object->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  auto h = reinterpret_cast<std::uintptr_t>(handle);
  if (!CurrentProcess().Handles().Get<FindObject>(h)) return Fail(ERROR_INVALID_HANDLE);
  return CurrentProcess().Handles().Close(h) ? TRUE : FALSE;
}

BOOL WINAPI CopyFileA(LPCSTR from_arg, LPCSTR to_arg, BOOL fail_if_exists) {
  BOOL ok = [&] {
    auto from = api::ResolveArg(from_arg);
    auto to = api::ResolveArg(to_arg);
    if (!from || !to) return FALSE;
    if (auto error = api::InjectedFault("CopyFileA")) return WriteFailure(*to, *error);
    auto source = api::Lookup(*from);
    if (!source || source->is_folder) return Fail(source ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
    auto target = api::Lookup(*to);
    if (target) {
      if (fail_if_exists) return Fail(ERROR_FILE_EXISTS);
      if (target->is_folder || target->read_only) return Fail(ERROR_ACCESS_DENIED);
      if (target->host == source->host) return Fail(ERROR_SHARING_VIOLATION);
    }
    auto host = Files().Place(*to);
    if (!host) return Fail(ERROR_PATH_NOT_FOUND);
    // The copy takes the source's attributes, read-only included.  It is done whole or not at
    // all: the content waits beside the destination until its attributes are stored, and the old
    // attributes come back when it cannot be put in place.
    DWORD attributes = api::AttributesOf(*from, *source);
    auto temp = CopyToTemporary(source->host, *host);
    if (!temp) return WriteFailure(*to, api::ErrorFromErrno(errno));
    AttributeStore& store = CurrentMachine().Attributes();
    const std::uint32_t old_bits = store.Get(*to, false);
    if (!store.Set(*to, false, attributes)) {
      unlink(temp->c_str());
      return WriteFailure(*to, ERROR_ACCESS_DENIED);
    }
    if (!PutTemporaryInPlace(*temp, *host)) {
      const DWORD error = api::ErrorFromErrno(errno);
      store.Set(*to, false, old_bits);
      return WriteFailure(*to, error);
    }
    if (!target) Files().Added(host->parent_path(), Name(*host));
    return TRUE;
  }();
  RecordResult("CopyFileA",
               {{"from", api::Utf8(from_arg)}, {"to", api::Utf8(to_arg)}, {"fail_if_exists", fail_if_exists != FALSE}},
               ok);
  return ok;
}

BOOL WINAPI DeleteFileA(LPCSTR path_arg) {
  BOOL ok = [&] {
    if (auto error = api::InjectedFault("DeleteFileA")) return Fail(*error);
    auto path = api::ResolveArg(path_arg);
    if (!path) return FALSE;
    auto entry = api::Lookup(*path);
    if (!entry) return Fail(Files().Find(path->Parent()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (entry->is_folder || entry->read_only) return Fail(ERROR_ACCESS_DENIED);
    if (unlink(entry->host.c_str()) != 0) return Fail(ERROR_ACCESS_DENIED);
    Files().Removed(entry->host.parent_path(), Name(entry->host));
    CurrentMachine().Attributes().Forget(*path);
    return TRUE;
  }();
  RecordResult("DeleteFileA", {{"path", api::Utf8(path_arg)}}, ok);
  return ok;
}

BOOL WINAPI MoveFileA(LPCSTR from_arg, LPCSTR to_arg) {
  BOOL ok = [&] {
    if (auto error = api::InjectedFault("MoveFileA")) return Fail(*error);
    auto from = api::ResolveArg(from_arg);
    auto to = api::ResolveArg(to_arg);
    if (!from || !to) return FALSE;
    auto source = api::Lookup(*from);
    if (!source) return Fail(Files().Find(from->Parent()) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (from->IsRoot() || to->IsRoot()) return Fail(ERROR_ACCESS_DENIED);
    const bool same_entry = from->Key() == to->Key();  // a change of letter case only
    if (!same_entry && api::Lookup(*to)) return Fail(ERROR_ALREADY_EXISTS);
    if (from->drive != to->drive && source->is_folder) return Fail(ERROR_NOT_SAME_DEVICE);
    auto parent = Files().Find(to->Parent());
    if (!parent) return Fail(ERROR_PATH_NOT_FOUND);
    auto new_name = text::ToUtf8(to->Leaf());
    if (text::ToCp932(new_name) != to->Leaf()) return Fail(ERROR_INVALID_NAME);
    fs::path host = *parent / new_name;
    if (from->drive == to->drive) {
      if (rename(source->host.c_str(), host.c_str()) != 0) return Fail(ERROR_ACCESS_DENIED);
    } else {
      if (!CopyHostFile(source->host, host)) return Fail(ERROR_ACCESS_DENIED);
      unlink(source->host.c_str());
    }
    Files().Removed(source->host.parent_path(), Name(source->host));
    Files().Added(host.parent_path(), Name(host));
    if (!same_entry) CurrentMachine().Attributes().Move(*from, *to);
    return TRUE;
  }();
  RecordResult("MoveFileA", {{"from", api::Utf8(from_arg)}, {"to", api::Utf8(to_arg)}}, ok);
  return ok;
}
