// CString: the framework's byte string of the ANSI code page (932).  Searches for a character
// are double-byte aware: a trail byte is never taken for the character searched.
#pragma once

#include <windows.h>

#include <string>

class CString {
 public:
  CString() = default;
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString(LPCSTR s) : s_(s ? s : "") {}  // NOLINT: converts like the framework's string
  CString(LPCSTR s, int length) : s_(s ? std::string(s, static_cast<std::size_t>(length < 0 ? 0 : length)) : "") {}
  CString(char c, int repeat = 1) : s_(static_cast<std::size_t>(repeat < 0 ? 0 : repeat), c) {}

  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(LPCSTR s) { s_ = s ? s : ""; return *this; }
  CString& operator=(char c) { s_.assign(1, c); return *this; }

  CString& operator+=(const CString& s) { s_ += s.s_; return *this; }
  CString& operator+=(LPCSTR s) { if (s) s_ += s; return *this; }
  CString& operator+=(char c) { s_ += c; return *this; }
  friend CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, LPCSTR b) { CString r(a); r += b; return r; }
  friend CString operator+(LPCSTR a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, char b) { CString r(a); r += b; return r; }

  operator LPCSTR() const { return s_.c_str(); }  // NOLINT: the framework's implicit conversion
  int GetLength() const { return static_cast<int>(s_.size()); }
  BOOL IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  char GetAt(int i) const { return s_.at(static_cast<std::size_t>(i)); }
  char operator[](int i) const { return GetAt(i); }
  void SetAt(int i, char c) { s_.at(static_cast<std::size_t>(i)) = c; }

  CString Left(int count) const;
  CString Right(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;

  // Position of the first / last character c (never a trail byte), or -1.
  int Find(char c) const { return Find(c, 0); }
  int Find(char c, int start) const;
  int Find(LPCSTR sub) const { return Find(sub, 0); }
  int Find(LPCSTR sub, int start) const;
  int ReverseFind(char c) const;

  int Compare(LPCSTR s) const { return lstrcmpA(s_.c_str(), s); }
  int CompareNoCase(LPCSTR s) const { return lstrcmpiA(s_.c_str(), s); }
  friend bool operator==(const CString& a, LPCSTR b) { return a.Compare(b) == 0; }
  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator!=(const CString& a, LPCSTR b) { return !(a == b); }

  // Room for at least min_length characters and a NUL, to be filled in place; ReleaseBuffer
  // then takes the length (up to the first NUL when -1).
  LPSTR GetBuffer(int min_length);
  void ReleaseBuffer(int new_length = -1);
  LPSTR GetBufferSetLength(int length);

 private:
  std::string s_;
};
