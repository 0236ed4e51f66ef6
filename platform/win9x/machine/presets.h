// Fresh machine images of the usual Windows kinds, as `w9x new` and the tests make them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace w9x {

struct PresetOptions {
  std::uint32_t keyboard_type = 7;
  std::uint32_t keyboard_subtype = 0;
};

// win95, win95osr2, win98, win98se, winme, nt4.
std::vector<std::string> PresetNames();

// Creates the image in `dir`, which must not exist or be empty.  Throws MachineError for an
// unknown preset or an unusable folder.
void CreateMachineImage(const std::filesystem::path& dir, const std::string& preset,
                        const PresetOptions& options = {});

}  // namespace w9x
