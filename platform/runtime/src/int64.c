/* 64-bit division and remainder for the 32-bit programs, which the compiler calls for the
   operators / and % on 64-bit integers.  Written here so that they are compiled for the same
   processor as the programs. */
#include <stdint.h>

/* n / d, with n % d in *rem; a division by zero faults as the processor's own division does. */
uint64_t __udivmoddi4(uint64_t n, uint64_t d, uint64_t* rem) {
  uint64_t q = 0, r = 0;
  int i;
  if (d == 0) {
    volatile uint32_t zero = 0;
    q = (uint32_t)n / zero;
  } else if ((n >> 32) == 0 && (d >> 32) == 0) {
    q = (uint32_t)n / (uint32_t)d;
    r = (uint32_t)n % (uint32_t)d;
  } else {
    /* One quotient bit per step, from the top; r < d holds before each step, so a remainder
       that overflows on the shift is certainly larger than d. */
    for (i = 63; i >= 0; --i) {
      int carry = (int)(r >> 63);
      r = (r << 1) | ((n >> i) & 1);
      if (carry || r >= d) {
        r -= d;
        q |= (uint64_t)1 << i;
      }
    }
  }
  if (rem) *rem = r;
  return q;
}

uint64_t __udivdi3(uint64_t n, uint64_t d) { return __udivmoddi4(n, d, 0); }

uint64_t __umoddi3(uint64_t n, uint64_t d) {
  uint64_t r;
  __udivmoddi4(n, d, &r);
  return r;
}

static uint64_t Magnitude(int64_t v) { return v < 0 ? 0 - (uint64_t)v : (uint64_t)v; }

/* Truncating division: the quotient is negative when the signs differ; the remainder has the
   sign of the dividend. */
int64_t __divdi3(int64_t n, int64_t d) {
  uint64_t q = __udivmoddi4(Magnitude(n), Magnitude(d), 0);
  return (n < 0) != (d < 0) ? (int64_t)(0 - q) : (int64_t)q;
}

int64_t __moddi3(int64_t n, int64_t d) {
  uint64_t r;
  __udivmoddi4(Magnitude(n), Magnitude(d), &r);
  return n < 0 ? (int64_t)(0 - r) : (int64_t)r;
}
