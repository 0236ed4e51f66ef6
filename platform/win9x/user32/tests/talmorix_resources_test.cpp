// The resource reader on the shutdown program's compiled resource script: everything the
// program loads reads back as the program expects it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "machine/little_endian.h"
#include "machine/text.h"
#include "user32/resources.h"

#ifdef W9X_TALMORIX_RES

namespace w9x {
namespace {

std::string Cp932(const char* utf8) { return *text::ToCp932(utf8); }

class TalmorixResources : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(W9X_TALMORIX_RES, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string error;
    auto parsed = ResourceFile::Parse(bytes, &error);
    ASSERT_TRUE(parsed) << error;
    file_ = std::move(*parsed);
  }
  ResourceFile file_;
};

TEST_F(TalmorixResources, SetupMenuAndEscapeAccelerator) {
  auto menu = file_.Menu(ResourceId::Name("TALMORIX"));
  ASSERT_TRUE(menu);
  ASSERT_EQ(menu->items.size(), 1u);
  EXPECT_EQ(menu->items[0].text, "&Setup");
  ASSERT_TRUE(menu->items[0].IsPopup());
  struct Item {
    std::uint32_t id;
    const char* text;  // null: a separator
  };
  const Item expected[] = {{100, "&Default"},      {101, "&Save settings"},  {0, nullptr},
                           {102, "&Q:Query"},      {103, "&0:EWX_LOGOFF"},   {104, "&1:EWX_SHUTDOWN"},
                           {105, "&2:EWX_REBOOT"}, {106, "&4:EWX_FORCE"},    {107, "&8:EWX_POWEROFF"},
                           {0, nullptr},           {108, "&Hide\tESC"},      {109, "&Exit\tAlt+F4"}};
  const std::vector<MenuItem>& items = menu->items[0].items;
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].IsSeparator(), expected[i].text == nullptr);
    EXPECT_EQ(items[i].id, expected[i].id);
    if (expected[i].text) {
      EXPECT_EQ(items[i].text, expected[i].text);
    }
    EXPECT_EQ(items[i].flags & (kMfChecked | kMfGrayed), 0u);  // the marks are set at run time
  }

  auto table = file_.Accelerators(ResourceId::Name("TALMORIX"));
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), 1u);
  EXPECT_EQ((*table)[0].flags & (kFVirtKey | kFShift | kFControl | kFAlt), kFVirtKey);
  EXPECT_EQ((*table)[0].key, 0x1B);  // VK_ESCAPE
  EXPECT_EQ((*table)[0].command, 108);
}

TEST_F(TalmorixResources, StringTable) {
  EXPECT_EQ(file_.String(200), "TALMORIX");
  EXPECT_EQ(file_.String(201), "TALMORIX.EXE");
  EXPECT_EQ(file_.String(300), "TALMORIX.EXE Error");
  EXPECT_EQ(file_.String(303),
            Cp932("ソフトウェアパワーオフ機能は無効です。\n\nAPM BIOSの提供するファンクションを利用時、エラーが発生しました。"));
  for (std::uint32_t id : {301u, 302u}) {
    auto s = file_.String(id);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rfind(Cp932("ソフトウェアパワーオフ機能は無効です。\n\n"), 0), 0u) << id;
    EXPECT_EQ(std::count(s->begin(), s->end(), '\n'), 3) << id;
  }
}

TEST_F(TalmorixResources, QueryDialogs) {
  struct Control {
    std::int32_t id;
    std::uint16_t atom;
    const char* text;
    std::int16_t x, y, cx, cy;
  };
  struct Dialog {
    std::uint16_t id;
    std::int16_t cx, cy;
    std::vector<Control> controls;
  };
  const Dialog dialogs[] = {
      {1000, 166, 62,
       {{-1, kStaticClass, "Windows を終了します。", 40, 9, 89, 8},
        {-1, kStaticClass, "よろしいですか？", 40, 23, 89, 8},
        {1100, kStaticClass, "", 8, 8, 18, 20},
        {1, kButtonClass, "OK", 18, 41, 60, 14},
        {2, kButtonClass, "キャンセル", 88, 41, 60, 14}}},
      {1001, 346, 74,
       {{-1, kStaticClass, "Windows を終了します。", 37, 10, 301, 8},
        {-1, kStaticClass, "編集中のファイルが存在し、内容を保存したい場合は[いいえ]ボタンを押してください。", 37, 22, 301, 8},
        {-1, kStaticClass, "Windows を終了したくない場合は[キャンセル]ボタンを押してください。", 37, 34, 301, 8},
        {1100, kStaticClass, "", 7, 10, 18, 20},
        {1, kButtonClass, "はい", 75, 53, 60, 14},
        {7, kButtonClass, "いいえ", 143, 53, 60, 14},
        {2, kButtonClass, "キャンセル", 212, 53, 60, 14}}},
  };
  for (const Dialog& want : dialogs) {
    SCOPED_TRACE(want.id);
    auto d = file_.Dialog(ResourceId::Ordinal(want.id));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->title, Cp932("Windows の終了"));
    EXPECT_EQ(d->style & 0xFFFF00FFu, 0x80C00040u);  // WS_POPUP | WS_CAPTION | DS_SETFONT, no system menu
    EXPECT_EQ(d->font_size, 9);
    EXPECT_EQ(d->font_name, Cp932("ＭＳ Ｐゴシック"));
    EXPECT_EQ(std::tie(d->x, d->y, d->cx, d->cy), std::make_tuple(22, 17, want.cx, want.cy));
    ASSERT_EQ(d->items.size(), want.controls.size());
    for (std::size_t i = 0; i < d->items.size(); ++i) {
      SCOPED_TRACE(i);
      const DialogItem& got = d->items[i];
      const Control& c = want.controls[i];
      EXPECT_EQ(got.id, c.id);
      EXPECT_EQ(got.KnownClass(), c.atom);
      EXPECT_EQ(got.text.name, Cp932(c.text));
      EXPECT_EQ(std::tie(got.x, got.y, got.cx, got.cy), std::tie(c.x, c.y, c.cx, c.cy));
      EXPECT_TRUE(got.style & 0x10000000u);  // WS_VISIBLE
      if (c.atom == kButtonClass) {
        EXPECT_EQ(got.style & 0xF, i == (want.id == 1000 ? 3u : 4u) ? 1u : 0u);  // only the first is the default
        EXPECT_TRUE(got.style & 0x00010000u);                                    // WS_TABSTOP
      } else if (c.id == 1100) {
        EXPECT_EQ(got.style & 0x1F, 3u);  // SS_ICON
      } else {
        EXPECT_EQ(got.style & 0x1F, 0u);         // SS_LEFT
        EXPECT_TRUE(got.style & 0x00020000u);    // WS_GROUP
      }
    }
  }
}

TEST_F(TalmorixResources, IconGroupAndVersion) {
  auto group = file_.IconGroupOf(ResourceId::Name("TALMORIX"));
  ASSERT_TRUE(group);
  ASSERT_EQ(group->entries.size(), 2u);
  std::vector<int> sizes;
  for (const IconGroupEntry& e : group->entries) {
    sizes.push_back(e.width);
    EXPECT_EQ(e.width, e.height);
    EXPECT_EQ(e.color_count, 16);
    const Resource* image = file_.Icon(e.icon_id);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->data.size(), e.bytes);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32}));
  EXPECT_FALSE(file_.IconGroupOf(ResourceId::Name("SMALL")));

  const Resource* v = file_.Version();
  ASSERT_NE(v, nullptr);
  const std::vector<std::uint8_t> signature = {0xBD, 0x04, 0xEF, 0xFE};
  auto at = std::search(v->data.begin(), v->data.end(), signature.begin(), signature.end());
  ASSERT_NE(at, v->data.end());
  const std::size_t fixed = static_cast<std::size_t>(at - v->data.begin());
  ASSERT_LE(fixed + 52, v->data.size());
  EXPECT_EQ(le::Dword(v->data, fixed + 8), 0x00010000u);   // file version 1.0
  EXPECT_EQ(le::Dword(v->data, fixed + 12), 0x00010004u);  // .1.4
  EXPECT_EQ(le::Dword(v->data, fixed + 16), 0x00010000u);  // product version 1.0
  EXPECT_EQ(le::Dword(v->data, fixed + 20), 0x00010004u);  // .1.4
  EXPECT_EQ(le::Dword(v->data, fixed + 32), 4u);           // VOS__WINDOWS32
  EXPECT_EQ(le::Dword(v->data, fixed + 36), 1u);           // VFT_APP
  // The Japanese string table and its code page.
  const std::u16string key = u"041104B0";
  const auto* key_bytes = reinterpret_cast<const std::uint8_t*>(key.data());
  EXPECT_NE(std::search(v->data.begin(), v->data.end(), key_bytes, key_bytes + key.size() * 2), v->data.end());
}

}  // namespace
}  // namespace w9x

#endif
