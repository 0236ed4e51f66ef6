// An object of another source file, and one asked to be made before all the others.
#include <windows.h>

#include "order.h"

namespace {

bool Equal(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

// Made first, so it goes last: it sees every other destructor's record and ends the process
// with WinMain's result when the destructors ran in the reverse order of the constructors.
struct First : Recorded {
  First() : Recorded('P') {}
  ~First() {
    char reverse[8] = {};
    for (int i = lstrlenA(g_constructed) - 1, j = 0; i >= 1; --i) reverse[j++] = g_constructed[i];
    ExitProcess(Equal(g_destroyed, reverse) ? static_cast<UINT>(g_result) : 40);
  }
};

}  // namespace

First first __attribute__((init_priority(101)));
Recorded b('B');
