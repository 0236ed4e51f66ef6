// The resource reader on a .res file compiled from sample.rc at build time by the same resource
// compiler the Windows builds use, and on malformed variants of it.
#include "user32/resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "machine/little_endian.h"
#include "machine/text.h"

namespace w9x {
namespace {

std::vector<std::uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Cp932(const char* utf8) { return *text::ToCp932(utf8); }

class SampleResources : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = ReadFile(W9X_SAMPLE_RES);
    ASSERT_FALSE(bytes_.empty());
    std::string error;
    auto parsed = ResourceFile::Parse(bytes_, &error);
    ASSERT_TRUE(parsed) << error;
    file_ = std::move(*parsed);
  }
  std::vector<std::uint8_t> bytes_;
  ResourceFile file_;
};

TEST_F(SampleResources, StringsComeFromTheirBlockAsCodePage932) {
  struct Case {
    std::uint32_t id;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {1, "first"},
      {15, "last of block 1"},   // last slot of block 1
      {16, "first of block 2"},  // first slot of block 2
      {201, "TALMORIX.EXE"},
      {301, Cp932("一行目\n二行目")},  // double-byte text, the escape turned into a line break
      {0, ""},                          // block 1 exists, slot 0 is empty
      {200, ""},                        // block 13 exists without this slot
      {5000, std::nullopt},             // no such block
      {0x10000, std::nullopt},          // beyond 16 bits
  };
  for (const Case& c : cases) EXPECT_EQ(file_.String(c.id), c.text) << c.id;
}

TEST_F(SampleResources, MenuKeepsItsTreeFlagsAndTexts) {
  // Resource names compare ignoring case.
  auto menu = file_.Menu(ResourceId::Name("sample"));
  ASSERT_TRUE(menu);
  EXPECT_FALSE(menu->extended);
  ASSERT_EQ(menu->items.size(), 2u);
  const MenuItem& file = menu->items[0];
  EXPECT_TRUE(file.IsPopup());
  EXPECT_EQ(file.text, "&File");
  ASSERT_EQ(file.items.size(), 4u);
  EXPECT_EQ(file.items[0].text, "&Open\tCtrl+O");
  EXPECT_EQ(file.items[0].id, 100u);
  EXPECT_EQ(file.items[0].flags, static_cast<std::uint32_t>(kMfChecked));
  EXPECT_TRUE(file.items[1].IsSeparator());
  const MenuItem& more = file.items[2];
  ASSERT_TRUE(more.IsPopup());
  ASSERT_EQ(more.items.size(), 1u);
  EXPECT_EQ(more.items[0].id, 101u);
  EXPECT_EQ(more.items[0].flags, static_cast<std::uint32_t>(kMfGrayed));
  EXPECT_EQ(file.items[3].text, "E&xit\tAlt+F4");
  EXPECT_EQ(file.items[3].id, 109u);
  EXPECT_FALSE(file.items[3].IsSeparator());
  EXPECT_EQ(menu->items[1].text, "&Help");
  EXPECT_EQ(menu->items[1].id, 110u);

  auto ex = file_.Menu(ResourceId::Name("Extended"));
  ASSERT_TRUE(ex);
  EXPECT_TRUE(ex->extended);
  ASSERT_EQ(ex->items.size(), 1u);
  EXPECT_TRUE(ex->items[0].IsPopup());
  EXPECT_EQ(ex->items[0].id, 200u);
  ASSERT_EQ(ex->items[0].items.size(), 1u);
  EXPECT_EQ(ex->items[0].items[0].text, "&Inner");
  EXPECT_EQ(ex->items[0].items[0].id, 201u);
}

TEST_F(SampleResources, AcceleratorTableEntries) {
  auto table = file_.Accelerators(ResourceId::Name("SAMPLE"));
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 3u);
  EXPECT_EQ((*table)[0].flags, kFVirtKey);
  EXPECT_EQ((*table)[0].key, 0x1B);  // Escape
  EXPECT_EQ((*table)[0].command, 108);
  EXPECT_EQ((*table)[1].flags, kFVirtKey | kFControl);
  EXPECT_EQ((*table)[1].key, 'S');
  EXPECT_EQ((*table)[1].command, 101);
  EXPECT_EQ((*table)[2].flags, kFVirtKey | kFAlt | kFShift);
  EXPECT_EQ((*table)[2].key, 0x73);  // F4
}

TEST_F(SampleResources, PlainDialogTemplate) {
  auto d = file_.Dialog(ResourceId::Ordinal(1000));
  ASSERT_TRUE(d);
  EXPECT_FALSE(d->extended);
  EXPECT_EQ(d->style & 0xFFFF0000u, 0x80C00000u);  // WS_POPUP | WS_CAPTION
  EXPECT_TRUE(d->style & 0x40);                      // DS_SETFONT
  EXPECT_EQ(std::tie(d->x, d->y, d->cx, d->cy), std::make_tuple(22, 17, 166, 62));
  EXPECT_FALSE(d->menu);
  EXPECT_FALSE(d->window_class);
  EXPECT_EQ(d->title, Cp932("Windows の終了"));
  EXPECT_EQ(d->font_size, 9);
  EXPECT_EQ(d->font_name, Cp932("ＭＳ Ｐゴシック"));

  struct Item {
    std::int32_t id;
    std::uint16_t atom;
    std::string text;
    std::int16_t x, y, cx, cy;
  };
  const Item expected[] = {
      {-1, kStaticClass, Cp932("Windows を終了します。"), 40, 9, 89, 8},  // id 0xFFFF reads as -1
      {-1, kStaticClass, Cp932("よろしいですか？"), 40, 23, 89, 8},
      {1100, kStaticClass, "", 8, 8, 18, 20},
      {1, kButtonClass, "OK", 18, 41, 60, 14},
      {2, kButtonClass, Cp932("キャンセル"), 88, 41, 60, 14},
  };
  ASSERT_EQ(d->items.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const DialogItem& got = d->items[i];
    const Item& want = expected[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.KnownClass(), want.atom);
    EXPECT_EQ(got.text.name, want.text);
    EXPECT_EQ(std::tie(got.x, got.y, got.cx, got.cy), std::tie(want.x, want.y, want.cx, want.cy));
  }
  EXPECT_EQ(d->items[2].window_class.name, "STATIC");  // a class by name: the same as its atom
  EXPECT_EQ(d->items[2].style & 0x1F, 3u);             // SS_ICON
  EXPECT_EQ(d->items[3].style & 0xF, 1u);  // BS_DEFPUSHBUTTON
  EXPECT_EQ(d->items[4].style & 0xF, 0u);  // BS_PUSHBUTTON
}

TEST_F(SampleResources, ExtendedDialogTemplate) {
  auto d = file_.Dialog(ResourceId::Name("withclass"));
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->extended);
  EXPECT_EQ(d->ex_style & 0x8u, 0x8u);  // WS_EX_TOPMOST
  ASSERT_TRUE(d->window_class);
  EXPECT_TRUE(d->window_class->Matches(ResourceId::Name("OWNCLASS")));
  EXPECT_EQ(d->title, "Extended");
  EXPECT_EQ(d->font_size, 10);
  EXPECT_EQ(d->font_weight, 700);
  EXPECT_TRUE(d->font_italic);
  EXPECT_EQ(d->font_charset, 128);
  EXPECT_EQ(d->font_name, "Font");
  ASSERT_EQ(d->items.size(), 2u);
  EXPECT_EQ(d->items[0].id, 70000);  // 32-bit ids in this form
  EXPECT_TRUE(d->items[0].window_class.Matches(ResourceId::Name("customcontrol")));
  EXPECT_EQ(d->items[0].text.name, "text");
  EXPECT_EQ(d->items[1].window_class.ordinal, kEditClass);
  EXPECT_EQ(d->items[0].KnownClass(), std::nullopt);  // a class of its own
  EXPECT_EQ(d->items[1].id, 5);
}

TEST_F(SampleResources, IconGroupNamesTheImagesOfTheIconFile) {
  const std::vector<std::uint8_t> ico = ReadFile(W9X_SAMPLE_ICO);
  ASSERT_GE(ico.size(), 6u);
  auto group = file_.IconGroupOf(ResourceId::Name("Sample"));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->type, 1);
  ASSERT_EQ(group->entries.size(), le::Word(ico, 4));
  for (std::size_t i = 0; i < group->entries.size(); ++i) {
    SCOPED_TRACE(i);
    const std::size_t dir = 6 + 16 * i;  // the icon file's own directory entry
    const IconGroupEntry& e = group->entries[i];
    EXPECT_EQ(e.width, ico[dir]);
    EXPECT_EQ(e.color_count, 16);
    EXPECT_EQ(e.bit_count, 4);
    ASSERT_EQ(e.bytes, le::Dword(ico, dir + 8));
    const Resource* image = file_.Icon(e.icon_id);
    ASSERT_NE(image, nullptr);
    const std::size_t offset = le::Dword(ico, dir + 12);
    ASSERT_LE(offset + e.bytes, ico.size());
    EXPECT_TRUE(std::equal(image->data.begin(), image->data.end(), ico.begin() + offset, ico.begin() + offset + e.bytes));
  }
}

TEST_F(SampleResources, VersionBlockIsRaw) {
  const Resource* v = file_.Version();
  ASSERT_NE(v, nullptr);
  ASSERT_GE(v->data.size(), 6u);
  EXPECT_EQ(le::Word(v->data, 0), v->data.size());  // the block's own length
  // The fixed part follows its key; find its signature and read the file version after it.
  const std::vector<std::uint8_t> signature = {0xBD, 0x04, 0xEF, 0xFE};
  auto at = std::search(v->data.begin(), v->data.end(), signature.begin(), signature.end());
  ASSERT_NE(at, v->data.end());
  const std::size_t fixed = static_cast<std::size_t>(at - v->data.begin());
  ASSERT_LE(fixed + 16, v->data.size());
  EXPECT_EQ(le::Dword(v->data, fixed + 8), 0x00010000u);   // 1.0
  EXPECT_EQ(le::Dword(v->data, fixed + 12), 0x00010004u);  // .1.4
}

TEST_F(SampleResources, NamesOrdinalsAndArguments) {
  struct Case {
    ResourceId name;
    bool found;
  };
  const Case cases[] = {
      {ResourceId::Name("nameddata"), true},    // case of the name does not matter
      {ResourceId::Name("NAMEDDAT"), false},    // a prefix is not the name
      {ResourceId::Ordinal(7), true},
      {ResourceId::Name("#7"), true},           // "#7" is the ordinal 7
      {ResourceId::Name("7"), false},           // "7" is a name
      {ResourceId::Name("#70000"), false},      // no ordinal beyond 16 bits: a name
      {ResourceId::FromArgument(reinterpret_cast<const char*>(7)), true},
      {ResourceId::FromArgument("NamedData"), true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(file_.Find(ResourceId::Ordinal(kRtRcData), c.name) != nullptr, c.found) << c.name.ToString();
  // The leading empty entry of the file is not a resource.
  for (const Resource& r : file_.Entries()) EXPECT_NE(r.type.ordinal, std::optional<std::uint16_t>(0));
  EXPECT_TRUE(file_.Find(ResourceId::Ordinal(kRtMenu), ResourceId::Name("Sample")));
  EXPECT_FALSE(file_.Find(ResourceId::Ordinal(kRtDialog), ResourceId::Name("Sample")));  // other type
}

// Every strict prefix of a well-formed typed resource is rejected, never read past its end.
TEST_F(SampleResources, TruncatedTypedResourcesAreRejected) {
  for (const Resource& r : file_.Entries()) {
    if (!r.type.ordinal) continue;
    for (std::size_t n = 0; n < r.data.size(); ++n) {
      const std::span<const std::uint8_t> cut(r.data.data(), n);
      SCOPED_TRACE(r.type.ToString() + " " + r.name.ToString() + " cut at " + std::to_string(n));
      switch (*r.type.ordinal) {
        case kRtMenu: {  // only the bare header reads, as a menu without items
          auto menu = ParseMenu(cut);
          EXPECT_TRUE(!menu || menu->items.empty());
          break;
        }
        case kRtDialog: EXPECT_FALSE(ParseDialog(cut)); break;
        case kRtString: EXPECT_FALSE(ParseStringBlock(cut)); break;
        case kRtAccelerator: EXPECT_FALSE(ParseAccelerators(cut)); break;
        case kRtGroupIcon: EXPECT_FALSE(ParseIconGroup(cut)); break;
        default: break;
      }
    }
  }
}

// A whole file cut anywhere gives an error or the entries that are complete, never a crash.
TEST_F(SampleResources, TruncatedFileKeepsOnlyWholeEntries) {
  std::size_t last = 0;
  for (std::size_t n = 0; n < bytes_.size(); ++n) {
    auto cut = ResourceFile::Parse(std::span<const std::uint8_t>(bytes_.data(), n));
    if (!cut) continue;
    EXPECT_GE(cut->Entries().size(), last);
    EXPECT_LT(cut->Entries().size(), file_.Entries().size() + 1);
    for (std::size_t i = 0; i < cut->Entries().size(); ++i) EXPECT_EQ(cut->Entries()[i].data, file_.Entries()[i].data);
    last = cut->Entries().size();
  }
}

std::vector<std::uint8_t> Entry(std::uint32_t data_size, std::uint32_t header_size, std::vector<std::uint8_t> names,
                                std::vector<std::uint8_t> data = {}) {
  std::vector<std::uint8_t> e(8);
  le::PutDword(e, 0, data_size);
  le::PutDword(e, 4, header_size);
  e.insert(e.end(), names.begin(), names.end());
  while (e.size() % 4) e.push_back(0);
  e.resize(e.size() + 16);
  e.insert(e.end(), data.begin(), data.end());
  return e;
}

const std::vector<std::uint8_t> kMenuOrdinal1 = {0xFF, 0xFF, 4, 0, 0xFF, 0xFF, 1, 0};

// This test program carries the sample resources as a program carries its own.
TEST_F(SampleResources, EmbeddedAsTheProgramResources) {
  const ResourceFile& program = ProgramResources();
  ASSERT_EQ(program.Entries().size(), file_.Entries().size());
  for (std::size_t i = 0; i < program.Entries().size(); ++i) EXPECT_EQ(program.Entries()[i].data, file_.Entries()[i].data);
  EXPECT_EQ(&program, &ProgramResources());  // read once
}

TEST(ResourceFileErrors, MalformedEntries) {
  struct Case {
    const char* why;
    std::vector<std::uint8_t> bytes;
    bool ok;
  };
  const Case cases[] = {
      {"empty file: no resources", {}, true},
      {"well-formed single entry", Entry(4, 32, kMenuOrdinal1, {0, 0, 0, 0}), true},
      {"shorter than the sizes", {4, 0, 0}, false},
      {"header size below the fixed fields", Entry(0, 12, kMenuOrdinal1), false},
      {"header size beyond the file", Entry(0, 4096, kMenuOrdinal1), false},
      {"data size beyond the file", Entry(100, 32, kMenuOrdinal1, {0, 0, 0, 0}), false},
      {"data size that wraps around", Entry(0xFFFFFFF0u, 32, kMenuOrdinal1), false},
      {"type name without its terminator inside the header",
       Entry(0, 28, {'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E', 0, 'F', 0, 'G', 0, 'H', 0}), false},
  };
  for (const Case& c : cases) {
    std::string error;
    auto file = ResourceFile::Parse(c.bytes, &error);
    EXPECT_EQ(file.has_value(), c.ok) << c.why;
    if (!c.ok) {
      EXPECT_NE(error.find("offset"), std::string::npos) << c.why;
    }
  }
}

TEST(ResourceFileErrors, MalformedTypedData) {
  using Bytes = std::vector<std::uint8_t>;
  // Each decoder on data that is structurally wrong, not merely cut short.
  EXPECT_FALSE(ParseMenu(Bytes{2, 0, 0, 0}));                            // unknown version
  EXPECT_FALSE(ParseMenu(Bytes{0, 0, 0, 0, 0, 0, 1, 0, 'a', 0, 0, 0}));  // items without an end mark
  EXPECT_FALSE(ParseMenu(Bytes{0, 0, 8, 0}));                            // header offset past the data
  EXPECT_FALSE(ParseMenu(Bytes{1, 0, 2, 0, 0, 0}));                      // extended header shorter than its help id
  Bytes deep = {0, 0, 0, 0};
  for (int i = 0; i < 100; ++i) deep.insert(deep.end(), {0x10, 0, 'p', 0, 0, 0});  // pop-ups nested 100 deep
  EXPECT_FALSE(ParseMenu(deep));
  EXPECT_FALSE(ParseAccelerators(Bytes{1, 0, 0x1B, 0, 108, 0, 0, 0}));  // no entry marked last
  EXPECT_FALSE(ParseIconGroup(Bytes{0, 0, 1, 0, 5, 0}));                 // five entries announced, none there
  EXPECT_FALSE(ParseIconGroup(Bytes{0, 0, 3, 0, 0, 0}));                 // neither icons nor cursors
  Bytes dialog(24, 0);
  dialog[8] = 0xFF;  // 255 items announced after a header without menu, class, title or font
  dialog[9] = 0;
  EXPECT_FALSE(ParseDialog(dialog));
  EXPECT_FALSE(ParseStringBlock(Bytes(30, 0)));  // 15 of the 16 lengths
  Bytes long_string = {0xFF, 0xFF, 'a', 0};        // a length of 65535 characters, one there
  EXPECT_FALSE(ParseStringBlock(long_string));
}

TEST(ResourceText, Utf16ToCodePage932) {
  EXPECT_EQ(Utf16ToCp932(u"abc"), "abc");
  EXPECT_EQ(Utf16ToCp932(u"表示"), Cp932("表示"));
  EXPECT_EQ(Utf16ToCp932(u"a\u00E9b"), "a?b");            // no code page 932 form
  EXPECT_EQ(Utf16ToCp932(std::u16string(1, u'\xD800') + u"x"), "?x");  // unpaired surrogate
}

}  // namespace
}  // namespace w9x
