// String functions of the ANSI code page (932): case folding touches ASCII letters only and never
// a byte of a double-byte character.
#include <cstring>

#include "kernel32/api_support.h"

using namespace w9x;

namespace {

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

int CompareBytes(std::string_view a, std::string_view b, bool ignore_case) {
  if (ignore_case) return text::CompareNoCase(a, b);
  return Sign(a.compare(b));
}

int CompareNullable(LPCSTR a, LPCSTR b, bool ignore_case) {
  if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
  return CompareBytes(a, b, ignore_case);
}

}  // namespace

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return CompareNullable(a, b, true); }
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return CompareNullable(a, b, false); }
int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcpy(dst, src);
}

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (!dst || !src || max <= 0) return dst;
  int i = 0;
  for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcat(dst, src);
}

BOOL WINAPI IsDBCSLeadByte(BYTE c) { return text::IsLeadByte(c) ? TRUE : FALSE; }

int WINAPI CompareStringA(LCID, DWORD flags, LPCSTR s1, int n1, LPCSTR s2, int n2) {
  if (!s1 || !s2 || n1 < -1 || n2 < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string_view a(s1, n1 < 0 ? std::strlen(s1) : static_cast<std::size_t>(n1));
  std::string_view b(s2, n2 < 0 ? std::strlen(s2) : static_cast<std::size_t>(n2));
  return CompareBytes(a, b, (flags & NORM_IGNORECASE) != 0) + 2;
}
