// An export is read in two steps: first every line is checked and turned into a list of steps
// (a run of sections and values read by the REGEDIT4 reader into a tree of its own, a key
// deletion, a value deletion), then the steps are applied.  A malformed file thus changes nothing.
#include "machine/registry_import.h"

#include <memory>
#include <vector>

#include "machine/text.h"

namespace w9x {
namespace {

constexpr std::string_view kV4Header = "REGEDIT4";
constexpr std::string_view kV5Header = "Windows Registry Editor Version 5.00";

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    if (c < 0x80) n = 0;
    else if (c >= 0xC2 && c < 0xE0) n = 1;
    else if (c >= 0xE0 && c < 0xF0) n = 2;
    else if (c >= 0xF0 && c < 0xF5) n = 3;
    else return false;
    if (i + n >= s.size() && n > 0) return false;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 little endian to UTF-8; nullopt for an odd length or a lone surrogate.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes) {
  if (bytes.size() % 2) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t u = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (u >= 0xD800 && u < 0xDC00) {
      if (i + 3 >= bytes.size()) return std::nullopt;
      std::uint32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (low < 0xDC00 || low >= 0xE000) return std::nullopt;
      u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (u >= 0xDC00 && u < 0xE000) {
      return std::nullopt;
    }
    AppendUtf8(out, u);
  }
  return out;
}

// One step of an import: merge a tree, delete a key, or delete a value.
struct Step {
  enum class Kind { kMerge, kDeleteKey, kDeleteValue } kind = Kind::kMerge;
  std::unique_ptr<RegistryTree> tree;  // kMerge
  std::string key;                     // code page 932, from the root key's name on
  std::string name;                    // kDeleteValue: code page 932, empty for the default value
};

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// The root key of a path ("HKEY_LOCAL_MACHINE\A\B") and the rest ("A\B").
std::optional<std::pair<RootKey, std::string>> SplitPath(const std::string& path) {
  const std::size_t slash = path.find('\\');
  auto root = RootKeyFromName(path.substr(0, slash));
  if (!root) return std::nullopt;
  return std::make_pair(*root, slash == std::string::npos ? std::string() : path.substr(slash + 1));
}

// Copies the values and subkeys of `from` into `to`.
void Merge(RegistryKey& to, const RegistryKey& from) {
  for (std::size_t i = 0; i < from.ValueCount(); ++i) {
    const RegistryValue* v = from.ValueAt(i);
    to.SetValue(v->name, v->type, v->data);
  }
  for (std::size_t i = 0; i < from.SubKeyCount(); ++i) {
    auto child = from.SubKeyAt(i);
    KeyResult created = to.Create(child->Name());
    if (created.status == RegStatus::kOk) Merge(*created.key, *child);
  }
}

// Version 5 files hold expandable and multiple strings as UTF-16: made code page 932.
bool ConvertWideStrings(RegistryKey& key, std::string& problem) {
  for (std::size_t i = 0; i < key.ValueCount(); ++i) {
    const RegistryValue* v = key.ValueAt(i);
    if (v->type != reg_type::kExpandString && v->type != 7) continue;
    auto utf8 = Utf16ToUtf8(std::string_view(reinterpret_cast<const char*>(v->data.data()), v->data.size()));
    auto cp932 = utf8 ? text::ToCp932(*utf8) : std::nullopt;
    if (!cp932) {
      problem = "value \"" + text::ToUtf8(v->name) + "\" of " + text::ToUtf8(key.Path()) + " is not UTF-16 text";
      return false;
    }
    const std::string name = v->name;
    const std::uint32_t type = v->type;
    key.SetValue(name, type, std::vector<std::uint8_t>(cp932->begin(), cp932->end()));
  }
  for (std::size_t i = 0; i < key.SubKeyCount(); ++i)
    if (!ConvertWideStrings(*key.SubKeyAt(i), problem)) return false;
  return true;
}

class Reader {
 public:
  Reader(std::string_view text, bool wide) : text_(text), wide_(wide) {}

  bool Read(std::vector<Step>& steps, std::string& error) {
    std::string_view line;
    std::size_t number = 0;
    std::string current_section;  // the section header line in force, UTF-8
    while (NextLine(line)) {
      ++number;
      if (number == 1) continue;  // the header, checked by the caller
      const std::string_view trimmed = TrimRight(line);
      if (trimmed.starts_with("[-")) {
        if (!Flush(steps, error)) return false;
        if (!trimmed.ends_with(']')) return Fail(error, number, "unterminated section name");
        auto path = text::ToCp932(trimmed.substr(2, trimmed.size() - 3));
        if (!path || !SplitPath(*path)) return Fail(error, number, "unknown root key");
        steps.push_back(Step{Step::Kind::kDeleteKey, nullptr, *path, {}});
        current_section.clear();
        continue;
      }
      if (trimmed.starts_with('[')) current_section = std::string(trimmed);
      if ((trimmed.starts_with('"') || trimmed.starts_with('@')) && trimmed.ends_with("=-")) {
        std::string name;
        if (trimmed.starts_with('"')) {
          auto quoted = Unquote(trimmed.substr(0, trimmed.size() - 2));
          if (!quoted) return Fail(error, number, "bad value name");
          name = *quoted;
        } else if (trimmed != "@=-") {
          return Fail(error, number, "bad value line");
        }
        if (current_section.size() < 2 || !current_section.ends_with(']'))
          return Fail(error, number, "value line outside a key section");
        auto key = text::ToCp932(std::string_view(current_section).substr(1, current_section.size() - 2));
        auto cp932_name = text::ToCp932(name);
        if (!key || !cp932_name) return Fail(error, number, "name has no code page 932 form");
        if (!Flush(steps, error)) return false;
        steps.push_back(Step{Step::Kind::kDeleteValue, nullptr, *key, *cp932_name});
        // The values after it belong to the same key.
        Add(current_section, number);
        continue;
      }
      Add(std::string(line), number);
    }
    return Flush(steps, error);
  }

 private:
  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    pos_ = end + 1;
    return true;
  }

  static bool Fail(std::string& error, std::size_t line, const std::string& reason) {
    error = "line " + std::to_string(line) + ": " + reason;
    return false;
  }

  // A quoted name with \\ and \" escapes, the whole of s.
  static std::optional<std::string> Unquote(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      char c = s[i];
      if (c == '"') return std::nullopt;
      if (c == '\\') {
        if (i + 2 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::nullopt;
        c = s[++i];
      }
      out += c;
    }
    return out;
  }

  void Add(const std::string& line, std::size_t number) {
    chunk_ += line;
    chunk_ += '\n';
    lines_.push_back(number);
  }

  // Reads the lines gathered since the last deletion as a tree of their own.
  bool Flush(std::vector<Step>& steps, std::string& error) {
    if (lines_.empty()) return true;
    RegistryParseResult parsed = RegistryTree::Parse(std::string(kV4Header) + "\n" + chunk_);
    if (!parsed.tree) {
      const std::size_t at = parsed.error.line >= 2 && parsed.error.line - 2 < lines_.size() ? lines_[parsed.error.line - 2] : lines_.back();
      return Fail(error, at, parsed.error.reason);
    }
    if (wide_) {
      std::string problem;
      for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser, RootKey::kUsers, RootKey::kCurrentConfig,
                           RootKey::kDynData})
        if (!ConvertWideStrings(*parsed.tree->Root(root), problem)) return Fail(error, lines_.front(), problem);
    }
    steps.push_back(Step{Step::Kind::kMerge, std::move(parsed.tree), {}, {}});
    chunk_.clear();
    lines_.clear();
    return true;
  }

  std::string_view text_;
  bool wide_;
  std::size_t pos_ = 0;
  std::string chunk_;
  std::vector<std::size_t> lines_;  // the file's line number of each line of chunk_
};

}  // namespace

bool ImportRegistry(RegistryTree& tree, std::string_view bytes, std::string& error) {
  std::string text;
  if (bytes.starts_with("\xFF\xFE")) {
    auto utf8 = Utf16ToUtf8(bytes.substr(2));
    if (!utf8) {
      error = "not UTF-16 text";
      return false;
    }
    text = std::move(*utf8);
  } else if (bytes.starts_with("\xFE\xFF")) {
    error = "UTF-16 big endian is not a registry export of Windows";
    return false;
  } else {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    text = IsUtf8(bytes) ? std::string(bytes) : text::ToUtf8(bytes);
  }
  const std::string_view first = TrimRight(std::string_view(text).substr(0, text.find('\n')));
  const bool v5 = first == kV5Header;
  if (first != kV4Header && !v5) {
    error = "line 1: not a registry export (\"REGEDIT4\" or \"" + std::string(kV5Header) + "\" expected)";
    return false;
  }
  std::vector<Step> steps;
  if (!Reader(text, v5).Read(steps, error)) return false;

  for (Step& step : steps) {
    if (step.kind == Step::Kind::kMerge) {
      for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser, RootKey::kUsers, RootKey::kCurrentConfig,
                           RootKey::kDynData})
        Merge(*tree.Root(root), *step.tree->Root(root));
    } else if (step.kind == Step::Kind::kDeleteKey) {
      // Deleting a key that is not there does nothing, as in the registry editor.
      auto split = SplitPath(step.key);
      if (split && !split->second.empty()) tree.Root(split->first)->DeleteSubKey(split->second);
    } else {
      KeyResult k = tree.Open(step.key);
      if (k.status == RegStatus::kOk) k.key->DeleteValue(step.name);
    }
  }
  return true;
}

std::string ToCp932Export(std::string_view utf8) {
  std::string out;
  for (std::size_t start = 0; start < utf8.size();) {
    std::size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) end = utf8.size();
    // Names and texts came from the registry, which holds code page 932: every one converts.
    out += text::ToCp932(utf8.substr(start, end - start)).value_or("");
    out += "\r\n";
    start = end + 1;
  }
  return out;
}

}  // namespace w9x
