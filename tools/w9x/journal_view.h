// `w9x journal FILE`: the journal of a run in a short human-readable form.
#pragma once

#include <iosfwd>
#include <string>

namespace w9x::tool {

// One or more lines of text for one journal line (UTF-8 JSON); empty for events too small to
// be worth showing.
std::string DescribeEvent(const std::string& json_line);

// Prints the whole journal; false when the file cannot be read.
bool PrintJournal(const std::string& file, std::ostream& out);

}  // namespace w9x::tool
