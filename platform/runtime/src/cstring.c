/* The memory, string and number functions of the C library that the programs and the compiler use.
   Built with -fno-builtin so that the loops here are not turned back into calls of themselves. */
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

void* memcpy(void* to, const void* from, size_t n) {
  unsigned char* d = to;
  const unsigned char* s = from;
  while (n--) *d++ = *s++;
  return to;
}

void* memmove(void* to, const void* from, size_t n) {
  unsigned char* d = to;
  const unsigned char* s = from;
  if (d < s) {
    while (n--) *d++ = *s++;
  } else if (d > s) {
    d += n;
    s += n;
    while (n--) *--d = *--s;
  }
  return to;
}

void* memset(void* to, int c, size_t n) {
  unsigned char* d = to;
  while (n--) *d++ = (unsigned char)c;
  return to;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* x = a;
  const unsigned char* y = b;
  for (; n; --n, ++x, ++y)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

void* memchr(const void* s, int c, size_t n) {
  const unsigned char* p = s;
  for (; n; --n, ++p)
    if (*p == (unsigned char)c) return (void*)p;
  return NULL;
}

size_t strlen(const char* s) {
  const char* p = s;
  while (*p) ++p;
  return (size_t)(p - s);
}

char* strchr(const char* s, int c) {
  for (;; ++s) {
    if (*s == (char)c) return (char*)s;
    if (!*s) return NULL;
  }
}

int strcmp(const char* a, const char* b) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  while (*x && *x == *y) ++x, ++y;
  return *x < *y ? -1 : *x > *y;
}

int strncmp(const char* a, const char* b, size_t n) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; n; --n, ++x, ++y) {
    if (*x != *y) return *x < *y ? -1 : 1;
    if (!*x) return 0;
  }
  return 0;
}

/* Leading blanks, an optional sign, then decimal digits up to the first other character; a value
   beyond the range of int wraps around. */
int atoi(const char* s) {
  unsigned value = 0;
  int negative = 0;
  while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v') ++s;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  while (*s >= '0' && *s <= '9') value = value * 10 + (unsigned)(*s++ - '0');
  return (int)(negative ? 0 - value : value);
}
