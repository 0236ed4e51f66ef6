#include "machine/fault_plan.h"

#include "machine/machine_config.h"

namespace w9x {
namespace {

// Windows error codes of the usual failures.
constexpr std::uint32_t kFileNotFound = 2, kAccessDenied = 5, kNotEnoughMemory = 8, kReadFault = 30,
                        kDiskFull = 112, kCantRead = 1012, kCantWrite = 1013;

}  // namespace

void FaultPlan::Fail(std::string call, unsigned nth, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  rules_.push_back(FaultSpec{std::move(call), nth, error});
}

std::optional<std::uint32_t> FaultPlan::Next(std::string_view call) {
  std::lock_guard lock(mutex_);
  if (rules_.empty()) return std::nullopt;
  auto it = counts_.find(call);
  if (it == counts_.end()) it = counts_.emplace(std::string(call), 0).first;
  const unsigned n = ++it->second;
  for (const FaultSpec& rule : rules_)
    if (rule.call == call && (rule.nth == 0 || rule.nth == n)) return rule.error;
  return std::nullopt;
}

unsigned FaultPlan::Count(std::string_view call) const {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(call);
  return it == counts_.end() ? 0 : it->second;
}

const std::map<std::string, std::uint32_t, std::less<>>& FaultPlan::Calls() {
  static const std::map<std::string, std::uint32_t, std::less<>> calls = {
      // files
      {"CreateFileA", kAccessDenied},
      {"ReadFile", kReadFault},
      {"WriteFile", kDiskFull},
      {"CopyFileA", kAccessDenied},
      {"DeleteFileA", kAccessDenied},
      {"MoveFileA", kAccessDenied},
      {"CreateDirectoryA", kAccessDenied},
      {"SetFileAttributesA", kAccessDenied},
      {"GetTempFileNameA", kAccessDenied},
      {"fopen", kAccessDenied},
      // profiles
      {"WritePrivateProfileStringA", kAccessDenied},
      {"WritePrivateProfileSectionA", kAccessDenied},
      // registry
      {"RegOpenKeyA", kFileNotFound},
      {"RegOpenKeyExA", kFileNotFound},
      {"RegCreateKeyA", kCantWrite},
      {"RegSetValueExA", kCantWrite},
      {"RegDeleteKeyA", kCantWrite},
      {"RegDeleteValueA", kCantWrite},
      {"RegQueryValueExA", kCantRead},
      {"RegEnumKeyExA", kCantRead},
      // memory
      {"GlobalAlloc", kNotEnoughMemory},
      {"GlobalReAlloc", kNotEnoughMemory},
      // processes and threads
      {"WinExec", kFileNotFound},
      {"CreateThread", kNotEnoughMemory},
  };
  return calls;
}

std::optional<std::uint32_t> FaultPlan::UsualError(std::string_view call) {
  auto it = Calls().find(call);
  if (it == Calls().end()) return std::nullopt;
  return it->second;
}

std::optional<FaultSpec> ParseFaultSpec(std::string_view text, std::string& problem) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    std::size_t colon = text.find(':', start);
    parts.emplace_back(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (parts.size() > 3) {
    problem = "--fail takes CALL[:N[:ERROR]], got '" + std::string(text) + "'";
    return std::nullopt;
  }
  FaultSpec spec;
  spec.call = parts[0];
  auto usual = FaultPlan::UsualError(spec.call);
  if (!usual) {
    std::string known;
    for (const auto& [name, error] : FaultPlan::Calls()) known += (known.empty() ? "" : " ") + name;
    problem = "--fail: '" + spec.call + "' is not a call that can be made to fail (" + known + ")";
    return std::nullopt;
  }
  spec.error = *usual;
  if (parts.size() > 1) {
    std::uint32_t nth = 0;
    const bool decimal = !parts[1].empty() && parts[1].find_first_not_of("0123456789") == std::string::npos;
    if (!decimal || !ParseNumber(parts[1], nth)) {
      problem = "--fail " + std::string(text) + ": N must be a decimal count (0: every call), got '" + parts[1] + "'";
      return std::nullopt;
    }
    spec.nth = nth;
  }
  if (parts.size() > 2 && (parts[2].empty() || !ParseNumber(parts[2], spec.error))) {
    problem = "--fail " + std::string(text) + ": ERROR must be a Windows error number, got '" + parts[2] + "'";
    return std::nullopt;
  }
  return spec;
}

}  // namespace w9x
