// Windows paths as the simulated system resolves them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w9x {

// A full path: a drive letter and the names below its root, all code page 932.
struct WinPath {
  char drive = 'C';                  // upper case
  std::vector<std::string> parts;    // no empty parts, no "." or ".."

  bool IsRoot() const { return parts.empty(); }
  std::string Leaf() const { return parts.empty() ? std::string() : parts.back(); }
  WinPath Parent() const;
  WinPath Child(std::string_view name) const;
  // "C:\" for a root, otherwise "C:\A\B" (no trailing backslash).
  std::string ToString() const;
  // Upper-cased ToString(), the identity of the path (Windows names ignore case).
  std::string Key() const;
  bool operator==(const WinPath&) const = default;
};

// The longest full path Windows 9x accepts, in bytes, without the terminating NUL.
inline constexpr std::size_t kMaxPathLength = 259;

// Resolves `path` as a process whose current folder is `cwd` (a full path) sees it: "C:\x",
// "\x" (on the current drive), "C:x" and "x" (relative to the current folder), "/" as a
// separator, "." and "..".  Trailing dots and blanks of the last name are dropped, as Windows
// drops them ("C:\A\B.TXT." is "C:\A\B.TXT").  Separators are found double-byte aware.  Gives
// nullopt for an empty path, UNC and device paths, a bad drive letter, names with characters
// Windows forbids, and results longer than kMaxPathLength.
std::optional<WinPath> ResolvePath(const WinPath& cwd, std::string_view path);

// Parses a full path ("C:\..."), nullopt when it is not one.
std::optional<WinPath> ParseFullPath(std::string_view path);

// True for a name that Windows would accept as a file name (no wildcard or forbidden character).
bool IsValidName(std::string_view name);

// True when the name holds "*" or "?".
bool HasWildcard(std::string_view name);

}  // namespace w9x
