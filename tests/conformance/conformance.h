// What the conformance checks share.  The checks are written against the Win32 subset that the
// kit's programs use, and the same source is built twice: for our simulated Windows 9x (host) and
// for real Windows (win64, run under Wine set to a Windows 9x version with code page 932).
//
// Every check starts on a clean scratch folder C:\CONFORM and a missing registry key
// HKEY_CURRENT_USER\Software\KitConformance; each platform's main arranges that.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>
#include <optional>
#include <ostream>
#include <string>

namespace conformance {

// The scratch folder every check works in.
inline constexpr char kScratch[] = "C:\\CONFORM";
// The registry key every check works under (below HKEY_CURRENT_USER).
inline constexpr char kRegistryKey[] = "Software\\KitConformance";

// True when the checks run under Wine rather than on our platform.
bool OnWine();

// The Windows the run was told to expect: "win95", "win98" or "win98se".
const std::string& ExpectedWindows();

// False when a read-only file can be written all the same: Wine keeps the read-only attribute in
// the Unix write permission bits, which the Unix root user passes.  The Wine runner drops root
// when it can; where it cannot, the checks that need the attribute enforced are skipped.
bool ReadOnlyHonoured();
inline constexpr char kReadOnlyIgnored[] = "read-only files are writable here (Wine run as the Unix root user)";

// C:\CONFORM\<leaf>.
inline std::string Scratch(const std::string& leaf) { return std::string(kScratch) + "\\" + leaf; }

// Writes a file with exactly these bytes (replacing it); true on success.
inline bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

// The bytes of a file, or nullopt when it cannot be opened.
inline std::optional<std::string> ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Where Windows 9x and Windows NT answer differently, Wine may follow NT whatever version it
// reports.  EXPECT_9X(actual, win9x, nt) wants the Windows 9x answer from our platform, and
// accepts either answer under Wine (the NT one is noted in the output, so a run shows which
// differences it met).
template <typename A, typename B, typename C>
::testing::AssertionResult Win9xAnswer(const char* actual_text, const char*, const char*, const A& actual,
                                       const B& win9x, const C& nt) {
  if (actual == win9x) return ::testing::AssertionSuccess();
  if (OnWine() && actual == nt) {
    std::cout << "[ NT answer] " << actual_text << " == " << ::testing::PrintToString(actual) << " (Windows 9x: "
              << ::testing::PrintToString(win9x) << ")\n";
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << actual_text << " is " << ::testing::PrintToString(actual)
                                       << "; Windows 9x gives " << ::testing::PrintToString(win9x)
                                       << ", Windows NT " << ::testing::PrintToString(nt);
}

}  // namespace conformance

#define EXPECT_9X(actual, win9x, nt) EXPECT_PRED_FORMAT3(::conformance::Win9xAnswer, actual, win9x, nt)
