// Little-endian integers in byte buffers, as SMBIOS tables and the DMI driver's replies hold them.
// Callers check the bounds; these only read and write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace w9x::le {

inline std::uint16_t Word(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

inline std::uint32_t Dword(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(Word(b, at)) | (static_cast<std::uint32_t>(Word(b, at + 2)) << 16);
}

inline std::uint64_t Qword(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint64_t>(Dword(b, at)) | (static_cast<std::uint64_t>(Dword(b, at + 4)) << 32);
}

inline void PutWord(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutDword(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  PutWord(b, at, static_cast<std::uint16_t>(v));
  PutWord(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

inline void PutQword(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  PutDword(b, at, static_cast<std::uint32_t>(v));
  PutDword(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace w9x::le
