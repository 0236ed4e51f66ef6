// Private profile (INI) files.  Each file is parsed once and reused until it changes; writes
// replace the file atomically.
#include <cerrno>
#include <cstring>
#include <vector>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

struct ProfileFile {
  WinPath path;
  std::optional<fs::path> host;  // where the file is or would be created
};

// A bare file name ("system.ini") is looked for in the Windows folder, as Windows does.
std::optional<WinPath> PathOf(LPCSTR name) {
  if (!name || !*name) return std::nullopt;
  std::string_view n = name;
  std::optional<WinPath> path;
  if (text::Find(n, '\\') == std::string_view::npos && text::Find(n, '/') == std::string_view::npos &&
      text::Find(n, ':') == std::string_view::npos)
    path = CurrentMachine().WindowsDir().Child(n);
  else
    path = ResolvePath(CurrentProcess().CurrentDir(), n);
  if (!path || path->IsRoot()) return std::nullopt;
  return path;
}

std::optional<ProfileFile> Locate(LPCSTR name) {
  auto path = PathOf(name);
  if (!path) return std::nullopt;
  return ProfileFile{*path, CurrentMachine().Files().Place(*path)};
}

const IniFile* Load(LPCSTR name) {
  // Reading needs an existing file: one lookup gives its host path and the stat that tells
  // whether the parsed copy is still current.
  auto path = PathOf(name);
  if (!path) return nullptr;
  struct stat st {};
  auto host = CurrentMachine().Files().Find(*path, &st);
  if (!host) return nullptr;
  return CurrentMachine().Profiles().Load(*host, st);
}

std::string TrimTrailingBlanks(const char* s) {
  std::string v = s ? s : "";
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
  return v;
}

// Applies `edit` to the file (an empty one when missing) and writes it when `edit` says it
// changed something.  A read-only file is refused, as Windows refuses it, and stays as it is.
template <typename Edit>
BOOL Modify(const char* call, LPCSTR name, Edit edit) {
  auto file = Locate(name);
  if (auto error = api::InjectedFault(call)) {
    if (file) api::WriteFailed(file->path.ToString(), *error);
    SetLastError(*error);
    return FALSE;
  }
  if (!file || !file->host) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  switch (CurrentMachine().Profiles().Modify(*file->host, edit)) {
    case ProfileStore::Change::kNone:
    case ProfileStore::Change::kWritten:
      return TRUE;
    case ProfileStore::Change::kCreated:
      CurrentMachine().Files().Added(file->host->parent_path(), file->host->filename().native());
      return TRUE;
    case ProfileStore::Change::kDenied:
      break;
    case ProfileStore::Change::kFailed: {
      const DWORD error = api::ErrorFromErrno(errno);
      api::WriteFailed(file->path.ToString(), error);
      SetLastError(error);
      return FALSE;
    }
  }
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// Hands out a list already joined the way CopyProfileList joins its items: a final NUL closes
// it; when it does not fit, as many bytes as fit in size - 2 and two NULs, and the count is
// size - 2.
DWORD CopyListing(std::string_view listing, char* buffer, DWORD size) {
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  if (listing.size() < size) {
    std::memcpy(buffer, listing.data(), listing.size());
    buffer[listing.size()] = '\0';
    if (listing.empty()) buffer[1] = '\0';
    return static_cast<DWORD>(listing.size());
  }
  const DWORD limit = size - 2;
  std::memcpy(buffer, listing.data(), limit);
  buffer[limit] = buffer[limit + 1] = '\0';
  return limit;
}

std::string ProfilePathForJournal(LPCSTR name) {
  auto file = Locate(name);
  return file ? text::ToUtf8(file->path.ToString()) : text::ToUtf8(name ? name : "");
}

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer, DWORD size,
                                      LPCSTR file) {
  if (!buffer || size == 0) return 0;
  const IniFile* ini = Load(file);
  if (!section) return CopyProfileList(ini ? ini->SectionNames() : std::vector<std::string>{}, buffer, size);
  if (!key) {
    auto keys = ini ? ini->KeyNames(section) : std::nullopt;
    return CopyProfileList(keys.value_or(std::vector<std::string>{}), buffer, size);
  }
  std::optional<std::string> value = ini ? ini->Get(section, key) : std::nullopt;
  return CopyProfileString(value ? *value : TrimTrailingBlanks(fallback), buffer, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
  const IniFile* ini = Load(file);
  auto value = ini && section && key ? ini->Get(section, key) : std::nullopt;
  if (!value || value->empty()) return static_cast<UINT>(fallback);
  // Decimal digits after an optional sign, up to the first other character, as atoi reads them.
  const char* p = value->c_str();
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  std::uint32_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) n = n * 10 + static_cast<std::uint32_t>(*p - '0');
  return negative ? 0u - n : n;
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
  if (!buffer || size == 0) return 0;
  // The lines joined, each followed by its NUL.  Since NULs separate them, a line is handed out
  // up to its first NUL byte, and a line that leaves nothing is left out: it would end the list.
  std::string listing;
  if (const IniFile* ini = section ? Load(file) : nullptr) {
    ini->VisitSectionLines(section, [&](std::string_view line) {
      line = line.substr(0, line.find('\0'));
      if (line.empty()) return;
      listing.append(line);
      listing.push_back('\0');
    });
  }
  return CopyListing(listing, buffer, size);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
  BOOL ok = FALSE;
  if (!section) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    ok = Modify("WritePrivateProfileStringA", file, [&](IniFile& ini) {
      if (!key) return ini.DeleteSection(section);
      if (!value) return ini.DeleteKey(section, key);
      ini.Set(section, key, value);
      return true;
    });
  }
  api::Record("WritePrivateProfileStringA", {{"file", ProfilePathForJournal(file)}, {"section", api::Utf8(section)},
                                             {"key", api::Utf8(key)}, {"value", api::Utf8(value)}, {"result", ok != FALSE}});
  return ok;
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR section, LPCSTR lines_arg, LPCSTR file) {
  std::vector<std::string> lines;
  for (const char* p = lines_arg; p && *p; p += std::strlen(p) + 1) lines.emplace_back(p);
  BOOL ok = FALSE;
  if (!section) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else {
    ok = Modify("WritePrivateProfileSectionA", file, [&](IniFile& ini) {
      if (!lines_arg) return ini.DeleteSection(section);
      ini.ReplaceSection(section, lines);
      return true;
    });
  }
  nlohmann::ordered_json journal_lines = nlohmann::ordered_json::array();
  for (auto& l : lines) journal_lines.push_back(text::ToUtf8(l));
  api::Record("WritePrivateProfileSectionA", {{"file", ProfilePathForJournal(file)}, {"section", api::Utf8(section)},
                                              {"lines", journal_lines}, {"result", ok != FALSE}});
  return ok;
}
