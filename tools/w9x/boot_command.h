// `w9x boot`: the start-up step that runs before Windows itself, applying the file operations
// queued in WININIT.INI's [rename] section.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace w9x {
class Machine;
class Journal;
}  // namespace w9x

namespace w9x::tool {

// One line of [rename] and what became of it.
struct WininitStep {
  std::string line;     // as written (UTF-8)
  bool applied = false;
  std::string outcome;  // "deleted C:\X", "moved ...", or the reason it was skipped
};

// Applies the [rename] section of WININIT.INI in the Windows folder of the machine, in order:
// "NUL=PATH" deletes PATH; "DEST=SRC" moves SRC to DEST, replacing DEST.  Only full paths of
// short 8.3 names are understood; a line that cannot be applied is skipped.  A line repeated
// (same text, ignoring case) is applied once.  WININIT.INI then becomes WININIT.BAK, replacing
// an older one.  Each step is recorded in `journal`.  Without WININIT.INI nothing happens and
// the result is empty.
std::vector<WininitStep> ProcessWininit(Machine& machine, Journal& journal);

// True for a full path ("C:\DIR\FILE.EXT") whose every name is a short 8.3 name (code page 932).
bool IsShortPath(const std::string& cp932_path);

// The steps as lines for the user.
void PrintSteps(const std::vector<WininitStep>& steps, std::ostream& out);

// `boot MACHINE [--journal FILE]`: 0, or 125 after one line for a runner error.
int Boot(const std::vector<std::string>& args, std::ostream& out);

}  // namespace w9x::tool
