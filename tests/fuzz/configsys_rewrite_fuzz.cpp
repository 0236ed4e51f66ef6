// Any bytes as CONFIG.SYS: cfgsysfix's rewrite succeeds and writes exactly what a text-mode
// reading, cut into pieces of at most 255 characters, gives with "REM " before the chosen pieces
// and every LF written as CR LF.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include <unistd.h>

#include "config_sys.h"
#include "fuzz_machine.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kTarget = "configsys_rewrite_fuzz";

// The line choice, restated over std::string: ASCII letters compared in upper case, blanks and
// tabs skipped, no choice for an empty line or a comment.
bool Chosen(const std::string& piece) {
  std::string upper = piece;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  std::size_t start = upper.find_first_not_of(" \t");
  if (start == std::string::npos || upper[start] == '\n' || upper.compare(start, 3, "REM") == 0) return false;
  return upper.find("DOS=HIGH,UMB", start) != std::string::npos;
}

std::string Expected(std::string_view file) {
  // Text-mode reading: CR LF is LF, the first Ctrl-Z ends the file.
  std::string text;
  for (std::size_t i = 0; i < file.size() && file[i] != '\x1A'; ++i)
    if (!(file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')) text += file[i];
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t length = 0;
    while (length < 255 && pos + length < text.size() && text[pos + length++] != '\n') {
    }
    // A piece is a C string: a zero byte ends what is tested and written of it.
    std::string piece = text.substr(pos, length);
    piece.resize(std::min(piece.size(), piece.find('\0')));
    pos += length;
    if (Chosen(piece)) piece = "REM " + piece;
    for (char c : piece) {
      if (c == '\n') out += '\r';
      out += c;
    }
  }
  return out;
}

std::string ReadHost(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::FuzzMachine m("configsys-fuzz", "C:\\CFGSYSFIX.EXE");
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  std::ofstream(m.Root() / "C" / "CONFIG.SYS", std::ios::binary | std::ios::trunc).write(file.data(), file.size());
  fuzzing::Check(Rewrite("C:\\CONFIG.SYS", "C:\\OUT.TMP") == REWRITE_DONE, kTarget, "the rewrite failed");
  fuzzing::Check(ReadHost(m.Root() / "C" / "OUT.TMP") == Expected(file), kTarget, "the rewritten bytes differ from the expected ones");
  return 0;
}
