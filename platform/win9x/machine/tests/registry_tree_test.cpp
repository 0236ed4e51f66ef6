#include "machine/registry_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace w9x {
namespace {

// Code page 932 spellings used below.
const std::string kHyouji = "\x95\x5C\x8E\xA6";  // 表示: the trail byte of 表 is a backslash
const std::string kNamae = "\x96\xBC\x91\x4F";   // 名前
const std::string kTsu = "\x83\x63";             // ツ: trail byte 'c'
const std::string kI = "\x83\x43";               // イ: trail byte 'C'

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::unique_ptr<RegistryTree> ParseOk(std::string_view text) {
  RegistryParseResult result = RegistryTree::Parse(text);
  EXPECT_TRUE(result.tree) << result.error.Message();
  return std::move(result.tree);
}

std::vector<std::string> SubKeyNames(const RegistryKey& key) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < key.SubKeyCount(); ++i) names.push_back(key.SubKeyAt(i)->Name());
  return names;
}

std::vector<std::string> ValueNames(const RegistryKey& key) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < key.ValueCount(); ++i) names.push_back(key.ValueAt(i)->name);
  return names;
}

// --- Value forms: what a value set by a program looks like in the file, and that the file
// gives the same value back.

struct ValueForm {
  const char* what;
  RegistryValue value;
  std::string line;  // UTF-8, without the final LF
};

void PrintTo(const ValueForm& form, std::ostream* os) { *os << form.what; }

class ValueFormTest : public testing::TestWithParam<ValueForm> {};

TEST_P(ValueFormTest, RoundTrips) {
  const ValueForm& form = GetParam();
  RegistryTree tree;
  std::shared_ptr<RegistryKey> key = tree.Create("HKEY_LOCAL_MACHINE\\T").key;
  ASSERT_TRUE(key);
  ASSERT_EQ(key->SetValue(form.value.name, form.value.type, form.value.data), RegStatus::kOk);

  const std::string text = tree.Serialize();
  EXPECT_EQ(text, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\T]\n" + form.line + "\n\n");

  std::unique_ptr<RegistryTree> back = ParseOk(text);
  ASSERT_TRUE(back);
  std::shared_ptr<RegistryKey> back_key = back->Open("HKEY_LOCAL_MACHINE\\T").key;
  ASSERT_TRUE(back_key);
  ASSERT_EQ(back_key->ValueCount(), 1u);
  EXPECT_EQ(*back_key->ValueAt(0), form.value);
  EXPECT_EQ(back->Serialize(), text);
}

std::vector<std::uint8_t> Range(int n) {
  std::vector<std::uint8_t> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<std::uint8_t>(i));
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Registry, ValueFormTest,
    testing::Values(
        ValueForm{"string", {"Name", 1, Bytes(std::string("text\0", 5))}, "\"Name\"=\"text\""},
        ValueForm{"default value", {"", 1, Bytes(std::string("x\0", 2))}, "@=\"x\""},
        ValueForm{"escapes in name and data",
                  {"a\\b\"c", 1, Bytes(std::string("C:\\WIN\\\"q\"\0", 11))},
                  "\"a\\\\b\\\"c\"=\"C:\\\\WIN\\\\\\\"q\\\"\""},
        ValueForm{"code page 932 text, 0x5C trail bytes are not escaped",
                  {kNamae, 1, Bytes(kHyouji + "\\" + std::string(1, '\0'))},
                  "\"名前\"=\"表示\\\\\""},
        ValueForm{"empty string", {"e", 1, {0}}, "\"e\"=\"\""},
        ValueForm{"dword", {"d", 4, {0x1F, 0, 0, 0}}, "\"d\"=dword:0000001f"},
        ValueForm{"dword, all bytes", {"d", 4, {0x78, 0x56, 0x34, 0x12}}, "\"d\"=dword:12345678"},
        ValueForm{"binary", {"b", 3, {0x01, 0x02, 0xFF}}, "\"b\"=hex:01,02,ff"},
        ValueForm{"empty binary", {"b", 3, {}}, "\"b\"=hex:"},
        ValueForm{"multi string", {"m", 7, Bytes(std::string("a\0b\0\0", 5))}, "\"m\"=hex(7):61,00,62,00,00"},
        ValueForm{"type 0", {"n", 0, {}}, "\"n\"=hex(0):"},
        ValueForm{"large type number", {"n", 0x80000001u, {0xAB}}, "\"n\"=hex(80000001):ab"},
        ValueForm{"expand string is never quoted", {"x", 2, Bytes(std::string("%a%\0", 4))},
                  "\"x\"=hex(2):25,61,25,00"},
        ValueForm{"string without NUL", {"s", 1, Bytes("abc")}, "\"s\"=hex(1):61,62,63"},
        ValueForm{"string with inner NUL", {"s", 1, Bytes(std::string("a\0b\0", 4))}, "\"s\"=hex(1):61,00,62,00"},
        ValueForm{"string with two final NULs", {"s", 1, Bytes(std::string("a\0\0", 3))}, "\"s\"=hex(1):61,00,00"},
        ValueForm{"string with no data", {"s", 1, {}}, "\"s\"=hex(1):"},
        ValueForm{"string with a line break", {"s", 1, Bytes(std::string("a\r\nb\0", 5))},
                  "\"s\"=hex(1):61,0d,0a,62,00"},
        ValueForm{"string that is not code page 932", {"s", 1, {0x81, 0x20, 0x00}}, "\"s\"=hex(1):81,20,00"},
        ValueForm{"string whose character comes back as other bytes (a duplicate code)", {"s", 1, {0xED, 0x40, 0x00}},
                  "\"s\"=hex(1):ed,40,00"},
        ValueForm{"dword of three bytes", {"d", 4, {1, 2, 3}}, "\"d\"=hex(4):01,02,03"},
        ValueForm{"long binary continues on indented lines", {"Long", 3, Range(49)},
                  "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
                  "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
                  "  2f,30"},
        ValueForm{"long name, the first line still holds a byte",
                  {std::string(80, 'N'), 3, {1, 2}},
                  "\"" + std::string(80, 'N') + "\"=hex:01,\\\n  02"}),
    [](const testing::TestParamInfo<ValueForm>& info) { return "Form" + std::to_string(info.index); });

// --- Parsing forms the writer does not produce.

TEST(RegistryParse, AcceptsOtherSpellingsOfTheSameData) {
  std::unique_ptr<RegistryTree> tree = ParseOk(
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "; a comment\r\n"
      "\r\n"
      "[hkey_local_machine\\Soft]  \r\n"
      "\"d\"=dword:1f\r\n"
      "\"h\"=hex:0A, ff ,1\r\n"
      "\"c\"=hex(3):01,\\\r\n"
      "\t  02\r\n"
      "\r\n"
      "\"s\"=hex(1):61,00\r\n"
      "\"t\"=\"x\"   \r\n"
      "   \r\n"
      "[HKEY_CLASSES_ROOT\\.txt]\n"
      "@=\"txtfile\"\n");
  ASSERT_TRUE(tree);
  std::shared_ptr<RegistryKey> key = tree->Open("HKLM\\SOFT").key;
  ASSERT_TRUE(key);
  EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"d", "h", "c", "s", "t"}));
  EXPECT_EQ(*key->FindValue("d"), (RegistryValue{"d", 4, {0x1F, 0, 0, 0}}));
  EXPECT_EQ(*key->FindValue("h"), (RegistryValue{"h", 3, {0x0A, 0xFF, 0x01}}));
  EXPECT_EQ(*key->FindValue("c"), (RegistryValue{"c", 3, {0x01, 0x02}}));  // any blank indent
  EXPECT_EQ(*key->FindValue("s"), (RegistryValue{"s", 1, {'a', 0}}));
  EXPECT_EQ(*key->FindValue("t"), (RegistryValue{"t", 1, {'x', 0}}));

  std::shared_ptr<RegistryKey> txt = tree->Open("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt").key;
  ASSERT_TRUE(txt);
  EXPECT_EQ(txt, tree->Root(RootKey::kClassesRoot)->Open(".TXT").key);

  // Written back in the one canonical form.
  EXPECT_EQ(tree->Serialize(),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE]\n\n"
            "[HKEY_LOCAL_MACHINE\\Soft]\n"
            "\"d\"=dword:0000001f\n"
            "\"h\"=hex:0a,ff,01\n"
            "\"c\"=hex:01,02\n"
            "\"s\"=\"a\"\n"
            "\"t\"=\"x\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\n"
            "@=\"txtfile\"\n\n");
}

TEST(RegistryParse, RepeatedSectionsAndValuesMerge) {
  std::unique_ptr<RegistryTree> tree = ParseOk(
      "REGEDIT4\n\n"
      "[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n\n"
      "[HKEY_CURRENT_USER\\B]\n\n"
      "[HKEY_CURRENT_USER\\a]\n\"X\"=\"3\"\n");
  ASSERT_TRUE(tree);
  std::shared_ptr<RegistryKey> a = tree->Open("HKEY_CURRENT_USER\\A").key;
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Name(), "A");
  EXPECT_EQ(ValueNames(*a), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(a->FindValue("x")->data, Bytes(std::string("3\0", 2)));
  EXPECT_EQ(SubKeyNames(*tree->Root(RootKey::kCurrentUser)), (std::vector<std::string>{"A", "B"}));
}

TEST(RegistryParse, KeepsFileOrderAndRoundTripsAWholeFile) {
  const std::string text =
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE]\n\n"
      "[HKEY_LOCAL_MACHINE\\Zeta]\n\n"
      "[HKEY_LOCAL_MACHINE\\Zeta\\" + std::string("表示") + "]\n"
      "\"" + std::string("名前") + "\"=\"値\"\n\n"
      "[HKEY_LOCAL_MACHINE\\Alpha]\n"
      "@=hex(1):00,00\n"
      "\"n\"=dword:00000000\n\n"
      "[HKEY_CURRENT_USER]\n"
      "\"root value\"=\"r\"\n\n"
      "[HKEY_CURRENT_USER\\Empty]\n\n";
  std::unique_ptr<RegistryTree> tree = ParseOk(text);
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->Serialize(), text);
  EXPECT_EQ(SubKeyNames(*tree->Root(RootKey::kLocalMachine)), (std::vector<std::string>{"Zeta", "Alpha"}));
  std::shared_ptr<RegistryKey> hyouji = tree->Open("HKLM\\zeta\\" + kHyouji).key;
  ASSERT_TRUE(hyouji);
  EXPECT_EQ(hyouji->Name(), kHyouji);
  EXPECT_EQ(hyouji->FindValue(kNamae)->data, Bytes("\x92\x6C" + std::string(1, '\0')));
}

// --- Errors: the first malformed line, by number, and no tree.

struct BadText {
  std::string text;
  std::size_t line;
  std::string reason;
};

void PrintTo(const BadText& bad, std::ostream* os) { *os << testing::PrintToString(bad.text); }

class RegistryParseErrorTest : public testing::TestWithParam<BadText> {};

TEST_P(RegistryParseErrorTest, NamesTheLine) {
  const BadText& bad = GetParam();
  RegistryParseResult result = RegistryTree::Parse(bad.text);
  EXPECT_FALSE(result.tree);
  EXPECT_EQ(result.error.line, bad.line) << result.error.Message();
  EXPECT_EQ(result.error.reason, bad.reason);
  EXPECT_EQ(result.error.Message(), "line " + std::to_string(bad.line) + ": " + bad.reason);
}

const std::string kHead = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n";  // a value line after this is line 4

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryParseErrorTest,
    testing::Values(
        BadText{"", 1, "header \"REGEDIT4\" missing"},
        BadText{"\n", 1, "header \"REGEDIT4\" missing"},
        BadText{"Windows Registry Editor Version 5.00\n\n", 1, "header \"REGEDIT4\" missing"},
        BadText{"REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", 3, "unknown root key"},
        BadText{"REGEDIT4\n\n[]\n", 3, "unknown root key"},
        BadText{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\n", 3, "unterminated section name"},
        BadText{"REGEDIT4\n\n[\n", 3, "unterminated section name"},
        BadText{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3, "bad key name"},
        BadText{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\]\n", 3, "bad key name"},
        BadText{"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3, "bad key name"},
        BadText{"REGEDIT4\n\"a\"=\"b\"\n", 2, "value line outside a key section"},
        BadText{kHead + "junk\n", 4, "bad value line"},
        BadText{kHead + "  \"a\"=\"b\"\n", 4, "bad value line"},
        BadText{kHead + "\"a\"\n", 4, "bad value line: '=' expected"},
        BadText{kHead + "\"a\" = \"b\"\n", 4, "bad value line: '=' expected"},
        BadText{kHead + "\"a\"=\"b\n", 4, "bad value line: missing closing quote"},
        BadText{kHead + "\"a=\"b\"\n", 4, "bad value line: '=' expected"},
        BadText{kHead + "\"a\"=\"b\"c\n", 4, "bad value line: text after the closing quote"},
        BadText{kHead + "\"a\"=str:x\n", 4, "bad value line: unknown data form"},
        BadText{kHead + "\"a\"=-\n", 4, "bad value line: unknown data form"},
        BadText{kHead + "\"a\"=\"C:\\WINDOWS\"\n", 4, "bad escape"},
        BadText{kHead + "\"a\\n\"=\"b\"\n", 4, "bad escape"},
        BadText{kHead + "\"a\"=\"b\\\n", 4, "bad escape"},
        BadText{kHead + "\"a\"=\"\xF0\x9F\x98\x80\"\n", 4, "string has no code page 932 form"},
        BadText{kHead + "\"a\"=\"\xFF\"\n", 4, "string has no code page 932 form"},
        BadText{kHead + "\"a\"=dword:\n", 4, "bad dword"},
        BadText{kHead + "\"a\"=dword:123456789\n", 4, "bad dword"},
        BadText{kHead + "\"a\"=dword:0000001g\n", 4, "bad dword"},
        BadText{kHead + "\"a\"=dword:-1\n", 4, "bad dword"},
        BadText{kHead + "\"a\"=hex:0g\n", 4, "bad hex"},
        BadText{kHead + "\"a\"=hex:001\n", 4, "bad hex"},
        BadText{kHead + "\"a\"=hex:01,,02\n", 4, "bad hex"},
        BadText{kHead + "\"a\"=hex:01,\n", 4, "bad hex"},
        BadText{kHead + "\"a\"=hex:01,\\\n  02,\\\n  0x\n", 6, "bad hex"},
        BadText{kHead + "\"a\"=hex:01,\\\n  zz,02\n\"b\"=\"c\"\n", 5, "bad hex"},
        BadText{kHead + "\"a\"=hex:01,\\", 4, "bad hex: continuation line missing"},
        BadText{kHead + "\"a\"=hex(zz):00\n", 4, "bad hex value type"},
        BadText{kHead + "\"a\"=hex(:00\n", 4, "bad hex value type"},
        BadText{kHead + "\"a\"=hex(123456789):00\n", 4, "bad hex value type"},
        BadText{kHead + "\"a\\\"b\"=\"ok\"\r\n\"x\"=dword:1\r\n; note\r\n\r\nbad\r\n", 8, "bad value line"}),
    [](const testing::TestParamInfo<BadText>& info) { return "Text" + std::to_string(info.index); });

// --- Keys.

TEST(RegistryKeys, LookupsIgnoreAsciiCaseAndKeepTheSpelling) {
  RegistryTree tree;
  KeyResult made = tree.Create("HKEY_LOCAL_MACHINE\\Software\\MyApp");
  ASSERT_EQ(made.status, RegStatus::kOk);
  EXPECT_TRUE(made.created);

  KeyResult again = tree.Create("hklm\\SOFTWARE\\myapp");
  EXPECT_EQ(again.key, made.key);
  EXPECT_FALSE(again.created);
  EXPECT_EQ(again.key->Path(), "HKEY_LOCAL_MACHINE\\Software\\MyApp");

  std::shared_ptr<RegistryKey> software = tree.Root(RootKey::kLocalMachine)->Open("software").key;
  ASSERT_TRUE(software);
  EXPECT_EQ(software->Open("MYAPP").key, made.key);
  EXPECT_EQ(software->Open("MyApp\\Missing").status, RegStatus::kNotFound);
  EXPECT_EQ(software->Open("").key, software);

  // Double-byte characters are not folded: ツ (83 63) and イ (83 43) differ only in a trail byte
  // that looks like 'c' / 'C'.
  ASSERT_EQ(software->Create(kTsu).status, RegStatus::kOk);
  EXPECT_EQ(software->Open(kI).status, RegStatus::kNotFound);
  EXPECT_TRUE(software->Create(kI).created);

  // The second byte of 表 is 0x5C and does not split the path.
  KeyResult deep = software->Create(kHyouji + "\\" + kHyouji);
  ASSERT_EQ(deep.status, RegStatus::kOk);
  EXPECT_EQ(deep.key->Name(), kHyouji);
  EXPECT_EQ(deep.key->Depth(), 3u);
  EXPECT_EQ(SubKeyNames(*software), (std::vector<std::string>{"MyApp", kTsu, kI, kHyouji}));
}

TEST(RegistryKeys, RejectsNamesTheFileCouldNotHold) {
  RegistryTree tree;
  std::shared_ptr<RegistryKey> root = tree.Root(RootKey::kCurrentUser);
  EXPECT_EQ(root->Create("A\\\\B").status, RegStatus::kInvalidName);
  EXPECT_EQ(root->Create("\\A").status, RegStatus::kInvalidName);
  EXPECT_EQ(root->Create("A\\").status, RegStatus::kInvalidName);
  EXPECT_EQ(root->Create("A\nB").status, RegStatus::kInvalidName);
  EXPECT_EQ(root->Create("\x81\x20").status, RegStatus::kInvalidName);  // not code page 932
  EXPECT_EQ(root->Create("\xED\x40").status, RegStatus::kInvalidName);  // reads back as FA 5C
  EXPECT_EQ(root->Create(std::string(256, 'k')).status, RegStatus::kInvalidName);
  EXPECT_EQ(root->Create(std::string(255, 'k')).status, RegStatus::kOk);
  EXPECT_EQ(root->Open("A\\\\B").status, RegStatus::kInvalidName);
  EXPECT_EQ(tree.Create("HKEY_NOWHERE\\A").status, RegStatus::kNotFound);

  EXPECT_EQ(root->SetString("a\nb", "x"), RegStatus::kInvalidName);
  EXPECT_EQ(root->SetString(std::string("a\0b", 3), "x"), RegStatus::kInvalidName);
  EXPECT_EQ(root->SetString("\xFF", "x"), RegStatus::kInvalidName);
  EXPECT_EQ(root->ValueCount(), 0u);

  // A failed Create leaves nothing half made.
  EXPECT_EQ(SubKeyNames(*root), (std::vector<std::string>{std::string(255, 'k')}));
}

TEST(RegistryKeys, NestingStopsAtTheDepthLimit) {
  RegistryTree tree;
  std::string path = "K";
  for (std::size_t i = 1; i < kMaxKeyDepth; ++i) path += "\\K";
  std::shared_ptr<RegistryKey> root = tree.Root(RootKey::kUsers);
  KeyResult deepest = root->Create(path);
  ASSERT_EQ(deepest.status, RegStatus::kOk);
  EXPECT_EQ(deepest.key->Depth(), kMaxKeyDepth);
  EXPECT_EQ(deepest.key->Create("K").status, RegStatus::kTooDeep);
  EXPECT_EQ(root->Create(path).key, deepest.key);  // opening an existing deep key still works

  // The whole tree still writes and reads back.
  std::unique_ptr<RegistryTree> back = ParseOk(tree.Serialize());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Open("HKEY_USERS\\" + path).status, RegStatus::kOk);
  RegistryParseResult too_deep = RegistryTree::Parse("REGEDIT4\n\n[HKEY_USERS\\" + path + "\\K]\n");
  EXPECT_FALSE(too_deep.tree);
  EXPECT_EQ(too_deep.error.Message(), "line 3: key path too deep");
}

TEST(RegistryKeys, DeletedSubtreeStaysValidForHolders) {
  RegistryTree tree;
  std::shared_ptr<RegistryKey> software = tree.Create("HKEY_LOCAL_MACHINE\\Software").key;
  std::shared_ptr<RegistryKey> app = software->Create("App").key;
  std::shared_ptr<RegistryKey> leaf = app->Create("Sub\\Leaf").key;
  ASSERT_EQ(leaf->SetDword("n", 7), RegStatus::kOk);
  software->Create("Other");

  ASSERT_EQ(software->DeleteSubKey("APP"), RegStatus::kOk);

  for (const auto& held : {app, leaf}) {
    EXPECT_TRUE(held->IsDeleted());
    EXPECT_FALSE(held->Parent());
    EXPECT_EQ(held->SubKeyCount(), 0u);
    EXPECT_EQ(held->ValueCount(), 0u);
    EXPECT_EQ(held->FindValue("n"), nullptr);
    EXPECT_EQ(held->SetString("v", "x"), RegStatus::kKeyDeleted);
    EXPECT_EQ(held->DeleteValue("n"), RegStatus::kKeyDeleted);
    EXPECT_EQ(held->Create("New").status, RegStatus::kKeyDeleted);
    EXPECT_EQ(held->Open("").status, RegStatus::kKeyDeleted);
    EXPECT_EQ(held->DeleteSubKey("Sub"), RegStatus::kKeyDeleted);
    EXPECT_EQ(SerializeRegistryKey(*held), "REGEDIT4\n\n");
  }
  EXPECT_EQ(leaf->Name(), "Leaf");
  EXPECT_EQ(software->Open("App").status, RegStatus::kNotFound);
  EXPECT_EQ(tree.Open("HKLM\\Software\\App\\Sub\\Leaf").status, RegStatus::kNotFound);
  EXPECT_EQ(SubKeyNames(*software), (std::vector<std::string>{"Other"}));
  EXPECT_EQ(tree.Serialize(),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\n");

  // A key made again under the old name is a new, empty key.
  KeyResult again = software->Create("App");
  EXPECT_TRUE(again.created);
  EXPECT_NE(again.key, app);
  EXPECT_EQ(again.key->SubKeyCount(), 0u);
}

TEST(RegistryKeys, DeleteSubKeyAnswers) {
  RegistryTree tree;
  std::shared_ptr<RegistryKey> root = tree.Root(RootKey::kCurrentUser);
  root->Create("A\\B\\C");
  EXPECT_EQ(root->DeleteSubKey(""), RegStatus::kInvalidName);
  EXPECT_EQ(root->DeleteSubKey("A\\X"), RegStatus::kNotFound);
  EXPECT_EQ(root->DeleteSubKey("a\\b"), RegStatus::kOk);  // only B goes, A stays
  EXPECT_EQ(root->Open("A").status, RegStatus::kOk);
  EXPECT_EQ(root->Open("A\\B").status, RegStatus::kNotFound);
  EXPECT_EQ(root->DeleteSubKey("A\\B"), RegStatus::kNotFound);
}

TEST(RegistryKeys, EnumerationOrderFollowsCreationAcrossDeletes) {
  RegistryTree tree;
  std::shared_ptr<RegistryKey> key = tree.Create("HKEY_LOCAL_MACHINE\\E").key;
  for (const char* name : {"k1", "k2", "k3", "k4", "k5"}) key->Create(name);
  ASSERT_EQ(key->DeleteSubKey("k2"), RegStatus::kOk);
  ASSERT_EQ(key->DeleteSubKey("K4"), RegStatus::kOk);
  key->Create("k6");
  key->Create("K2");
  EXPECT_EQ(SubKeyNames(*key), (std::vector<std::string>{"k1", "k3", "k5", "k6", "K2"}));
  EXPECT_EQ(key->SubKeyAt(5), nullptr);

  for (const char* name : {"v1", "v2", "v3"}) key->SetString(name, name);
  ASSERT_EQ(key->DeleteValue("V2"), RegStatus::kOk);
  EXPECT_EQ(key->DeleteValue("v2"), RegStatus::kNotFound);
  key->SetString("v4", "");
  key->SetDword("V1", 1);  // replaces v1 in place, keeping its spelling
  EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"v1", "v3", "v4"}));
  EXPECT_EQ(*key->FindValue("v1"), (RegistryValue{"v1", 4, {1, 0, 0, 0}}));
  EXPECT_EQ(key->ValueAt(3), nullptr);

  // The order survives the file.
  std::unique_ptr<RegistryTree> back = ParseOk(tree.Serialize());
  ASSERT_TRUE(back);
  std::shared_ptr<RegistryKey> back_key = back->Open("HKEY_LOCAL_MACHINE\\E").key;
  EXPECT_EQ(SubKeyNames(*back_key), SubKeyNames(*key));
  EXPECT_EQ(ValueNames(*back_key), ValueNames(*key));
}

// Keys with few and with many subkeys and values (a key with many is looked up another way):
// every name is found in any ASCII case, double-byte names stay unfolded, and deletes in the
// middle leave the others findable in their order.
TEST(RegistryKeys, LookupsHoldForFewAndManyNames) {
  for (int count : {3, 16, 17, 40}) {
    SCOPED_TRACE(count);
    RegistryTree tree;
    std::shared_ptr<RegistryKey> key = tree.Create("HKEY_LOCAL_MACHINE\\M").key;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("Name" + std::to_string(i));
    names.push_back(kTsu);
    for (const std::string& name : names) {
      ASSERT_TRUE(key->Create(name).created);
      ASSERT_EQ(key->SetString(name, name), RegStatus::kOk);
    }
    EXPECT_EQ(key->Open(kI).status, RegStatus::kNotFound);
    EXPECT_EQ(key->FindValue(kI), nullptr);
    EXPECT_TRUE(key->Create(kI).created);
    ASSERT_EQ(key->SetString(kI, "i"), RegStatus::kOk);
    names.push_back(kI);
    ASSERT_EQ(key->DeleteSubKey("NAME1"), RegStatus::kOk);
    ASSERT_EQ(key->DeleteValue("name1"), RegStatus::kOk);
    names.erase(names.begin() + 1);
    EXPECT_EQ(key->Open("Name1").status, RegStatus::kNotFound);
    EXPECT_EQ(key->FindValue("Name1"), nullptr);
    EXPECT_EQ(SubKeyNames(*key), names);
    EXPECT_EQ(ValueNames(*key), names);
    for (const std::string& name : names) {
      std::string upper = name;
      if (name.starts_with("Name")) upper = "NAME" + name.substr(4);
      ASSERT_EQ(key->Open(upper).status, RegStatus::kOk) << name;
      EXPECT_EQ(key->Open(upper).key->Name(), name);
      ASSERT_NE(key->FindValue(upper), nullptr) << name;
      EXPECT_EQ(key->FindValue(upper)->name, name);
    }
    EXPECT_EQ(key->FindValue(kTsu)->data, Bytes(kTsu + std::string(1, '\0')));
    EXPECT_EQ(key->FindValue(kI)->data, Bytes(std::string("i", 2)));
  }
}

TEST(RegistryKeys, ClassesRootIsUnderLocalMachine) {
  RegistryTree tree;
  // Opening does not create SOFTWARE\Classes.
  EXPECT_EQ(tree.Open("HKEY_CLASSES_ROOT\\.txt").status, RegStatus::kNotFound);
  EXPECT_EQ(tree.Open("HKCR").status, RegStatus::kNotFound);
  EXPECT_EQ(tree.Serialize(), "REGEDIT4\n\n");

  KeyResult txt = tree.Create("HKCR\\.txt");
  ASSERT_EQ(txt.status, RegStatus::kOk);
  EXPECT_EQ(txt.key->Path(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt");
  EXPECT_EQ(tree.Root(RootKey::kClassesRoot), tree.Open("HKEY_LOCAL_MACHINE\\Software\\classes").key);
  EXPECT_EQ(tree.Open("HKEY_CLASSES_ROOT\\.TXT").key, txt.key);
  EXPECT_EQ(RootKeyFromName("hkey_classes_root"), RootKey::kClassesRoot);
  EXPECT_EQ(RootKeyName(RootKey::kDynData), "HKEY_DYN_DATA");
}

TEST(RegistrySerialize, SubtreeExportHoldsTheKeyAndWhatIsBelow) {
  RegistryTree tree;
  tree.Create("HKEY_LOCAL_MACHINE\\Before");
  std::shared_ptr<RegistryKey> a = tree.Create("HKEY_LOCAL_MACHINE\\Software\\A").key;
  a->SetString("", "top");
  a->Create("Empty");
  a->Create("Child").key->SetDword("d", 2);
  tree.Create("HKEY_LOCAL_MACHINE\\Software\\After");
  EXPECT_EQ(SerializeRegistryKey(*a),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A]\n@=\"top\"\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A\\Empty]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A\\Child]\n\"d\"=dword:00000002\n\n");
  // An empty root key asked for by name still has its section.
  EXPECT_EQ(SerializeRegistryKey(*tree.Root(RootKey::kCurrentConfig)), "REGEDIT4\n\n[HKEY_CURRENT_CONFIG]\n\n");
}

}  // namespace
}  // namespace w9x
