// A buffered file stream with the text mode of the C runtime, over a file reached through two
// functions (so the same code serves Win32 files and the tests' byte arrays).
//
// Text mode: reading turns CR LF into LF, keeps a CR that no LF follows, and ends the stream
// at the first Ctrl-Z (nothing after it is ever read); writing turns each LF into CR LF.
// Binary mode passes the bytes through.  A stream reads or writes, never both.
#pragma once

namespace kit_runtime {

struct FileAccess {
  // Up to `size` bytes into `out`: the count read, 0 at the end of the file, -1 on an error.
  int (*read)(void* file, char* out, unsigned size);
  // All `size` bytes: 0 when they were written, -1 otherwise.
  int (*write)(void* file, const char* data, unsigned size);
};

class TextStream {
 public:
  TextStream(const FileAccess& access, void* file, bool text, bool writing)
      : access_(access), file_(file), text_(text), writing_(writing) {}
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  // fgets: up to size - 1 characters, up to and including a line feed, then a NUL.  Null (and
  // `out` untouched) when nothing could be read: the end of the stream, or a read error.
  char* Gets(char* out, int size);
  // fputs: 0 when the text went into the stream, -1 when an earlier or this write failed.
  int Puts(const char* text);
  // Writes what the buffer holds: 0, or -1 when any write of the stream failed (always 0 for a
  // stream that reads).
  int Flush();

  bool Failed() const { return failed_; }

 private:
  bool Fill();
  int Next();
  int Peek();
  int Put(char c);

  static const unsigned kBufferSize = 512;

  FileAccess access_;
  void* file_;
  bool text_;
  bool writing_;
  bool ended_ = false;
  bool failed_ = false;
  unsigned pos_ = 0;
  unsigned end_ = 0;
  char buffer_[kBufferSize];
};

}  // namespace kit_runtime
