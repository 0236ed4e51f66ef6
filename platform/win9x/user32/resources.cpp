#include "user32/resources.h"

#include <charconv>

#include "machine/text.h"

namespace w9x {
namespace {

// A cursor over untrusted little-endian bytes: every read checks the remaining length and a
// failed read leaves the reader failed, so a decoder reads on and checks once at the end.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool Ok() const { return ok_; }
  std::size_t Pos() const { return pos_; }
  std::size_t Left() const { return ok_ ? data_.size() - pos_ : 0; }
  bool AtEnd() const { return !ok_ || pos_ >= data_.size(); }

  std::uint8_t Byte() { return Take(1) ? data_[pos_ - 1] : 0; }
  std::uint16_t Word() {
    if (!Take(2)) return 0;
    return static_cast<std::uint16_t>(data_[pos_ - 2] | (data_[pos_ - 1] << 8));
  }
  std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
  std::uint32_t Dword() {
    std::uint32_t low = Word();
    return low | (static_cast<std::uint32_t>(Word()) << 16);
  }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    if (!Take(n)) return {};
    return data_.subspan(pos_ - n, n);
  }
  // A zero-terminated UTF-16 string.
  std::u16string WideString() {
    std::u16string s;
    for (;;) {
      std::uint16_t c = Word();
      if (!ok_ || c == 0) return s;
      s.push_back(static_cast<char16_t>(c));
    }
  }
  // A string or, after the mark 0xFFFF, an ordinal.
  ResourceId NameOrOrdinal() {
    if (Left() >= 2 && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
      Word();
      return ResourceId::Ordinal(Word());
    }
    return {std::nullopt, Utf16ToCp932(WideString())};
  }
  // As above, where a leading zero word means "none" (menu and class of a dialog).
  std::optional<ResourceId> OptionalNameOrOrdinal() {
    if (Left() >= 2 && data_[pos_] == 0 && data_[pos_ + 1] == 0) {
      Word();
      return std::nullopt;
    }
    return NameOrOrdinal();
  }
  // Skips to the next multiple of 4 counted from `base`; the padding may be cut off at the end.
  void AlignDword(std::size_t base = 0) {
    if (!ok_) return;
    std::size_t pad = (4 - (pos_ - base) % 4) % 4;
    pos_ = std::min(pos_ + pad, data_.size());
  }
  void Fail() { ok_ = false; }

 private:
  bool Take(std::size_t n) {
    if (!ok_ || n > data_.size() - pos_) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes UTF-16 into code points; an unpaired surrogate becomes U+FFFD.
std::vector<char32_t> CodePoints(std::u16string_view s) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    out.push_back(c);
  }
  return out;
}

bool HasSetFont(std::uint32_t style) { return (style & 0x40) != 0; }  // DS_SETFONT

// Menu items of one level of a plain template, up to the item marked as the last.
bool ReadMenuItems(Reader& r, std::vector<MenuItem>& items, int depth) {
  if (depth > 32) return false;  // deeper than any menu a user could work
  for (;;) {
    MenuItem item;
    const std::uint16_t flags = r.Word();
    item.flags = flags & ~kMfEnd;
    if (!(flags & kMfPopup)) item.id = r.Word();
    std::u16string text = r.WideString();
    if (!r.Ok()) return false;
    item.text = Utf16ToCp932(text);
    // A separator is stored as an item without flags, id or text.
    if (!(flags & kMfPopup) && item.id == 0 && text.empty() && (flags & ~kMfEnd) == 0) item.flags |= kMfSeparator;
    if (flags & kMfPopup) {
      if (!ReadMenuItems(r, item.items, depth + 1)) return false;
    }
    items.push_back(std::move(item));
    if (flags & kMfEnd) return true;
  }
}

// Items of the extended form: type, state, id, a word of flags (0x01 pop-up, 0x80 last), the
// text, padding, and for a pop-up its help id and its items.
bool ReadMenuExItems(Reader& r, std::vector<MenuItem>& items, int depth) {
  if (depth > 32) return false;
  for (;;) {
    MenuItem item;
    const std::uint32_t type = r.Dword();
    const std::uint32_t state = r.Dword();
    item.id = r.Dword();
    const std::uint16_t resinfo = r.Word();
    std::u16string text = r.WideString();
    r.AlignDword();
    if (!r.Ok()) return false;
    item.text = Utf16ToCp932(text);
    item.flags = (type | state) & ~static_cast<std::uint32_t>(kMfEnd | kMfPopup);
    if (resinfo & 0x01) {
      item.flags |= kMfPopup;
      r.Dword();  // help id
      if (!r.Ok() || !ReadMenuExItems(r, item.items, depth + 1)) return false;
    }
    items.push_back(std::move(item));
    if (resinfo & 0x80) return true;
  }
}

}  // namespace

std::string Utf16ToCp932(std::u16string_view s) {
  const std::vector<char32_t> points = CodePoints(s);
  std::string utf8;
  for (char32_t c : points) AppendUtf8(utf8, c);
  if (auto whole = text::ToCp932(utf8)) return *whole;
  std::string out;
  for (char32_t c : points) {
    std::string one;
    AppendUtf8(one, c);
    auto converted = text::ToCp932(one);
    out += converted ? *converted : "?";
  }
  return out;
}

ResourceId ResourceId::Name(std::string_view cp932) {
  if (cp932.size() > 1 && cp932[0] == '#') {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(cp932.data() + 1, cp932.data() + cp932.size(), value);
    if (ec == std::errc() && end == cp932.data() + cp932.size() && value <= 0xFFFF)
      return Ordinal(static_cast<std::uint16_t>(value));
  }
  return {std::nullopt, std::string(cp932)};
}

ResourceId ResourceId::FromArgument(const char* arg) {
  const auto value = reinterpret_cast<std::uintptr_t>(arg);
  if (value <= 0xFFFF) return Ordinal(static_cast<std::uint16_t>(value));
  return Name(arg);
}

bool ResourceId::Matches(const ResourceId& other) const {
  if (ordinal || other.ordinal) return ordinal == other.ordinal;
  return text::EqualNoCase(name, other.name);
}

std::string ResourceId::ToString() const { return ordinal ? "#" + std::to_string(*ordinal) : name; }

std::optional<ResourceFile> ResourceFile::Parse(std::span<const std::uint8_t> bytes, std::string* error) {
  auto fail = [&](std::size_t at, const char* why) -> std::optional<ResourceFile> {
    if (error) *error = "resource file: " + std::string(why) + " at offset " + std::to_string(at);
    return std::nullopt;
  };
  ResourceFile file;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 8) return fail(at, "truncated entry header");
    Reader r(bytes.subspan(at));
    const std::uint32_t data_size = r.Dword();
    const std::uint32_t header_size = r.Dword();
    // The fixed fields after type and name take 16 bytes; the two names at least 4 more.
    if (header_size < 8 + 4 + 16 || header_size > bytes.size() - at) return fail(at, "bad header size");
    if (data_size > bytes.size() - at - header_size) return fail(at, "data runs past the end");
    Reader h(bytes.subspan(at, header_size));
    h.Bytes(8);
    Resource res;
    res.type = h.NameOrOrdinal();
    res.name = h.NameOrOrdinal();
    h.AlignDword();
    h.Dword();  // data version
    res.memory_flags = h.Word();
    res.language = h.Word();
    h.Dword();  // version
    h.Dword();  // characteristics
    if (!h.Ok()) return fail(at, "header too short for its names");
    const auto data = bytes.subspan(at + header_size, data_size);
    res.data.assign(data.begin(), data.end());
    // The file starts with an empty entry of type 0 and name 0 that marks it as 32-bit.
    const bool marker = data_size == 0 && res.type.ordinal == 0 && res.name.ordinal == 0;
    if (!marker) file.entries_.push_back(std::move(res));
    std::size_t next = at + header_size + data_size;
    next += (4 - next % 4) % 4;
    at = std::min(next, bytes.size());
  }
  return file;
}

const Resource* ResourceFile::Find(const ResourceId& type, const ResourceId& name) const {
  for (const Resource& r : entries_)
    if (r.type.Matches(type) && r.name.Matches(name)) return &r;
  return nullptr;
}

std::optional<std::vector<std::string>> ParseStringBlock(std::span<const std::uint8_t> data) {
  Reader r(data);
  std::vector<std::string> strings;
  for (int i = 0; i < 16; ++i) {
    const std::uint16_t length = r.Word();
    std::u16string s;
    for (std::uint16_t k = 0; k < length && r.Ok(); ++k) s.push_back(static_cast<char16_t>(r.Word()));
    if (!r.Ok()) return std::nullopt;
    strings.push_back(Utf16ToCp932(s));
  }
  return strings;
}

std::optional<std::string> ResourceFile::String(std::uint32_t id) const {
  if (id > 0xFFFF) return std::nullopt;
  const Resource* block = Find(ResourceId::Ordinal(kRtString), ResourceId::Ordinal(static_cast<std::uint16_t>((id >> 4) + 1)));
  if (!block) return std::nullopt;
  auto strings = ParseStringBlock(block->data);
  if (!strings) return std::nullopt;
  return (*strings)[id & 15];
}

std::optional<MenuTemplate> ParseMenu(std::span<const std::uint8_t> data) {
  Reader r(data);
  MenuTemplate menu;
  const std::uint16_t version = r.Word();
  const std::uint16_t header = r.Word();
  if (!r.Ok()) return std::nullopt;
  if (version == 0) {
    r.Bytes(header);  // extra header bytes, none in practice
    if (!r.Ok()) return std::nullopt;
    if (r.AtEnd()) return menu;  // a menu without items
    if (!ReadMenuItems(r, menu.items, 0)) return std::nullopt;
  } else if (version == 1) {
    menu.extended = true;
    if (header < 4) return std::nullopt;  // the offset counts from after itself and holds the help id
    r.Bytes(header);
    if (!r.Ok()) return std::nullopt;
    if (r.AtEnd()) return menu;
    if (!ReadMenuExItems(r, menu.items, 0)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  return menu;
}

std::optional<MenuTemplate> ResourceFile::Menu(const ResourceId& name) const {
  const Resource* r = Find(ResourceId::Ordinal(kRtMenu), name);
  return r ? ParseMenu(r->data) : std::nullopt;
}

std::optional<std::vector<Accelerator>> ParseAccelerators(std::span<const std::uint8_t> data) {
  Reader r(data);
  std::vector<Accelerator> table;
  for (;;) {
    const std::uint16_t flags = r.Word();
    Accelerator a;
    a.key = r.Word();
    a.command = r.Word();
    r.Word();  // padding
    if (!r.Ok()) return std::nullopt;
    a.flags = flags & ~0x80;
    table.push_back(a);
    if (flags & 0x80) return table;  // the last entry
  }
}

std::optional<std::vector<Accelerator>> ResourceFile::Accelerators(const ResourceId& name) const {
  const Resource* r = Find(ResourceId::Ordinal(kRtAccelerator), name);
  return r ? ParseAccelerators(r->data) : std::nullopt;
}

std::optional<DialogTemplate> ParseDialog(std::span<const std::uint8_t> data) {
  Reader r(data);
  DialogTemplate d;
  std::uint16_t count = 0;
  if (data.size() >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF) {
    d.extended = true;
    r.Dword();  // version 1, signature 0xFFFF
    d.help_id = r.Dword();
    d.ex_style = r.Dword();
    d.style = r.Dword();
  } else {
    d.style = r.Dword();
    d.ex_style = r.Dword();
  }
  count = r.Word();
  d.x = r.Short();
  d.y = r.Short();
  d.cx = r.Short();
  d.cy = r.Short();
  d.menu = r.OptionalNameOrOrdinal();
  d.window_class = r.OptionalNameOrOrdinal();
  d.title = Utf16ToCp932(r.WideString());
  if (HasSetFont(d.style)) {
    d.font_size = r.Word();
    if (d.extended) {
      d.font_weight = r.Word();
      d.font_italic = r.Byte() != 0;
      d.font_charset = r.Byte();
    }
    d.font_name = Utf16ToCp932(r.WideString());
  }
  if (!r.Ok()) return std::nullopt;
  for (std::uint16_t i = 0; i < count; ++i) {
    r.AlignDword();
    DialogItem item;
    if (d.extended) {
      item.help_id = r.Dword();
      item.ex_style = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.ex_style = r.Dword();
    }
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = d.extended ? static_cast<std::int32_t>(r.Dword()) : r.Short();
    item.window_class = r.NameOrOrdinal();
    item.text = r.NameOrOrdinal();
    const std::uint16_t extra = r.Word();
    const auto bytes = r.Bytes(extra);
    if (!r.Ok()) return std::nullopt;
    item.creation_data.assign(bytes.begin(), bytes.end());
    d.items.push_back(std::move(item));
  }
  return d;
}

std::optional<std::uint16_t> DialogItem::KnownClass() const {
  if (window_class.ordinal) {
    const std::uint16_t atom = *window_class.ordinal;
    if (atom >= kButtonClass && atom <= kComboBoxClass) return atom;
    return std::nullopt;
  }
  static constexpr const char* kNames[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
  for (std::uint16_t i = 0; i < std::size(kNames); ++i)
    if (text::EqualNoCase(window_class.name, kNames[i])) return static_cast<std::uint16_t>(kButtonClass + i);
  return std::nullopt;
}

std::optional<DialogTemplate> ResourceFile::Dialog(const ResourceId& name) const {
  const Resource* r = Find(ResourceId::Ordinal(kRtDialog), name);
  return r ? ParseDialog(r->data) : std::nullopt;
}

std::optional<IconGroup> ParseIconGroup(std::span<const std::uint8_t> data) {
  Reader r(data);
  IconGroup g;
  if (r.Word() != 0) return std::nullopt;  // reserved
  g.type = r.Word();
  const std::uint16_t count = r.Word();
  if (!r.Ok() || (g.type != 1 && g.type != 2)) return std::nullopt;
  for (std::uint16_t i = 0; i < count; ++i) {
    IconGroupEntry e;
    e.width = r.Byte();
    e.height = r.Byte();
    e.color_count = r.Byte();
    r.Byte();  // reserved
    e.planes = r.Word();
    e.bit_count = r.Word();
    e.bytes = r.Dword();
    e.icon_id = r.Word();
    if (!r.Ok()) return std::nullopt;
    g.entries.push_back(e);
  }
  return g;
}

std::optional<IconGroup> ResourceFile::IconGroupOf(const ResourceId& name) const {
  const Resource* r = Find(ResourceId::Ordinal(kRtGroupIcon), name);
  return r ? ParseIconGroup(r->data) : std::nullopt;
}

const Resource* ResourceFile::Icon(std::uint16_t id) const {
  return Find(ResourceId::Ordinal(kRtIcon), ResourceId::Ordinal(id));
}

const Resource* ResourceFile::Version() const {
  for (const Resource& r : entries_)
    if (r.type.ordinal == kRtVersion) return &r;
  return nullptr;
}

const ResourceFile& ProgramResources() {
  static const ResourceFile file = [] {
    if (!w9x_program_resources) return ResourceFile();
    std::size_t size = 0;
    const unsigned char* bytes = w9x_program_resources(&size);
    auto parsed = ResourceFile::Parse(std::span<const std::uint8_t>(bytes, size));
    return parsed ? std::move(*parsed) : ResourceFile();
  }();
  return file;
}

}  // namespace w9x
