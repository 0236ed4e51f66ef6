// `w9x try`: runs a kit's update program on a fresh machine image of each combination of Windows
// kind and keyboard, and shows in one matrix which effect happens on which combination.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace w9x::tool {

struct TryOptions {
  std::filesystem::path kit;
  std::vector<std::string> presets;    // empty: every preset
  std::vector<std::string> keyboards;  // "TYPE,SUBTYPE"; empty: "7,0" and "7,0x0D00"
  std::vector<std::string> models;     // machine model names (SMBIOS product); empty: no DMI driver
  std::vector<std::string> answers;    // for the runs' message boxes
  unsigned jobs = 0;                   // runs at once; 0: as many as the machine has cores
  bool boot = false;                   // show the images after the restart processing
  std::filesystem::path markdown;      // also write the matrix here as a Markdown table
  std::filesystem::path bin_dir;       // where w9x and the host builds are
};

// 0, or 125 after one line for a runner error (no kit, a run that could not be made).
int Try(const TryOptions& options, std::ostream& out);

}  // namespace w9x::tool
