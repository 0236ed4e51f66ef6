#include "command_line.h"

namespace kit_runtime {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* ArgumentsOf(const char* command_line) {
  static const char kEmpty[] = "";
  const char* p = command_line;
  if (!p) return kEmpty;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}

}  // namespace kit_runtime
