// Temporary file names: GetTempFileNameA.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

constexpr unsigned kUniqueNumbers = 0x10000;  // only the low 16 bits of a unique number count

// "<folder>\<prefix><hex>.TMP": the folder as the caller gave it, a backslash unless it ends in
// one, at most three bytes of the prefix (never half a double-byte character).
std::string TempName(std::string_view folder, std::string_view prefix, unsigned unique) {
  std::string name(folder);
  if (name.empty() || text::FindLast(name, '\\') != name.size() - 1) name += '\\';
  std::size_t cut = 0;
  while (cut < prefix.size() && cut + text::CharLength(prefix, cut) <= 3) cut += text::CharLength(prefix, cut);
  name += prefix.substr(0, cut);
  char number[16];
  std::snprintf(number, sizeof number, "%X.TMP", unique);
  return name + number;
}

// Creates the file `name` if no entry of that name exists: 1 created, 0 taken, -1 failed (the
// last error is set).
int CreateIfFree(const std::string& name) {
  auto path = api::ResolveArg(name.c_str());
  if (!path) return -1;
  if (api::Lookup(*path)) return 0;
  auto host = CurrentMachine().Files().Place(*path);
  if (!host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return -1;
  }
  int fd = open(host->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return 0;
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  close(fd);
  CurrentMachine().Files().Added(host->parent_path(), host->filename().native());
  return 1;
}

}  // namespace

UINT WINAPI GetTempFileNameA(LPCSTR path_arg, LPCSTR prefix_arg, UINT unique_arg, LPSTR buffer) {
  if (!path_arg || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (auto error = api::InjectedFault("GetTempFileNameA")) {
    SetLastError(*error);
    return 0;
  }
  const std::string_view prefix = prefix_arg ? prefix_arg : "";
  // A given number only forms the name; nothing is created or checked.
  if (unique_arg != 0) {
    const unsigned unique = unique_arg % kUniqueNumbers;
    std::string name = TempName(path_arg, prefix, unique);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return unique;
  }

  // Number 0: the system picks a free name, starting from the clock and counting up, and
  // creates the empty file so that nobody else takes the name.
  UINT result = 0;
  auto folder = api::ResolveArg(path_arg);
  auto entry = folder ? api::Lookup(*folder) : std::nullopt;
  if (folder && !(entry && entry->is_folder)) SetLastError(ERROR_PATH_NOT_FOUND);
  if (entry && entry->is_folder) {
    const unsigned start = GetTickCount() % kUniqueNumbers;
    bool every_name_taken = true;
    for (unsigned n = 0; n < kUniqueNumbers && every_name_taken; ++n) {
      const unsigned unique = (start + n) % kUniqueNumbers;
      if (unique == 0) continue;
      const std::string name = TempName(path_arg, prefix, unique);
      int created = -1;
      if (name.size() < MAX_PATH) created = CreateIfFree(name);
      else SetLastError(ERROR_FILENAME_EXCED_RANGE);
      if (created != 0) every_name_taken = false;
      if (created > 0) {
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        result = unique;
      }
    }
    if (every_name_taken) SetLastError(ERROR_FILE_EXISTS);
  }
  nlohmann::ordered_json fields = {{"folder", api::Utf8(path_arg)}, {"prefix", api::Utf8(prefix_arg)},
                                   {"name", result ? api::Utf8(buffer) : nullptr}, {"result", result != 0}};
  if (!result) fields["error"] = GetLastError();
  api::Record("GetTempFileNameA", std::move(fields));
  return result;
}
