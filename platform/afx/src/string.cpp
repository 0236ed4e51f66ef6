#include "afx/string.h"

#include <algorithm>
#include <cstring>

namespace {

std::size_t Clamp(int v, std::size_t max) { return v < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(v), max); }

}  // namespace

CString CString::Left(int count) const { return CString(s_.substr(0, Clamp(count, s_.size())).c_str()); }

CString CString::Right(int count) const {
  std::size_t n = Clamp(count, s_.size());
  CString r;
  r.s_ = s_.substr(s_.size() - n);
  return r;
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  std::size_t start = Clamp(first, s_.size());
  CString r;
  r.s_ = s_.substr(start, Clamp(count, s_.size() - start));
  return r;
}

int CString::Find(char c, int start) const {
  // Walk character by character from the start: only a forward walk knows the trail bytes.
  for (LPCSTR p = s_.c_str(); *p; p = CharNextA(p)) {
    int i = static_cast<int>(p - s_.c_str());
    if (i >= start && *p == c) return i;
  }
  return -1;
}

int CString::Find(LPCSTR sub, int start) const {
  if (!sub) return -1;
  std::size_t n = std::strlen(sub);
  for (LPCSTR p = s_.c_str();; p = CharNextA(p)) {
    int i = static_cast<int>(p - s_.c_str());
    if (i >= start && s_.compare(static_cast<std::size_t>(i), n, sub) == 0 && static_cast<std::size_t>(i) + n <= s_.size())
      return i;
    if (!*p) return -1;
  }
}

int CString::ReverseFind(char c) const {
  int found = -1;
  for (LPCSTR p = s_.c_str(); *p; p = CharNextA(p))
    if (*p == c) found = static_cast<int>(p - s_.c_str());
  return found;
}

LPSTR CString::GetBuffer(int min_length) {
  std::size_t keep = s_.size();
  s_.resize(std::max<std::size_t>(keep, Clamp(min_length, 0x7FFFFFFF)));
  s_.reserve(s_.size() + 1);
  return s_.data();
}

void CString::ReleaseBuffer(int new_length) {
  if (new_length < 0) s_.resize(std::strlen(s_.c_str()));
  else s_.resize(std::min<std::size_t>(static_cast<std::size_t>(new_length), s_.size()));
}

LPSTR CString::GetBufferSetLength(int length) {
  s_.resize(Clamp(length, 0x7FFFFFFF));
  return s_.data();
}
