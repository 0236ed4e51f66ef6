#include "kernel32/api_support.h"

using namespace w9x;

int WINAPI GetKeyboardType(int what) {
  const MachineConfig& c = CurrentMachine().Config();
  switch (what) {
    case 0: return static_cast<int>(c.keyboard_type);
    case 1: return static_cast<int>(c.keyboard_subtype);
    case 2: return c.keyboard_type == 7 || c.keyboard_type == 4 ? 12 : 10;  // function keys
    default: return 0;
  }
}
