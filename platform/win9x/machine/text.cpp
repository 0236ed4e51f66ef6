#include "machine/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace w9x::text {
namespace {

// One converter per direction and thread; iconv descriptors are not shareable between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: code page 932 is not available");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as possible; on an invalid sequence calls on_invalid(out, in) which must
  // consume input and may append output, or return false to fail the conversion.
  template <typename OnInvalid>
  bool Convert(std::string_view in, std::string& out, OnInvalid on_invalid) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[1024];
    while (!in.empty()) {
      char* src = const_cast<char*>(in.data());
      std::size_t src_left = in.size();
      char* dst = buffer;
      std::size_t dst_left = sizeof buffer;
      std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      in.remove_prefix(in.size() - src_left);
      if (r == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) continue;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (!on_invalid(out, in)) return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::size_t Find(std::string_view s, char c, std::size_t from) {
  for (std::size_t i = from; i < s.size(); i += CharLength(s, i)) {
    if (s[i] == c) return i;
  }
  return std::string_view::npos;
}

std::size_t FindLast(std::string_view s, char c) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < s.size(); i += CharLength(s, i)) {
    if (s[i] == c) found = i;
  }
  return found;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = CharLength(out, i);
    if (n == 1 && out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
    i += n;
  }
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  std::string ua = Upper(a), ub = Upper(b);
  int c = std::string_view(ua).compare(ub);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string ToUtf8(std::string_view cp932) {
  if (IsAscii(cp932)) return std::string(cp932);
  thread_local Converter converter("UTF-8", "CP932");
  std::string out;
  converter.Convert(cp932, out, [](std::string& o, std::string_view& in) {
    o += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not code page 932
    in.remove_prefix(1);
    return true;
  });
  return out;
}

std::optional<std::string> ToCp932(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local Converter converter("CP932", "UTF-8");
  std::string out;
  if (!converter.Convert(utf8, out, [](std::string&, std::string_view&) { return false; })) return std::nullopt;
  return out;
}

}  // namespace w9x::text
