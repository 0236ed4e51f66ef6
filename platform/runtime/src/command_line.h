// The part of the process's command line that WinMain receives.
#pragma once

namespace kit_runtime {

// The text after the program name and the blanks (spaces and tabs) that follow it.  A program
// name that starts with a double quote runs to the next double quote (or the end); otherwise it
// runs to the first space or tab.  Bytes above 0x7F are characters of the name, so a
// double-byte path needs no special case: neither byte of a double-byte character is ever a
// blank or a double quote.
const char* ArgumentsOf(const char* command_line);

}  // namespace kit_runtime
