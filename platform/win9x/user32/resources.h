// A program's resources: the compiled resource file (.res) that the resource compiler makes from
// the program's script, read into typed views for the loading functions of user32.
//
// The file is a sequence of entries; each has a header (data size, header size, type, name,
// language, flags) and its data, both padded to 4 bytes.  Type and name are either a 16-bit
// ordinal or a UTF-16 string; strings compare ignoring case, and "#123" names the ordinal 123.
// Texts of the typed views are code page 932 bytes, what the ANSI functions hand out.
//
// The bytes are untrusted: every size and offset is checked, and a malformed file or resource is
// rejected (nullopt) rather than read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace w9x {

// Resource type ordinals.
enum ResourceType : std::uint16_t {
  kRtCursor = 1,
  kRtBitmap = 2,
  kRtIcon = 3,
  kRtMenu = 4,
  kRtDialog = 5,
  kRtString = 6,
  kRtAccelerator = 9,
  kRtRcData = 10,
  kRtGroupCursor = 12,
  kRtGroupIcon = 14,
  kRtVersion = 16,
};

// A type or a name: an ordinal, or a string (code page 932).
struct ResourceId {
  std::optional<std::uint16_t> ordinal;
  std::string name;

  static ResourceId Ordinal(std::uint16_t n) { return {n, {}}; }
  static ResourceId Name(std::string_view cp932);
  // What a program passes as a resource name: a pointer value below 0x10000 is an ordinal
  // (MAKEINTRESOURCE), otherwise a zero-terminated string, where "#123" means the ordinal 123.
  static ResourceId FromArgument(const char* arg);

  bool Matches(const ResourceId& other) const;
  std::string ToString() const;  // "#123" or the name, for messages and the journal
};

struct Resource {
  ResourceId type;
  ResourceId name;
  std::uint16_t language = 0;
  std::uint16_t memory_flags = 0;
  std::vector<std::uint8_t> data;
};

// Menu templates (the plain and the extended form).
enum MenuFlag : std::uint32_t {
  kMfGrayed = 0x01,
  kMfDisabled = 0x02,
  kMfChecked = 0x08,
  kMfPopup = 0x10,
  kMfMenuBarBreak = 0x20,
  kMfMenuBreak = 0x40,
  kMfEnd = 0x80,
  kMfSeparator = 0x800,
  kMfHelp = 0x4000,
};

struct MenuItem {
  std::uint32_t flags = 0;  // kMf* bits as stored, kMfEnd removed; kMfSeparator added for separators
  std::uint32_t id = 0;     // command id (0 for pop-ups and separators)
  std::string text;         // "&Save settings", "&Hide\tESC" ...
  std::vector<MenuItem> items;  // the pop-up's items

  bool IsPopup() const { return (flags & kMfPopup) != 0; }
  bool IsSeparator() const { return (flags & kMfSeparator) != 0; }
};

struct MenuTemplate {
  bool extended = false;
  std::vector<MenuItem> items;  // the menu bar's items
};

// Accelerator tables.
enum AcceleratorFlag : std::uint16_t {
  kFVirtKey = 0x01,
  kFNoInvert = 0x02,
  kFShift = 0x04,
  kFControl = 0x08,
  kFAlt = 0x10,
};

struct Accelerator {
  std::uint16_t flags = 0;  // kF* bits, the end mark removed
  std::uint16_t key = 0;    // virtual key (kFVirtKey) or character code
  std::uint16_t command = 0;
};

// Dialog templates (the plain and the extended form).
enum DialogClassAtom : std::uint16_t {
  kButtonClass = 0x80,
  kEditClass = 0x81,
  kStaticClass = 0x82,
  kListBoxClass = 0x83,
  kScrollBarClass = 0x84,
  kComboBoxClass = 0x85,
};

struct DialogItem {
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::int32_t id = 0;  // the plain form holds 16 bits: 0xFFFF reads as -1
  ResourceId window_class;  // ordinal: one of DialogClassAtom
  ResourceId text;          // ordinal: e.g. the icon of a static icon control
  std::uint32_t help_id = 0;
  std::vector<std::uint8_t> creation_data;

  // The class as one of DialogClassAtom, whether stored as the atom or by its name ("Button",
  // "Static" ...); nullopt for any other class.
  std::optional<std::uint16_t> KnownClass() const;
};

struct DialogTemplate {
  bool extended = false;
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::optional<ResourceId> menu;
  std::optional<ResourceId> window_class;
  std::string title;
  // Present when the style holds DS_SETFONT.
  std::uint16_t font_size = 0;
  std::uint16_t font_weight = 0;
  bool font_italic = false;
  std::uint8_t font_charset = 0;
  std::string font_name;
  std::uint32_t help_id = 0;
  std::vector<DialogItem> items;
};

// Icon groups: one entry per image, each naming an icon resource by ordinal.
struct IconGroupEntry {
  std::uint8_t width = 0, height = 0;  // 0 means 256
  std::uint8_t color_count = 0;
  std::uint16_t planes = 0, bit_count = 0;
  std::uint32_t bytes = 0;
  std::uint16_t icon_id = 0;
};

struct IconGroup {
  std::uint16_t type = 0;  // 1 icons, 2 cursors
  std::vector<IconGroupEntry> entries;
};

// Decoders of the single resource kinds; nullopt for malformed data.
std::optional<MenuTemplate> ParseMenu(std::span<const std::uint8_t> data);
std::optional<std::vector<Accelerator>> ParseAccelerators(std::span<const std::uint8_t> data);
std::optional<DialogTemplate> ParseDialog(std::span<const std::uint8_t> data);
std::optional<IconGroup> ParseIconGroup(std::span<const std::uint8_t> data);
// The 16 strings of one string table block (empty strings for absent ids).
std::optional<std::vector<std::string>> ParseStringBlock(std::span<const std::uint8_t> data);

// UTF-16 text as code page 932 bytes; characters without a code page 932 form become '?'.
std::string Utf16ToCp932(std::u16string_view text);

class ResourceFile {
 public:
  ResourceFile() = default;  // no resources
  // Reads a whole .res file; nullopt (and a reason in *error) when it is malformed.
  static std::optional<ResourceFile> Parse(std::span<const std::uint8_t> bytes, std::string* error = nullptr);

  const std::vector<Resource>& Entries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }

  // The first resource of this type and name (any language); null when absent.
  const Resource* Find(const ResourceId& type, const ResourceId& name) const;

  // String `id` of the string tables: nullopt when its block is missing or malformed, an empty
  // string when the block lacks it.
  std::optional<std::string> String(std::uint32_t id) const;
  std::optional<MenuTemplate> Menu(const ResourceId& name) const;
  std::optional<std::vector<Accelerator>> Accelerators(const ResourceId& name) const;
  std::optional<DialogTemplate> Dialog(const ResourceId& name) const;
  std::optional<IconGroup> IconGroupOf(const ResourceId& name) const;
  // The image of icon `id` (an entry of an icon group); null when absent.
  const Resource* Icon(std::uint16_t id) const;
  // The raw version block; null when absent.
  const Resource* Version() const;

 private:
  std::vector<Resource> entries_;
};

// The resources of the running program: the .res embedded in its host build, or none.  Read once.
const ResourceFile& ProgramResources();

}  // namespace w9x

// Defined by the generated source of a program that has a resource script: the bytes of its
// compiled .res.  Declared weak, so a program without resources links and has none.
extern "C" const unsigned char* w9x_program_resources(std::size_t* size) __attribute__((weak));
