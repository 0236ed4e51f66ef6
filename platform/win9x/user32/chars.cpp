// Character stepping over code page 932 text.
#include "kernel32/api_support.h"

using namespace w9x;

LPSTR WINAPI CharNextA(LPCSTR s) {
  if (!s || !*s) return const_cast<LPSTR>(s);
  if (text::IsLeadByte(static_cast<unsigned char>(s[0])) && s[1]) return const_cast<LPSTR>(s + 2);
  return const_cast<LPSTR>(s + 1);
}

LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
  if (!start || !current || current <= start) return const_cast<LPSTR>(start);
  // Walk from the start: only a forward walk knows which bytes are trail bytes.
  LPCSTR p = start;
  for (;;) {
    LPCSTR next = CharNextA(p);
    if (next >= current || next == p) return const_cast<LPSTR>(p);
    p = next;
  }
}
