#include "machine/ini_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "machine/text.h"

namespace w9x {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBlankLine(std::string_view line) {
  return std::all_of(line.begin(), line.end(), IsBlank);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Trims blanks at both ends.  Blanks are single bytes, but the byte after a lead byte belongs to
// its character even when it looks like a blank, so the end is found character by character.
std::string_view Trim(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && IsBlank(s[begin])) ++begin;
  // A last byte that is no blank ends the text whatever character it belongs to: no walk needed.
  if (begin == s.size() || !IsBlank(s.back())) return s.substr(begin);
  std::size_t end = begin;
  for (std::size_t i = begin; i < s.size();) {
    std::size_t n = text::CharLength(s, i);
    if (n != 1 || !IsBlank(s[i])) end = i + n;
    i += n;
  }
  return s.substr(begin, end - begin);
}

// A value enclosed in a matching pair of quotes loses them.  The closing quote must be a character
// of its own, not the second byte of a double-byte character.
std::string_view Unquote(std::string_view v) {
  if (v.size() < 2 || (v.front() != '"' && v.front() != '\'')) return v;
  std::size_t last = 0;
  for (std::size_t i = 0; i < v.size(); i += text::CharLength(v, i)) last = i;
  if (last != v.size() - 1 || v[last] != v.front()) return v;
  return v.substr(1, v.size() - 2);
}

// What one line of a profile file is.  The views point into the line.
struct LineKind {
  enum Kind { kBlank, kHeader, kEntry } kind = kBlank;
  std::string_view name;   // section name of a header, key name of an entry (trimmed)
  std::string_view value;  // value of an entry (trimmed, quotes kept)
};

LineKind Classify(std::string_view line) {
  std::size_t first = 0;
  while (first < line.size() && IsBlank(line[first])) ++first;
  if (first == line.size()) return {};
  if (line[first] == '[') {
    std::string_view rest = line.substr(first + 1);
    return {LineKind::kHeader, Trim(rest.substr(0, text::Find(rest, ']'))), {}};
  }
  std::size_t equals = text::Find(line, '=', first);
  if (equals == std::string_view::npos) return {LineKind::kEntry, Trim(line), {}};
  return {LineKind::kEntry, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

std::string Entry(std::string_view key, std::string_view value) {
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append("=").append(value);
  return line;
}

std::string Header(std::string_view name) {
  std::string line;
  line.reserve(name.size() + 2);
  line.append("[").append(name).append("]");
  return line;
}

}  // namespace

IniFile::IniFile() : sections_(1) {}

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile ini;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    Line line;
    std::size_t brk = bytes.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      line.text = bytes.substr(pos);
      pos = bytes.size();
    } else {
      line.text = bytes.substr(pos, brk - pos);
      if (bytes[brk] == '\n') {
        line.eol = Eol::kLf;
        pos = brk + 1;
      } else if (brk + 1 < bytes.size() && bytes[brk + 1] == '\n') {
        line.eol = Eol::kCrLf;
        pos = brk + 2;
      } else {
        line.eol = Eol::kCr;
        pos = brk + 1;
      }
    }
    LineKind kind = Classify(line.text);
    if (kind.kind == LineKind::kHeader) {
      Section section;
      section.name = kind.name;
      ini.sections_.push_back(std::move(section));
    } else if (kind.kind == LineKind::kEntry && ini.sections_.size() > 1) {
      Section& section = ini.sections_.back();
      section.keys.emplace(text::Upper(kind.name), section.lines.size());
    }
    ini.sections_.back().lines.push_back(std::move(line));
  }
  ini.IndexSectionNames();
  return ini;
}

std::string_view IniFile::EolBytes(Eol eol) {
  switch (eol) {
    case Eol::kLf: return "\n";
    case Eol::kCrLf: return "\r\n";
    case Eol::kCr: return "\r";
    case Eol::kNone: break;
  }
  return {};
}

std::string IniFile::Serialize() const {
  std::size_t total = 0;
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) total += line.text.size() + EolBytes(line.eol).size();
  }
  std::string out;
  out.reserve(total);
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) out.append(line.text).append(EolBytes(line.eol));
  }
  return out;
}

// Only the last line of a file can lack a line ending, so this looks at two lines at most.
IniFile::Eol IniFile::FileEol() const {
  for (const Section& section : sections_) {
    for (const Line& line : section.lines) {
      if (line.eol != Eol::kNone) return line.eol;
    }
  }
  return Eol::kCrLf;
}

std::optional<std::size_t> IniFile::FindSectionIndex(std::string_view trimmed_name) const {
  auto it = section_index_.find(text::Upper(trimmed_name));
  if (it == section_index_.end()) return std::nullopt;
  return it->second;
}

const IniFile::Section* IniFile::FindSection(std::string_view trimmed_name) const {
  std::optional<std::size_t> index = FindSectionIndex(trimmed_name);
  return index ? &sections_[*index] : nullptr;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(Trim(section));
  if (found == nullptr) return std::nullopt;
  auto it = found->keys.find(text::Upper(Trim(key)));
  if (it == found->keys.end()) return std::nullopt;
  return std::string(Unquote(Classify(found->lines[it->second].text).value));
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    const std::string& name = sections_[i].name;
    if (!name.empty() && section_index_.at(text::Upper(name)) == i) names.push_back(name);
  }
  return names;
}

std::optional<std::vector<std::string>> IniFile::KeyNames(std::string_view section) const {
  const Section* found = FindSection(Trim(section));
  if (found == nullptr) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t i = 1; i < found->lines.size(); ++i) {
    LineKind kind = Classify(found->lines[i].text);
    if (kind.kind != LineKind::kEntry || kind.name.empty()) continue;
    if (found->keys.at(text::Upper(kind.name)) == i) names.emplace_back(kind.name);
  }
  return names;
}

std::optional<std::vector<std::string>> IniFile::SectionLines(std::string_view section) const {
  std::vector<std::string> lines;
  if (!VisitSectionLines(section, [&](std::string_view line) { lines.emplace_back(line); })) return std::nullopt;
  return lines;
}

bool IniFile::VisitSectionLines(std::string_view section, const std::function<void(std::string_view)>& visit) const {
  const Section* found = FindSection(Trim(section));
  if (found == nullptr) return false;
  for (std::size_t i = 1; i < found->lines.size(); ++i) {
    std::string_view trimmed = Trim(found->lines[i].text);
    if (!trimmed.empty()) visit(trimmed);
  }
  return true;
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string_view name = Trim(section);
  std::string_view trimmed_key = Trim(key);
  std::optional<std::size_t> index = FindSectionIndex(name);
  if (!index) {
    AppendSection(name, {Entry(trimmed_key, value)});
    return;
  }
  Section& found = sections_[*index];
  auto it = found.keys.find(text::Upper(trimmed_key));
  if (it != found.keys.end()) {
    // The key keeps the file's spelling, so the index stays as it is.
    Line& line = found.lines[it->second];
    line.text = Entry(std::string(Classify(line.text).name), value);
    ReparseIfSplit(*index, it->second, 1);
    return;
  }
  // The new line goes after every key of the section, before its trailing blank lines only, so no
  // indexed line moves.
  std::size_t position = LastNonBlank(found) + 1;
  InsertLines(*index, position, {Entry(trimmed_key, value)});
  if (ReparseIfSplit(*index, position, 1)) return;
  Section& updated = sections_[*index];
  updated.keys.emplace(text::Upper(Classify(updated.lines[position].text).name), position);
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::optional<std::size_t> index = FindSectionIndex(Trim(section));
  if (!index) return false;
  Section& found = sections_[*index];
  const std::string upper = text::Upper(Trim(key));
  auto it = found.keys.find(upper);
  if (it == found.keys.end()) return false;
  std::size_t out = it->second;
  for (std::size_t i = it->second; i < found.lines.size(); ++i) {
    LineKind kind = Classify(found.lines[i].text);
    if (kind.kind == LineKind::kEntry && text::Upper(kind.name) == upper) continue;
    if (out != i) found.lines[out] = std::move(found.lines[i]);
    ++out;
  }
  found.lines.resize(out);
  IndexKeys(*index);
  return true;
}

bool IniFile::DeleteSection(std::string_view section) {
  const std::string upper = text::Upper(Trim(section));
  if (!section_index_.contains(upper)) return false;
  std::size_t out = 1;
  for (std::size_t i = 1; i < sections_.size(); ++i) {
    if (text::Upper(sections_[i].name) == upper) continue;
    if (out != i) sections_[out] = std::move(sections_[i]);
    ++out;
  }
  sections_.resize(out);
  IndexSectionNames();
  return true;
}

void IniFile::ReplaceSection(std::string_view section, const std::vector<std::string>& lines) {
  std::string_view name = Trim(section);
  std::optional<std::size_t> index = FindSectionIndex(name);
  if (!index) {
    AppendSection(name, lines);
    return;
  }
  Section& found = sections_[*index];
  std::size_t body_end = LastNonBlank(found) + 1;
  found.lines.erase(found.lines.begin() + 1, found.lines.begin() + static_cast<std::ptrdiff_t>(body_end));
  InsertLines(*index, 1, lines);
  if (!ReparseIfSplit(*index, 1, lines.size())) IndexKeys(*index);
}

std::size_t IniFile::LastNonBlank(const Section& section) {
  for (std::size_t i = section.lines.size(); i-- > 1;) {
    if (!IsBlankLine(section.lines[i].text)) return i;
  }
  return 0;
}

void IniFile::InsertLines(std::size_t section, std::size_t position, const std::vector<std::string>& texts) {
  if (texts.empty()) return;
  const Eol eol = FileEol();
  std::vector<Line>& lines = sections_[section].lines;
  if (position > 0 && lines[position - 1].eol == Eol::kNone) lines[position - 1].eol = eol;
  std::vector<Line> added;
  added.reserve(texts.size());
  for (const std::string& text : texts) added.push_back({text, eol});
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(position), std::make_move_iterator(added.begin()),
               std::make_move_iterator(added.end()));
}

void IniFile::AppendSection(std::string_view name, const std::vector<std::string>& texts) {
  const Eol eol = FileEol();
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
    if (it->lines.empty()) continue;
    if (it->lines.back().eol == Eol::kNone) it->lines.back().eol = eol;
    break;
  }
  Section added;
  added.lines.push_back({Header(name), eol});
  sections_.push_back(std::move(added));
  const std::size_t index = sections_.size() - 1;
  InsertLines(index, 1, texts);
  if (ReparseIfSplit(index, 0, texts.size() + 1)) return;
  Section& section = sections_[index];
  section.name = Classify(section.lines[0].text).name;
  IndexKeys(index);
  section_index_.emplace(text::Upper(section.name), index);
}

void IniFile::IndexKeys(std::size_t section) {
  Section& s = sections_[section];
  s.keys.clear();
  if (section == 0) return;
  for (std::size_t i = 1; i < s.lines.size(); ++i) {
    LineKind kind = Classify(s.lines[i].text);
    if (kind.kind == LineKind::kEntry) s.keys.emplace(text::Upper(kind.name), i);
  }
}

void IniFile::IndexSectionNames() {
  section_index_.clear();
  for (std::size_t i = 1; i < sections_.size(); ++i) section_index_.emplace(text::Upper(sections_[i].name), i);
}

bool IniFile::ReparseIfSplit(std::size_t section, std::size_t first, std::size_t count) {
  const std::vector<Line>& lines = sections_[section].lines;
  for (std::size_t i = first; i < first + count && i < lines.size(); ++i) {
    const bool is_header_line = section != 0 && i == 0;
    if (HasLineBreak(lines[i].text) ||
        (!is_header_line && Classify(lines[i].text).kind == LineKind::kHeader)) {
      Reparse();
      return true;
    }
  }
  return false;
}

void IniFile::Reparse() { *this = Parse(Serialize()); }

std::uint32_t CopyProfileString(std::string_view value, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::size_t n = std::min<std::size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

std::uint32_t CopyProfileList(const std::vector<std::string>& items, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::size_t needed = 1;  // the closing NUL
  for (const std::string& item : items) needed += item.size() + 1;
  if (items.empty() || needed > size) {
    // Whatever does not fit is cut, and the list is closed by two NULs in the last two bytes.
    const std::size_t limit = items.empty() ? 0 : std::size_t{size} - 2;
    std::size_t pos = 0;
    for (const std::string& item : items) {
      if (pos == limit) break;
      const std::size_t n = std::min(item.size(), limit - pos);
      std::memcpy(buffer + pos, item.data(), n);
      pos += n;
      if (pos < limit) buffer[pos++] = '\0';
    }
    buffer[limit] = '\0';
    buffer[limit + 1] = '\0';
    return static_cast<std::uint32_t>(limit);
  }
  std::size_t pos = 0;
  for (const std::string& item : items) {
    std::memcpy(buffer + pos, item.data(), item.size());
    pos += item.size();
    buffer[pos++] = '\0';
  }
  buffer[pos] = '\0';
  return static_cast<std::uint32_t>(pos);
}

}  // namespace w9x
