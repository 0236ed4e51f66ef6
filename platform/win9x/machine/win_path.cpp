#include "machine/win_path.h"

#include "machine/text.h"

namespace w9x {

WinPath WinPath::Parent() const {
  WinPath p = *this;
  if (!p.parts.empty()) p.parts.pop_back();
  return p;
}

WinPath WinPath::Child(std::string_view name) const {
  WinPath p = *this;
  p.parts.emplace_back(name);
  return p;
}

std::string WinPath::ToString() const {
  std::string s{drive, ':', '\\'};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) s += '\\';
    s += parts[i];
  }
  return s;
}

std::string WinPath::Key() const { return text::Upper(ToString()); }

bool HasWildcard(std::string_view name) {
  return text::Find(name, '*') != std::string_view::npos || text::Find(name, '?') != std::string_view::npos;
}

bool IsValidName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); i += text::CharLength(name, i)) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (text::CharLength(name, i) == 2) continue;
    if (c < 0x20) return false;
    switch (c) {
      case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '*': case '?':
        return false;
      default:
        break;
    }
  }
  return true;
}

namespace {

// The last name of a path without its trailing dots and blanks, which Windows drops ("C.TXT."
// names C.TXT).  "." and ".." stay as they are.
std::string_view WithoutTrailingDots(std::string_view name) {
  if (name == "." || name == "..") return name;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

// Splits at "\" and "/" (never inside a double-byte character) and applies "." and "..".
bool AppendParts(std::vector<std::string>& parts, std::string_view rest) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size();) {
    bool end = i == rest.size();
    if (end || rest[i] == '\\' || rest[i] == '/') {
      std::string_view name = rest.substr(start, i - start);
      if (end) name = WithoutTrailingDots(name);
      if (name == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!name.empty() && name != ".") {
        if (!IsValidName(name)) return false;
        parts.emplace_back(name);
      }
      if (end) break;
      ++i;
      start = i;
    } else {
      i += text::CharLength(rest, i);
    }
  }
  return true;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::optional<WinPath> ResolvePath(const WinPath& cwd, std::string_view path) {
  if (path.empty()) return std::nullopt;
  WinPath out;
  std::string_view rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    if (!IsDriveLetter(rest[0])) return std::nullopt;
    out.drive = static_cast<char>(rest[0] & ~0x20);
    rest.remove_prefix(2);
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
      if (out.drive == cwd.drive) out.parts = cwd.parts;  // "C:x" is relative to C's current folder
    }
  } else if (rest[0] == '\\' || rest[0] == '/') {
    if (rest.size() >= 2 && (rest[1] == '\\' || rest[1] == '/')) return std::nullopt;  // UNC or device
    out.drive = cwd.drive;
  } else {
    out = cwd;
  }
  if (!AppendParts(out.parts, rest)) return std::nullopt;
  if (out.ToString().size() > kMaxPathLength) return std::nullopt;
  return out;
}

std::optional<WinPath> ParseFullPath(std::string_view path) {
  if (path.size() < 3 || path[1] != ':' || (path[2] != '\\' && path[2] != '/')) return std::nullopt;
  return ResolvePath(WinPath{}, path);
}

}  // namespace w9x
