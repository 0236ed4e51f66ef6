// What our Win32 functions share: reaching the machine and the process, resolving the paths a
// program passes, reporting errors and writing the journal.
#pragma once

#include <windows.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "machine/context.h"
#include "machine/text.h"

namespace w9x::api {

// Text for the journal: code page 932 in, UTF-8 out; a null pointer gives JSON null.
nlohmann::ordered_json Utf8(const char* cp932);
inline std::string Utf8(const std::string& cp932) { return text::ToUtf8(cp932); }

// Appends one event of the current process to the journal.
void Record(std::string_view event, nlohmann::ordered_json fields);

// Asks the process's fault plan whether this call of `call` (its Win32 name) must fail; when it
// must, records the fault in the journal and gives the Windows error to fail with.  Every call
// that can fail on Windows asks this first, before it changes anything.
std::optional<DWORD> InjectedFault(const char* call);

// A path as the current process means it; on failure sets the last error (invalid name, path
// too long, no such drive) and gives nullopt.
std::optional<WinPath> ResolveArg(const char* path);

// The host file of an existing path, with its host status.
struct HostEntry {
  fs::path host;
  bool is_folder = false;
  bool read_only = false;
  struct stat status {};  // of the host file
};
std::optional<HostEntry> Lookup(const WinPath& path);

// Full attribute word of an existing entry (read-only from the host file, the rest stored).
DWORD AttributesOf(const WinPath& path, const HostEntry& entry);

// FILETIME of a host time.
FILETIME ToFileTime(const struct timespec& t);

// Copies `value` with its NUL into a buffer of `size` bytes, the way most "Get...A" functions
// report: the length without the NUL when it fits, otherwise the size needed with the NUL and
// nothing written.
DWORD CopyOut(const std::string& value, char* buffer, DWORD size);

}  // namespace w9x::api
