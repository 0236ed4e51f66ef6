// The model of one profile (.INI) file: parse any bytes, answer lookups the way the Windows 9x
// profile functions do, edit, and write back changing only the lines that were edited.
//
// Text is code page 932 bytes.  Section and key names are compared ignoring ASCII case; double-byte
// characters are compared as they are.  "Blanks" are spaces and tabs.
//
// Lines end at CR LF, LF or a lone CR; the exact bytes of every line and of its ending are kept, so
// Parse(b).Serialize() == b for any b.  An edit rewrites only the lines it touches; lines it adds
// end with the file's line ending (that of its first line break; CR LF for a file without one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace w9x {

class IniFile {
 public:
  IniFile();

  // Never fails: any bytes are a profile file (NUL bytes are ordinary characters).
  static IniFile Parse(std::string_view bytes);
  std::string Serialize() const;

  // The names given to lookups and edits are trimmed of blanks first, as names in the file are.
  // With several sections of one name only the first is read; with several keys of one name in it,
  // the first wins.

  // The value of the key, trimmed, without one enclosing pair of matching quotes (" or ').
  // A line without "=" is a key whose value is empty.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Section names in file order, each name once in its first spelling.  Empty names ("[]") are
  // left out: they cannot be handed out in a NUL-separated list.
  std::vector<std::string> SectionNames() const;
  // Key names of the section in file order, each once in its first spelling, empty names left out;
  // nullopt when there is no such section.
  std::optional<std::vector<std::string>> KeyNames(std::string_view section) const;
  // Every non-blank line of the section, trimmed of blanks at both ends, otherwise as written.
  std::optional<std::vector<std::string>> SectionLines(std::string_view section) const;
  // The same lines handed to `visit` one by one without copying them (valid during the call);
  // false when there is no such section.
  bool VisitSectionLines(std::string_view section, const std::function<void(std::string_view)>& visit) const;

  // Replaces the first line of the key with key=value (the file's spelling of the key); a new key
  // goes after the last non-blank line of its section; a new section is appended at the end.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every line of the key in the section (so that a later read does not find a duplicate).
  // False, and nothing changed, when the section or the key is absent.
  bool DeleteKey(std::string_view section, std::string_view key);
  // Removes every section of that name, header and body.  False when there is none.
  bool DeleteSection(std::string_view section);
  // Replaces the non-blank body of the (first) section with the lines given; blank lines after it
  // stay.  A missing section is appended at the end.
  void ReplaceSection(std::string_view section, const std::vector<std::string>& lines);

 private:
  enum class Eol : std::uint8_t { kNone, kLf, kCrLf, kCr };
  struct Line {
    std::string text;  // without its line ending
    Eol eol = Eol::kNone;
  };
  struct Section {
    std::vector<Line> lines;  // lines[0] is the header, except in the lines before the first section
    std::string name;         // as the header spells it, trimmed
    // Upper-cased key name -> index in `lines` of its first line.
    std::unordered_map<std::string, std::size_t> keys;
  };

  static std::string_view EolBytes(Eol eol);
  Eol FileEol() const;
  const Section* FindSection(std::string_view trimmed_name) const;
  std::optional<std::size_t> FindSectionIndex(std::string_view trimmed_name) const;
  // Index of the last non-blank line of the section (the header when its body is blank).
  static std::size_t LastNonBlank(const Section& section);
  // Inserts lines ending with the file's line ending at `position` of the section, ending the
  // line before them if it had no line ending.
  void InsertLines(std::size_t section, std::size_t position, const std::vector<std::string>& texts);
  void AppendSection(std::string_view name, const std::vector<std::string>& texts);
  void IndexKeys(std::size_t section);
  void IndexSectionNames();
  // After an edit that wrote caller text: when that text holds a line break or a section header,
  // the line structure is no longer what the edit assumed, so the whole file is parsed again
  // (true when it was).
  bool ReparseIfSplit(std::size_t section, std::size_t first, std::size_t count);
  void Reparse();

  std::vector<Section> sections_;  // sections_[0]: the lines before the first section header
  std::unordered_map<std::string, std::size_t> section_index_;  // upper-cased name -> first section
};

// The buffer rules shared by the profile functions.

// Copies value and a NUL into buffer of `size` bytes.  When it does not fit: the first size-1 bytes
// and a NUL, and the result is size-1; otherwise the result is the length.  Size 0: nothing, 0.
std::uint32_t CopyProfileString(std::string_view value, char* buffer, std::uint32_t size);

// Writes the items each followed by NUL, then one more NUL; the result counts the bytes placed
// without that final NUL.  When they do not fit: as many bytes as fit in size-2, then two NULs, and
// the result is size-2.  An empty list gives two NULs and 0.  Size below 2: the buffer is cleared
// as far as it goes and the result is 0.
std::uint32_t CopyProfileList(const std::vector<std::string>& items, char* buffer, std::uint32_t size);

}  // namespace w9x
