// Adding one line at the end of a section of an INI file, as a pending deletion is added to
// WININIT.INI's "rename" section.
#include <cstdint>
#include <cstring>
#include <limits>

#include "update_command.h"

namespace {

// The buffer starts at this size and grows by it until the whole section fits.
constexpr DWORD kBufferStep = 260;
constexpr DWORD kLargestBuffer = std::numeric_limits<DWORD>::max();

// The working buffer: the whole section in the profile functions' form (each line ends with a
// NUL, one more NUL follows the last).  It exists only while AppendSectionLine runs.
HGLOBAL SectionBuffer = nullptr;

// Releases the working buffer on every way out of AppendSectionLine.
class SectionBufferScope {
 public:
  SectionBufferScope() = default;
  ~SectionBufferScope() {
    if (SectionBuffer) GlobalFree(SectionBuffer);
    SectionBuffer = nullptr;
  }
  SectionBufferScope(const SectionBufferScope&) = delete;
  SectionBufferScope& operator=(const SectionBufferScope&) = delete;
};

bool GrowBuffer(DWORD size) {
  HGLOBAL grown = GlobalReAlloc(SectionBuffer, size, GMEM_MOVEABLE | GMEM_ZEROINIT);
  if (!grown) return false;
  SectionBuffer = grown;
  return true;
}

// Reads the section into the buffer; false when the buffer cannot be reached.
bool ReadSection(const char* section, DWORD size, const char* ini_path, DWORD& count) {
  char* buffer = static_cast<char*>(GlobalLock(SectionBuffer));
  if (!buffer) return false;
  count = GetPrivateProfileSectionA(section, buffer, size, ini_path);
  GlobalUnlock(SectionBuffer);
  return true;
}

}  // namespace

int AppendSectionLine(const char* section, const char* line, const char* ini_path) {
  SectionBufferScope scope;
  SectionBuffer = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kBufferStep);
  if (!SectionBuffer) return 0;
  DWORD size = kBufferStep;

  // A count of exactly size - 2 means the section was cut: read it again with more room.
  DWORD count = 0;
  for (;;) {
    if (!ReadSection(section, size, ini_path, count) || count >= size) return 0;
    if (count == 0 || count != size - 2) break;
    if (size > kLargestBuffer - kBufferStep || !GrowBuffer(size + kBufferStep)) return 0;
    size += kBufferStep;
  }

  // count is the offset of the section's closing NUL: the new line goes there, and the section
  // is closed again after the line's own NUL.
  const std::size_t length = std::strlen(line);
  const std::uint64_t needed = std::uint64_t{count} + length + 2;  // no wrap on 32-bit Windows
  if (needed > kLargestBuffer) return 0;
  if (size < needed) {
    if (!GrowBuffer(static_cast<DWORD>(needed))) return 0;
    size = static_cast<DWORD>(needed);
  }
  char* buffer = static_cast<char*>(GlobalLock(SectionBuffer));
  if (!buffer) return 0;
  std::memcpy(buffer + count, line, length + 1);
  buffer[count + length + 1] = '\0';
  const BOOL written = WritePrivateProfileSectionA(section, buffer, ini_path);
  GlobalUnlock(SectionBuffer);
  return written ? 1 : 0;
}
