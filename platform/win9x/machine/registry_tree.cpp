#include "machine/registry_tree.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "machine/text.h"

namespace w9x {
namespace {

struct RootName {
  RootKey root;
  std::string_view name;
  std::string_view short_name;
};

// Also the order in which Serialize writes the roots.
constexpr std::array<RootName, 6> kRootNames = {{
    {RootKey::kLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {RootKey::kCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {RootKey::kUsers, "HKEY_USERS", "HKU"},
    {RootKey::kCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
    {RootKey::kDynData, "HKEY_DYN_DATA", "HKDD"},
    {RootKey::kClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
}};

constexpr std::string_view kClassesPath = "SOFTWARE\\Classes";
constexpr std::string_view kHeader = "REGEDIT4";

// Slot of a root key in RegistryTree::roots_; kClassesRoot has none.
std::size_t RootSlot(RootKey root) {
  switch (root) {
    case RootKey::kLocalMachine: return 0;
    case RootKey::kCurrentUser: return 1;
    case RootKey::kUsers: return 2;
    case RootKey::kCurrentConfig: return 3;
    case RootKey::kDynData: return 4;
    case RootKey::kClassesRoot: break;
  }
  return 0;
}

// True when the code page 932 text survives the trip to UTF-8 and back unchanged, so that it can
// be written to the file and read again.
bool HasUtf8Form(std::string_view cp932) {
  if (text::IsAscii(cp932)) return true;
  std::optional<std::string> back = text::ToCp932(text::ToUtf8(cp932));
  return back && *back == cp932;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

// A key name a path component may carry.
bool IsValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameLength) return false;
  if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return false;
  }
  return HasUtf8Form(name);
}

bool IsValidValueName(std::string_view name) { return !HasLineBreakOrNul(name) && HasUtf8Form(name); }

// Splits a path at its backslashes (never at a trail byte).  Empty components make it invalid;
// an empty path has no components.
std::optional<std::vector<std::string_view>> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    std::size_t sep = text::Find(path, '\\', start);
    std::string_view part = path.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (part.empty()) return std::nullopt;
    parts.push_back(part);
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  return parts;
}

struct RootAndRest {
  RootKey root;
  std::string_view rest;  // the path below the root
  bool bad_rest;          // a separator with nothing after it
};

// Splits "ROOT\rest" into the root key and the rest; nullopt for an unknown root name.
std::optional<RootAndRest> SplitRoot(std::string_view full_path) {
  std::size_t sep = text::Find(full_path, '\\');
  std::optional<RootKey> root = RootKeyFromName(full_path.substr(0, sep));
  if (!root) return std::nullopt;
  if (sep == std::string_view::npos) return RootAndRest{*root, {}, false};
  return RootAndRest{*root, full_path.substr(sep + 1), sep + 1 == full_path.size()};
}

// Names equal ignoring ASCII case, as text::EqualNoCase, without building upper-cased copies
// for the common all-ASCII names.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return text::EqualNoCase(a, b);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

KeyResult Failed(RegStatus status) {
  KeyResult result;
  result.status = status;
  return result;
}

// --- Writing.

void AppendEscaped(std::string& out, std::string_view utf8) {
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
}

void AppendHexByte(std::string& out, std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += kDigits[b >> 4];
  out += kDigits[b & 0xF];
}

// The text of a type 1 value when "..." holds it exactly: one terminating NUL and no other, no
// line break, and a UTF-8 form.
std::optional<std::string> AsQuotableString(const RegistryValue& value) {
  if (value.type != reg_type::kString || value.data.empty() || value.data.back() != 0) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
  if (HasLineBreakOrNul(text) || !HasUtf8Form(text)) return std::nullopt;
  return text::ToUtf8(text);
}

constexpr std::size_t kLineWidth = 80;
constexpr std::string_view kContinuationIndent = "  ";

void AppendValue(std::string& out, const RegistryValue& value) {
  std::size_t line_start = out.size();
  if (value.name.empty()) {
    out += '@';
  } else {
    out += '"';
    AppendEscaped(out, text::ToUtf8(value.name));
    out += '"';
  }
  out += '=';

  if (std::optional<std::string> text = AsQuotableString(value)) {
    out += '"';
    AppendEscaped(out, *text);
    out += "\"\n";
    return;
  }
  if (value.type == reg_type::kDword && value.data.size() == 4) {
    std::uint32_t v = static_cast<std::uint32_t>(value.data[0]) | static_cast<std::uint32_t>(value.data[1]) << 8 |
                      static_cast<std::uint32_t>(value.data[2]) << 16 |
                      static_cast<std::uint32_t>(value.data[3]) << 24;
    out += "dword:";
    for (int shift = 24; shift >= 0; shift -= 8) AppendHexByte(out, static_cast<std::uint8_t>(v >> shift));
    out += '\n';
    return;
  }

  if (value.type == reg_type::kBinary) {
    out += "hex:";
  } else {
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
    out += type;
  }
  // Bytes as "xx," pairs; a line that would pass kLineWidth (with its trailing backslash) goes on
  // below, indented.  Every line holds at least one byte.
  bool line_has_bytes = false;
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    bool last = i + 1 == value.data.size();
    std::size_t item = last ? 2 : 3 + 1;  // "xx" or "xx," plus room for the backslash
    if (line_has_bytes && out.size() - line_start + item > kLineWidth) {
      out += "\\\n";
      line_start = out.size();
      out += kContinuationIndent;
    }
    AppendHexByte(out, value.data[i]);
    if (!last) out += ',';
    line_has_bytes = true;
  }
  out += '\n';
}

void AppendSection(std::string& out, const RegistryKey& key, const std::string& path) {
  out += '[';
  out += text::ToUtf8(path);
  out += "]\n";
  for (std::size_t i = 0; i < key.ValueCount(); ++i) AppendValue(out, *key.ValueAt(i));
  out += '\n';
}

// The key and its subtree, depth first in creation order.  Iterative: a stack of (key, path).
void AppendSubtree(std::string& out, const RegistryKey& top) {
  std::vector<std::pair<const RegistryKey*, std::string>> stack;
  stack.emplace_back(&top, top.Path());
  while (!stack.empty()) {
    auto [key, path] = std::move(stack.back());
    stack.pop_back();
    AppendSection(out, *key, path);
    for (std::size_t i = key->SubKeyCount(); i-- > 0;) {
      std::shared_ptr<RegistryKey> child = key->SubKeyAt(i);
      stack.emplace_back(child.get(), path + '\\' + child->Name());
    }
  }
}

// --- Reading.

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
  }

  RegistryParseResult Run() {
    auto tree = std::make_unique<RegistryTree>();
    std::string_view line;
    if (!NextLine(line) || TrimRight(line) != kHeader) return Fail("header \"REGEDIT4\" missing");
    std::shared_ptr<RegistryKey> key;
    while (NextLine(line)) {
      std::string_view trimmed = TrimLeft(TrimRight(line));
      if (trimmed.empty() || trimmed.front() == ';') continue;
      if (line.front() == '[') {
        key = Section(*tree, TrimRight(line));
        if (!key) return Fail();
      } else if (line.front() == '@' || line.front() == '"') {
        if (!key) return Fail("value line outside a key section");
        if (!Value(*key, line)) return Fail();
      } else {
        return Fail("bad value line");
      }
    }
    return {std::move(tree), {}};
  }

 private:
  static std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }
  static std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }

  // The next line without its LF or CR LF; false at the end of the text.
  bool NextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    pos_ = end + 1;
    ++line_number_;
    return true;
  }

  RegistryParseResult Fail(std::string reason = {}) {
    if (!reason.empty()) reason_ = std::move(reason);
    std::size_t line = error_line_ ? error_line_ : std::max<std::size_t>(line_number_, 1);  // empty text: line 1
    return {nullptr, {line, reason_}};
  }
  // Records why the current line is rejected; false for the caller to return.
  bool Reject(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

  std::shared_ptr<RegistryKey> Section(RegistryTree& tree, std::string_view line) {
    if (line.size() < 2 || line.back() != ']') return Reject("unterminated section name"), nullptr;
    std::optional<std::string> path = text::ToCp932(line.substr(1, line.size() - 2));
    if (!path) return Reject("key name has no code page 932 form"), nullptr;
    if (!SplitRoot(*path)) return Reject("unknown root key"), nullptr;
    KeyResult result = tree.Create(*path);
    if (result.status == RegStatus::kTooDeep) return Reject("key path too deep"), nullptr;
    if (result.status != RegStatus::kOk) return Reject("bad key name"), nullptr;
    return result.key;
  }

  // Reads a quoted text starting at s[0] == '"', with \\ and \" as escapes; advances s past the
  // closing quote.
  std::optional<std::string> Quoted(std::string_view& s) {
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        s.remove_prefix(i + 1);
        return out;
      }
      if (c == '\\') {
        if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
          Reject("bad escape");
          return std::nullopt;
        }
        c = s[++i];
      }
      out += c;
    }
    Reject("bad value line: missing closing quote");
    return std::nullopt;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // 1 to 8 hex digits, the whole of s.
  static std::optional<std::uint32_t> HexNumber(std::string_view s) {
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
      int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return v;
  }

  bool Value(RegistryKey& key, std::string_view line) {
    std::string_view rest = line;
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else {
      std::optional<std::string> utf8 = Quoted(rest);
      if (!utf8) return false;
      std::optional<std::string> cp932 = text::ToCp932(*utf8);
      if (!cp932) return Reject("value name has no code page 932 form");
      name = std::move(*cp932);
    }
    if (!rest.starts_with('=')) return Reject("bad value line: '=' expected");
    rest.remove_prefix(1);

    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (rest.starts_with('"')) {
      std::optional<std::string> utf8 = Quoted(rest);
      if (!utf8) return false;
      if (!TrimRight(rest).empty()) return Reject("bad value line: text after the closing quote");
      std::optional<std::string> cp932 = text::ToCp932(*utf8);
      if (!cp932) return Reject("string has no code page 932 form");
      type = reg_type::kString;
      data.assign(cp932->begin(), cp932->end());
      data.push_back(0);
    } else if (rest.starts_with("dword:")) {
      std::optional<std::uint32_t> v = HexNumber(TrimRight(rest.substr(6)));
      if (!v) return Reject("bad dword");
      type = reg_type::kDword;
      data = {static_cast<std::uint8_t>(*v), static_cast<std::uint8_t>(*v >> 8), static_cast<std::uint8_t>(*v >> 16),
              static_cast<std::uint8_t>(*v >> 24)};
    } else if (rest.starts_with("hex:")) {
      type = reg_type::kBinary;
      rest.remove_prefix(4);
      if (!HexList(rest, data)) return false;
    } else if (rest.starts_with("hex(")) {
      std::size_t close = rest.find("):");
      std::optional<std::uint32_t> t = close == std::string_view::npos ? std::nullopt : HexNumber(rest.substr(4, close - 4));
      if (!t) return Reject("bad hex value type");
      type = *t;
      rest.remove_prefix(close + 2);
      if (!HexList(rest, data)) return false;
    } else {
      return Reject("bad value line: unknown data form");
    }

    if (key.SetValue(name, type, data) != RegStatus::kOk) return Reject("bad value name");
    return true;
  }

  // Comma separated bytes, continued on following lines after a trailing backslash.  An error
  // names the line holding the bad byte.
  bool HexList(std::string_view first, std::vector<std::uint8_t>& out) {
    std::string joined;
    std::vector<std::pair<std::size_t, std::size_t>> line_starts;  // (offset in joined, line number)
    std::string_view part = TrimRight(first);
    while (true) {
      line_starts.emplace_back(joined.size(), line_number_);
      if (!part.ends_with('\\')) {
        joined += part;
        break;
      }
      part.remove_suffix(1);
      joined += part;
      std::string_view next;
      if (!NextLine(next)) return Reject("bad hex: continuation line missing");
      part = TrimRight(TrimLeft(next));
    }

    auto fail_at = [&](std::size_t offset) {
      auto it = std::upper_bound(line_starts.begin(), line_starts.end(), offset,
                                 [](std::size_t o, const auto& entry) { return o < entry.first; });
      error_line_ = std::prev(it)->second;
      return Reject("bad hex");
    };

    std::string_view all = joined;
    if (TrimLeft(all).empty()) return true;
    std::size_t start = 0;
    while (true) {
      std::size_t comma = all.find(',', start);
      std::size_t end = comma == std::string_view::npos ? all.size() : comma;
      std::string_view item = all.substr(start, end - start);
      std::size_t lead = item.size() - TrimLeft(item).size();
      item = TrimRight(TrimLeft(item));
      if (item.empty() || item.size() > 2) return fail_at(start + lead);
      std::optional<std::uint32_t> b = HexNumber(item);
      if (!b) return fail_at(start + lead);
      out.push_back(static_cast<std::uint8_t>(*b));
      if (comma == std::string_view::npos) return true;
      start = comma + 1;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_number_ = 0;
  std::size_t error_line_ = 0;  // set when the error is on another line than the current one
  std::string reason_;
};

}  // namespace

// --- Root names.

std::string_view RootKeyName(RootKey root) {
  for (const RootName& r : kRootNames) {
    if (r.root == root) return r.name;
  }
  return {};
}

std::optional<RootKey> RootKeyFromName(std::string_view name) {
  for (const RootName& r : kRootNames) {
    if (text::EqualNoCase(name, r.name) || text::EqualNoCase(name, r.short_name)) return r.root;
  }
  return std::nullopt;
}

// --- RegistryKey.

RegistryKey::RegistryKey(Private, std::string name, std::size_t depth) : name_(std::move(name)), depth_(depth) {}

RegistryKey::~RegistryKey() = default;

std::shared_ptr<RegistryKey> RegistryKey::MakeRoot(std::string name) {
  return std::make_shared<RegistryKey>(Private{}, std::move(name), 0);
}

std::shared_ptr<RegistryKey> RegistryKey::MakeDeleted(std::string name) {
  auto key = std::make_shared<RegistryKey>(Private{}, std::move(name), 1);
  key->deleted_ = true;
  return key;
}

std::string RegistryKey::Path() const {
  std::vector<std::shared_ptr<const RegistryKey>> chain{shared_from_this()};
  while (std::shared_ptr<const RegistryKey> up = chain.back()->Parent()) chain.push_back(std::move(up));
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '\\';
    path += (*it)->name_;
  }
  return path;
}

std::shared_ptr<RegistryKey> RegistryKey::Child(std::string_view name) const {
  if (!child_index_.empty()) {
    auto it = child_index_.find(text::Upper(name));
    return it == child_index_.end() ? nullptr : it->second->shared_from_this();
  }
  for (const auto& child : children_) {
    if (SameName(child->name_, name)) return child;
  }
  return nullptr;
}

std::shared_ptr<RegistryKey> RegistryKey::AddChild(std::string_view name) {
  auto child = std::make_shared<RegistryKey>(Private{}, std::string(name), depth_ + 1);
  child->parent_ = weak_from_this();
  children_.push_back(child);
  if (!child_index_.empty()) {
    child_index_.emplace(text::Upper(name), child.get());
  } else if (children_.size() > kIndexFrom) {
    for (const auto& c : children_) child_index_.emplace(text::Upper(c->name_), c.get());
  }
  return child;
}

KeyResult RegistryKey::Open(std::string_view path) {
  if (deleted_) return Failed(RegStatus::kKeyDeleted);
  std::optional<std::vector<std::string_view>> parts = SplitPath(path);
  if (!parts) return Failed(RegStatus::kInvalidName);
  std::shared_ptr<RegistryKey> key = shared_from_this();
  for (std::string_view part : *parts) {
    key = key->Child(part);
    if (!key) return Failed(RegStatus::kNotFound);
  }
  return {RegStatus::kOk, std::move(key), false};
}

KeyResult RegistryKey::Create(std::string_view path) {
  if (deleted_) return Failed(RegStatus::kKeyDeleted);
  std::optional<std::vector<std::string_view>> parts = SplitPath(path);
  if (!parts || !std::all_of(parts->begin(), parts->end(), IsValidKeyName)) return Failed(RegStatus::kInvalidName);
  if (depth_ + parts->size() > kMaxKeyDepth) {
    // Only the levels that would be new count against the limit.
    KeyResult existing = Open(path);
    if (existing.status == RegStatus::kOk) return existing;
    return Failed(RegStatus::kTooDeep);
  }
  std::shared_ptr<RegistryKey> key = shared_from_this();
  bool created = false;
  for (std::string_view part : *parts) {
    std::shared_ptr<RegistryKey> next = key->Child(part);
    if (!next) {
      next = key->AddChild(part);
      created = true;
    }
    key = std::move(next);
  }
  return {RegStatus::kOk, std::move(key), created};
}

void RegistryKey::MarkSubtreeDeleted() {
  std::vector<std::shared_ptr<RegistryKey>> stack{shared_from_this()};
  while (!stack.empty()) {
    std::shared_ptr<RegistryKey> key = std::move(stack.back());
    stack.pop_back();
    key->deleted_ = true;
    key->parent_.reset();
    for (auto& child : key->children_) stack.push_back(std::move(child));
    key->children_.clear();
    key->child_index_.clear();
    key->values_.clear();
    key->value_index_.clear();
  }
}

RegStatus RegistryKey::DeleteSubKey(std::string_view path) {
  if (deleted_) return RegStatus::kKeyDeleted;
  if (path.empty()) return RegStatus::kInvalidName;
  KeyResult found = Open(path);
  if (found.status != RegStatus::kOk) return found.status;
  std::shared_ptr<RegistryKey> parent = found.key->Parent();
  if (!parent->child_index_.empty()) parent->child_index_.erase(text::Upper(found.key->name_));
  auto& siblings = parent->children_;
  siblings.erase(std::find(siblings.begin(), siblings.end(), found.key));
  found.key->MarkSubtreeDeleted();
  return RegStatus::kOk;
}

std::shared_ptr<RegistryKey> RegistryKey::SubKeyAt(std::size_t index) const {
  return index < children_.size() ? children_[index] : nullptr;
}

std::size_t RegistryKey::ValueSlot(std::string_view name) const {
  if (!value_index_.empty()) {
    auto it = value_index_.find(text::Upper(name));
    return it == value_index_.end() ? values_.size() : it->second;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (SameName(values_[i].name, name)) return i;
  }
  return values_.size();
}

void RegistryKey::IndexValues() {
  value_index_.clear();
  if (values_.size() <= kIndexFrom) return;
  for (std::size_t i = 0; i < values_.size(); ++i) value_index_.emplace(text::Upper(values_[i].name), i);
}

const RegistryValue* RegistryKey::FindValue(std::string_view name) const {
  std::size_t slot = ValueSlot(name);
  return slot < values_.size() ? &values_[slot] : nullptr;
}

RegStatus RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::span<const std::uint8_t> data) {
  if (deleted_) return RegStatus::kKeyDeleted;
  if (!IsValidValueName(name)) return RegStatus::kInvalidName;
  std::size_t slot = ValueSlot(name);
  if (slot == values_.size()) {
    values_.push_back(RegistryValue{std::string(name), type, {}});
    if (!value_index_.empty()) {
      value_index_.emplace(text::Upper(name), slot);
    } else if (values_.size() > kIndexFrom) {
      IndexValues();
    }
  }
  RegistryValue& value = values_[slot];
  value.type = type;
  value.data.assign(data.begin(), data.end());
  return RegStatus::kOk;
}

RegStatus RegistryKey::SetString(std::string_view name, std::string_view text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return SetValue(name, reg_type::kString, data);
}

RegStatus RegistryKey::SetDword(std::string_view name, std::uint32_t value) {
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return SetValue(name, reg_type::kDword, data);
}

RegStatus RegistryKey::DeleteValue(std::string_view name) {
  if (deleted_) return RegStatus::kKeyDeleted;
  std::size_t slot = ValueSlot(name);
  if (slot == values_.size()) return RegStatus::kNotFound;
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(slot));
  if (!value_index_.empty()) IndexValues();  // the slots after it moved
  return RegStatus::kOk;
}

const RegistryValue* RegistryKey::ValueAt(std::size_t index) const {
  return index < values_.size() ? &values_[index] : nullptr;
}

// --- RegistryParseError.

std::string RegistryParseError::Message() const { return "line " + std::to_string(line) + ": " + reason; }

// --- RegistryTree.

RegistryTree::RegistryTree() {
  for (const RootName& r : kRootNames) {
    if (r.root != RootKey::kClassesRoot) roots_[RootSlot(r.root)] = RegistryKey::MakeRoot(std::string(r.name));
  }
}

RegistryTree::~RegistryTree() = default;

std::shared_ptr<RegistryKey> RegistryTree::Root(RootKey root) {
  if (root != RootKey::kClassesRoot) return roots_[RootSlot(root)];
  return roots_[RootSlot(RootKey::kLocalMachine)]->Create(kClassesPath).key;
}

KeyResult RegistryTree::Open(std::string_view full_path) {
  auto split = SplitRoot(full_path);
  if (!split) return Failed(RegStatus::kNotFound);
  if (split->bad_rest) return Failed(RegStatus::kInvalidName);
  std::string_view rest = split->rest;
  if (split->root != RootKey::kClassesRoot) return roots_[RootSlot(split->root)]->Open(rest);
  // Opening under HKEY_CLASSES_ROOT must not create SOFTWARE\Classes.
  std::string path(kClassesPath);
  if (!rest.empty()) path.append("\\").append(rest);
  return roots_[RootSlot(RootKey::kLocalMachine)]->Open(path);
}

KeyResult RegistryTree::Create(std::string_view full_path) {
  auto split = SplitRoot(full_path);
  if (!split) return Failed(RegStatus::kNotFound);
  if (split->bad_rest) return Failed(RegStatus::kInvalidName);
  return Root(split->root)->Create(split->rest);
}

RegistryParseResult RegistryTree::Parse(std::string_view text) { return Parser(text).Run(); }

std::string RegistryTree::Serialize() const {
  std::string out(kHeader);
  out += "\n\n";
  for (const auto& root : roots_) {
    if (root->SubKeyCount() == 0 && root->ValueCount() == 0) continue;
    AppendSubtree(out, *root);
  }
  return out;
}

std::string SerializeRegistryKey(const RegistryKey& key) {
  std::string out(kHeader);
  out += "\n\n";
  if (!key.IsDeleted()) AppendSubtree(out, key);
  return out;
}

}  // namespace w9x
