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
#include "machine/context.h"
#include "machine/presets.h"

namespace {

namespace fs = std::filesystem;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "configsys_rewrite_fuzz: %s\n", what);
    std::abort();
  }
}

// One machine for the whole run, installed as the current one.
struct FuzzMachine {
  FuzzMachine() {
    // Every input truncates two files: a memory-backed folder keeps that cheap.
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    root = base / ("configsys-fuzz-" + std::to_string(getpid()));
    fs::remove_all(root);
    w9x::CreateMachineImage(root, "win98se");
    machine = std::make_unique<w9x::Machine>(root);
    process = std::make_unique<w9x::Process>("C:\\CFGSYSFIX.EXE", "C:\\CFGSYSFIX.EXE", *w9x::ParseFullPath("C:\\"));
    context = std::make_unique<w9x::ScopedContext>(*machine, *process);
  }
  ~FuzzMachine() {
    context.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  std::unique_ptr<w9x::Machine> machine;
  std::unique_ptr<w9x::Process> process;
  std::unique_ptr<w9x::ScopedContext> context;
};

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
  static FuzzMachine m;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  std::ofstream(m.root / "C" / "CONFIG.SYS", std::ios::binary | std::ios::trunc).write(file.data(), file.size());
  Check(Rewrite("C:\\CONFIG.SYS", "C:\\OUT.TMP") == REWRITE_DONE, "the rewrite failed");
  Check(ReadHost(m.root / "C" / "OUT.TMP") == Expected(file), "the rewritten bytes differ from the expected ones");
  return 0;
}
