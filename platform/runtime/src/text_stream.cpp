#include "text_stream.h"

namespace kit_runtime {

namespace {

const int kCtrlZ = 0x1A;

}  // namespace

bool TextStream::Fill() {
  if (pos_ < end_) return true;
  if (ended_ || failed_) return false;
  const int n = access_.read(file_, buffer_, kBufferSize);
  if (n <= 0) {
    (n == 0 ? ended_ : failed_) = true;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<unsigned>(n);
  return true;
}

int TextStream::Next() { return Fill() ? static_cast<unsigned char>(buffer_[pos_++]) : -1; }

int TextStream::Peek() { return Fill() ? static_cast<unsigned char>(buffer_[pos_]) : -1; }

char* TextStream::Gets(char* out, int size) {
  if (!out || size <= 0 || writing_) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = Next();
    if (c < 0) break;
    if (text_) {
      if (c == kCtrlZ) {
        // The end marker: the rest of the file is never read.
        ended_ = true;
        pos_ = end_ = 0;
        break;
      }
      if (c == '\r' && Peek() == '\n') c = Next();
    }
    out[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 && size > 1) return nullptr;
  out[n] = '\0';
  return out;
}

int TextStream::Put(char c) {
  if (end_ == kBufferSize && Flush() != 0) return -1;
  buffer_[end_++] = c;
  return 0;
}

int TextStream::Puts(const char* text) {
  if (failed_ || !writing_ || !text) return -1;
  for (const char* p = text; *p; ++p) {
    if (text_ && *p == '\n' && Put('\r') != 0) return -1;
    if (Put(*p) != 0) return -1;
  }
  return 0;
}

int TextStream::Flush() {
  if (!writing_) return 0;
  if (end_ > 0 && !failed_ && access_.write(file_, buffer_, end_) != 0) failed_ = true;
  end_ = 0;
  return failed_ ? -1 : 0;
}

}  // namespace kit_runtime
