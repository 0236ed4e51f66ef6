// The C streams the programs use (fopen, fgets, fputs, fclose) and _access, on Win32 files.
// A FILE here is a TextStream with its file handle; nothing outside this unit looks into it.
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <new>

#include "text_stream.h"

namespace {

struct Stream {
  HANDLE handle;
  kit_runtime::TextStream text;
};

int ReadFile(void* file, char* out, unsigned size) {
  DWORD got = 0;
  if (!::ReadFile(static_cast<HANDLE>(file), out, size, &got, nullptr)) return -1;
  return static_cast<int>(got);
}

int WriteFile(void* file, const char* data, unsigned size) {
  DWORD written = 0;
  if (!::WriteFile(static_cast<HANDLE>(file), data, size, &written, nullptr)) return -1;
  return written == size ? 0 : -1;
}

const kit_runtime::FileAccess kWin32Files = {ReadFile, WriteFile};

Stream* StreamOf(FILE* file) { return reinterpret_cast<Stream*>(file); }

}  // namespace

extern "C" {

// Modes "r" and "w", each optionally followed by "t" (text, the default) or "b" (binary); any
// other mode is refused.
FILE* fopen(const char* path, const char* mode) {
  if (!path || !mode || (mode[0] != 'r' && mode[0] != 'w')) return nullptr;
  const bool writing = mode[0] == 'w';
  bool text = true;
  for (const char* m = mode + 1; *m; ++m) {
    if (*m != 't' && *m != 'b') return nullptr;
    text = *m == 't';
  }
  HANDLE h = CreateFileA(path, writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  Stream* stream = new (std::nothrow) Stream{h, {kWin32Files, h, text, writing}};
  if (!stream) {
    CloseHandle(h);
    return nullptr;
  }
  return reinterpret_cast<FILE*>(stream);
}

char* fgets(char* out, int size, FILE* file) { return file ? StreamOf(file)->text.Gets(out, size) : nullptr; }

int fputs(const char* text, FILE* file) { return StreamOf(file)->text.Puts(text) == 0 ? 0 : EOF; }

// Writes what is buffered and closes the file: EOF when a write or the close failed.
int fclose(FILE* file) {
  if (!file) return EOF;
  Stream* stream = StreamOf(file);
  int result = stream->text.Flush();
  if (!CloseHandle(stream->handle)) result = -1;
  delete stream;
  return result == 0 ? 0 : EOF;
}

int _access(const char* path, int mode) {
  if (!path) return -1;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if ((mode & 2) && (attributes & FILE_ATTRIBUTE_READONLY)) return -1;
  return 0;
}

}  // extern "C"
