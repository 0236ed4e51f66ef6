// Text of the simulated Windows: code page 932 (Shift-JIS) bytes inside, UTF-8 outside.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace w9x::text {

// True for a byte that starts a double-byte character of code page 932.
constexpr bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character that starts at s[i]: 2 for a lead byte followed by a trail
// byte, otherwise 1.  A lead byte at the end of the text counts as one byte.
inline std::size_t CharLength(std::string_view s, std::size_t i) {
  return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && s[i + 1] != '\0') ? 2 : 1;
}

// Position of the first / last single-byte character c, never a trail byte; npos when absent.
std::size_t Find(std::string_view s, char c, std::size_t from = 0);
std::size_t FindLast(std::string_view s, char c);

// ASCII letters folded to upper case, double-byte characters untouched (as Windows 9x does).
std::string Upper(std::string_view s);
bool EqualNoCase(std::string_view a, std::string_view b);
// Ordering of Upper(a) against Upper(b), byte by byte: <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b);

// Conversions.  Bytes that are not valid code page 932 come out as U+FFFD; UTF-8 that has no
// code page 932 form gives nullopt.
std::string ToUtf8(std::string_view cp932);
std::optional<std::string> ToCp932(std::string_view utf8);

// True when the text is plain ASCII (both encodings agree).
bool IsAscii(std::string_view s);

}  // namespace w9x::text
