// dmidecode, an independent SMBIOS decoder, as an oracle for tests of SMBIOS readers.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace w9x::smbios::testing {

// The tool: W9X_DMIDECODE when set (and a file), otherwise looked up in PATH and in the
// administrators' folders, often missing from a user's PATH.
std::optional<std::filesystem::path> FindDmidecode();

// The lines `dmidecode --from-dump DUMP -s system-product-name` prints, one per System Information
// structure; nullopt when the tool does not run or fails.
std::optional<std::vector<std::string>> DmidecodeProductNames(const std::filesystem::path& tool,
                                                              const std::filesystem::path& dump);

// dmidecode's placeholders for a structure that names no product, as "".
std::string WithoutPlaceholder(const std::string& shown);

}  // namespace w9x::smbios::testing
