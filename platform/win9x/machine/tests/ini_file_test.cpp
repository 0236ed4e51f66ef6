#include "machine/ini_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace w9x {
namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

// ---------------------------------------------------------------------------------------------
// Lookups

struct GetCase {
  const char* what;
  std::string file;
  std::string section;
  std::string key;
  std::optional<std::string> expected;
};

// Readable test names from the case descriptions.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char* p = info.param.what; *p != '\0'; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
}

class IniGet : public testing::TestWithParam<GetCase> {};

void PrintTo(const GetCase& c, std::ostream* os) { *os << c.what; }

TEST_P(IniGet, FindsTheWindowsValue) {
  const GetCase& c = GetParam();
  EXPECT_EQ(IniFile::Parse(c.file).Get(c.section, c.key), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniGet,
    testing::Values(
        GetCase{"plain", "[s]\r\nk=v\r\n", "s", "k", "v"},
        GetCase{"names ignore ASCII case", "[Sect]\nKey=v\n", "sECT", "kEY", "v"},
        GetCase{"blanks around everything", "  [ s \t]  \n \t k \t=  v  w \t\n", "s", "k", "v  w"},
        GetCase{"lookup names are trimmed", "[s]\nk=v\n", " s\t", "\tk ", "v"},
        GetCase{"double quotes", "[s]\nk= \"a b\" \n", "s", "k", "a b"},
        GetCase{"single quotes", "[s]\nk='a b'\n", "s", "k", "a b"},
        GetCase{"empty quotes", "[s]\nk=\"\"\n", "s", "k", ""},
        GetCase{"mixed quotes stay", "[s]\nk=\"a'\n", "s", "k", "\"a'"},
        GetCase{"lone quote stays", "[s]\nk=\"\n", "s", "k", "\""},
        GetCase{"only one pair goes", "[s]\nk=\"\"a\"\"\n", "s", "k", "\"a\""},
        GetCase{"inner quotes stay", "[s]\nk=a\"b\"\n", "s", "k", "a\"b\""},
        GetCase{"value after the first =", "[s]\nk = a=b =c\n", "s", "k", "a=b =c"},
        GetCase{"empty value", "[s]\nk=\n", "s", "k", ""},
        GetCase{"line without = is a key", "[s]\n  flag  \n", "s", "flag", ""},
        GetCase{"a blank line is no key", "[s]\n \t\n", "s", "", std::nullopt},
        GetCase{"empty key name", "[s]\n = v\n", "s", "", "v"},
        GetCase{"first duplicate key wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
        GetCase{"first duplicate section wins", "[s]\na=1\n[S]\na=2\nb=3\n", "s", "a", "1"},
        GetCase{"keys of a later duplicate section are not read", "[s]\na=1\n[S]\nb=3\n", "s", "b", std::nullopt},
        GetCase{"lines before any section belong to none", "k=v\n[s]\n", "s", "k", std::nullopt},
        GetCase{"missing section", "[s]\nk=v\n", "t", "k", std::nullopt},
        GetCase{"missing key", "[s]\nk=v\n", "s", "kk", std::nullopt},
        GetCase{"keys end at the next section", "[s]\n[t]\nk=v\n", "s", "k", std::nullopt},
        GetCase{"text after ] is ignored", "[s] junk\nk=v\n", "s", "k", "v"},
        GetCase{"header without ]", "[ s \nk=v\n", "s", "k", "v"},
        GetCase{"header line with =", "[s]=x\nk=v\n", "s", "k", "v"},
        GetCase{"empty section name", "[]\nk=v\n", "", "k", "v"},
        GetCase{"a ] inside a double-byte name",  // 83 5D is one character
                "[\x83\x5D]\nk=v\n", "\x83\x5D", "k", "v"},
        GetCase{"double-byte characters are not folded", "[s]\n\x82\x60=v\n", "s", "\x82\x81", std::nullopt},
        GetCase{"a trail byte that looks like a letter is not folded", "[s]\n\x82\x61=v\n", "s", "\x82\x41",
                std::nullopt},
        GetCase{"double-byte name with folded ASCII", "[s]\na\x82\x60=v\n", "S", "A\x82\x60", "v"},
        GetCase{"the byte after a lead byte is never trimmed", "[s]\nk=a\x82 \n", "s", "k", "a\x82 "},
        GetCase{"a closing quote inside a double-byte character", "[s]\nk=\"\x82\"\n", "s", "k", "\"\x82\""},
        GetCase{"lone CR ends lines", "[s]\rk=v\rj=w", "s", "j", "w"},
        GetCase{"mixed line endings", "[s]\r\na=1\nb=2\rc=3", "s", "b", "2"},
        GetCase{"CR LF is not part of the value", "[s]\r\nk=v \r\n", "s", "k", "v"},
        GetCase{"NUL bytes are ordinary", "[s\0t]\nk=a\0b\n"s, "s\0t"s, "k", "a\0b"s},
        GetCase{"a lead byte takes the = after it", "[s]\n\x81=v\n", "s", "\x81", std::nullopt},
        GetCase{"garbage bytes", "\xFF\xFE[t]\n[s]\n\x80\xA0=\x9F\xFC\n", "s", "\x80\xA0", "\x9F\xFC"}),
    CaseName<GetCase>);

TEST(IniNames, ListsInFileOrderOnceInTheFirstSpelling) {
  const IniFile ini = IniFile::Parse(
      "pre=1\n"
      "[Alpha]\n"
      " Key1 = a \n"
      "\n"
      "flag\n"
      "; note\n"
      "KEY1=b\n"
      "= empty name\n"
      "[]\n"
      "[beta]\n"
      "[ALPHA]\n"
      "key2=c\n"
      "[\x83\x5D]\n");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Alpha", "beta", "\x83\x5D"}));
  EXPECT_EQ(ini.KeyNames("alpha"), (std::vector<std::string>{"Key1", "flag", "; note"}));
  EXPECT_EQ(ini.KeyNames("beta"), std::vector<std::string>{});
  EXPECT_EQ(ini.KeyNames("gamma"), std::nullopt);
  EXPECT_EQ(ini.SectionLines("ALPHA"),
            (std::vector<std::string>{"Key1 = a", "flag", "; note", "KEY1=b", "= empty name"}));
  EXPECT_EQ(ini.SectionLines("beta"), std::vector<std::string>{});
  EXPECT_EQ(ini.SectionLines("gamma"), std::nullopt);
}

TEST(IniNames, SectionLinesKeepQuotesAndInnerBlanks) {
  const IniFile ini = IniFile::Parse("[s]\r\n\t k =  \"v  w\" \t\r\n");
  EXPECT_EQ(ini.SectionLines("s"), std::vector<std::string>{"k =  \"v  w\""});
}

// ---------------------------------------------------------------------------------------------
// Round trip

TEST(IniRoundTrip, SerializeGivesBackTheExactBytes) {
  const std::vector<std::string> files = {
      "",
      "\n",
      "\r",
      "\r\n",
      "\n\r",
      "\r\r\n\n",
      "no newline",
      "[s]",
      "[s]\r\nk=v\r\n\r\n",
      "  ; lead\n[s]\tk=v\n\n\n[t]\rx\r\ny",
      "a\0b\n[\0]\r\n\0=\0"s,
      "\x82\r\n\x83\x5D\n\xFF\xFE\xFD",
      std::string(100000, 'x') + "=" + std::string(100000, '\x82') + "\n",
  };
  for (const std::string& file : files) EXPECT_EQ(IniFile::Parse(file).Serialize(), file);
}

TEST(IniRoundTrip, RandomBytes) {
  const std::string alphabet = "[]= \t\r\n\0\"'aBk;\x82\x5D\xFF"s;
  std::mt19937 random(1234);
  for (int round = 0; round < 2000; ++round) {
    std::string file(random() % 64, ' ');
    for (char& c : file) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(IniFile::Parse(file).Serialize(), file);
  }
}

TEST(IniScale, HundredThousandKeysAndLongLines) {
  std::string file = "[big]\r\n";
  for (int i = 0; i < 100000; ++i) file += std::to_string(i) + "=v" + std::to_string(i) + "\r\n";
  const std::string long_value(100000, 'L');
  file += "long=" + long_value + "\r\n";
  IniFile ini = IniFile::Parse(file);
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(ini.Get("big", std::to_string(i)), "v" + std::to_string(i));
  EXPECT_EQ(ini.Get("big", "long"), long_value);
  EXPECT_EQ(ini.KeyNames("big")->size(), 100001u);
  ini.Set("big", "new", "n");
  EXPECT_EQ(ini.Serialize(), file + "new=n\r\n");
}

// ---------------------------------------------------------------------------------------------
// Edits: the whole file after each edit, so that any byte changed by mistake shows.

struct EditCase {
  const char* what;
  std::string before;
  std::function<void(IniFile&)> edit;
  std::string after;
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.what; }

class IniEdit : public testing::TestWithParam<EditCase> {};

TEST_P(IniEdit, ChangesOnlyTheEditedLines) {
  const EditCase& c = GetParam();
  IniFile ini = IniFile::Parse(c.before);
  c.edit(ini);
  EXPECT_EQ(ini.Serialize(), c.after) << c.what;
}

auto Set(std::string s, std::string k, std::string v) {
  return [=](IniFile& ini) { ini.Set(s, k, v); };
}
auto DeleteKey(std::string s, std::string k, bool expected) {
  return [=](IniFile& ini) { EXPECT_EQ(ini.DeleteKey(s, k), expected); };
}
auto DeleteSection(std::string s, bool expected) {
  return [=](IniFile& ini) { EXPECT_EQ(ini.DeleteSection(s), expected); };
}
auto Replace(std::string s, std::vector<std::string> lines) {
  return [=](IniFile& ini) { ini.ReplaceSection(s, lines); };
}

INSTANTIATE_TEST_SUITE_P(
    Set, IniEdit,
    testing::Values(
        EditCase{"replaces the line in the file's spelling", "; top\r\n[A]\r\n  Key = old ;x\r\nz=1\r\n",
                 Set("a", "KEY", "new"), "; top\r\n[A]\r\nKey=new\r\nz=1\r\n"},
        EditCase{"a line without = gets one", "[a]\nflag\nz\n", Set("A", "FLAG", "1"), "[a]\nflag=1\nz\n"},
        EditCase{"only the first duplicate", "[a]\nk=1\nk=2\n", Set("a", "k", "3"), "[a]\nk=3\nk=2\n"},
        EditCase{"only the first duplicate section", "[a]\nk=1\n[a]\nk=2\n", Set("a", "k", "3"),
                 "[a]\nk=3\n[a]\nk=2\n"},
        EditCase{"the value is written as given", "[a]\nk=1\n", Set("a", "k", " \"q\" "), "[a]\nk= \"q\" \n"},
        EditCase{"the line ending of the line stays", "[a]\r\nk=1\nz=2", Set("a", "z", "3"), "[a]\r\nk=1\nz=3"},
        EditCase{"new key after the last non-blank line", "[a]\nx=1\n;c\n\n \n[b]\ny=2\n", Set("a", "k", "v"),
                 "[a]\nx=1\n;c\nk=v\n\n \n[b]\ny=2\n"},
        EditCase{"new key in a section with only a header", "[a]\n\n[b]\n", Set("a", "k", "v"),
                 "[a]\nk=v\n\n[b]\n"},
        EditCase{"new key at the end without a final newline", "[a]\r\nx=1", Set("a", "k", "v"),
                 "[a]\r\nx=1\r\nk=v\r\n"},
        EditCase{"new key after a header without a newline", "[a]", Set("a", "k", "v"), "[a]\r\nk=v\r\n"},
        EditCase{"new key name is trimmed", "[a]\n", Set(" a ", " k\t", "v"), "[a]\nk=v\n"},
        EditCase{"new section at the end", "[a]\nx=1\n\n", Set("b", "k", "v"), "[a]\nx=1\n\n[b]\nk=v\n"},
        EditCase{"new section after a last line without newline", "[a]\r\nx=1", Set("b", "k", "v"),
                 "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
        EditCase{"empty file gets CR LF", "", Set("b", "k", "v"), "[b]\r\nk=v\r\n"},
        EditCase{"file without a line break gets CR LF", "; x", Set("b", "k", "v"), "; x\r\n[b]\r\nk=v\r\n"},
        EditCase{"file of lone CRs keeps them", "[a]\rx=1\r", Set("b", "k", "v"), "[a]\rx=1\r[b]\rk=v\r"},
        EditCase{"the file's first line ending is used", "[a]\nx=1\r\n", Set("a", "k", "v"),
                 "[a]\nx=1\r\nk=v\n"}),
    CaseName<EditCase>);

INSTANTIATE_TEST_SUITE_P(
    Delete, IniEdit,
    testing::Values(
        EditCase{"removes the key's line", "[a]\r\nx=1\r\n K =2\r\ny=3\r\n", DeleteKey("A", "k", true),
                 "[a]\r\nx=1\r\ny=3\r\n"},
        EditCase{"removes every duplicate of the key", "[a]\nk=1\nx=2\nK=3\n[b]\nk=4\n", DeleteKey("a", "k", true),
                 "[a]\nx=2\n[b]\nk=4\n"},
        EditCase{"removes a key without =", "[a]\nflag\n", DeleteKey("a", "FLAG", true), "[a]\n"},
        EditCase{"removes the last line without newline", "[a]\nx=1\nk=2", DeleteKey("a", "k", true), "[a]\nx=1\n"},
        EditCase{"absent key", "[a]\nx=1", DeleteKey("a", "k", false), "[a]\nx=1"},
        EditCase{"absent section", "[a]\nk=1", DeleteKey("b", "k", false), "[a]\nk=1"},
        EditCase{"a blank line is not an empty key", "[a]\n\nx=1\n", DeleteKey("a", "", false), "[a]\n\nx=1\n"},
        EditCase{"removes header and body up to the next section", "pre\n[a]\nx=1\n[b]\ny=2\n\n;c\n[c]\nz=3",
                 DeleteSection("B", true), "pre\n[a]\nx=1\n[c]\nz=3"},
        EditCase{"removes the last section", "[a]\nx=1\n[b]\ny=2", DeleteSection("b", true), "[a]\nx=1\n"},
        EditCase{"removes every section of the name", "[a]\nx=1\n[b]\n[A]\ny=2\n", DeleteSection("a", true),
                 "[b]\n"},
        EditCase{"absent section is no change", "[a]\nx=1", DeleteSection("b", false), "[a]\nx=1"},
        EditCase{"lines before the first section are no section", "k=1\n[a]\n", DeleteSection("", false),
                 "k=1\n[a]\n"}),
    CaseName<EditCase>);

INSTANTIATE_TEST_SUITE_P(
    Replace, IniEdit,
    testing::Values(
        EditCase{"replaces the body, keeps the blank lines before the next section",
                 "[a]\nx=1\n\n;c\n\n[b]\ny=2\n", Replace("a", {"p=1", "q"}), "[a]\np=1\nq\n\n[b]\ny=2\n"},
        EditCase{"an empty list empties the body", "[a]\nx=1\n\n[b]\n", Replace("a", {}), "[a]\n\n[b]\n"},
        EditCase{"only the first section of the name", "[a]\nx=1\n[a]\nx=2\n", Replace("A", {"x=3"}),
                 "[a]\nx=3\n[a]\nx=2\n"},
        EditCase{"the last section without a final newline", "[a]\r\nx=1", Replace("a", {"y=2"}),
                 "[a]\r\ny=2\r\n"},
        EditCase{"a header without a newline", "[a]", Replace("a", {"y=2"}), "[a]\r\ny=2\r\n"},
        EditCase{"a missing section is appended", "[a]\nx=1", Replace("b", {"y=2", "z"}),
                 "[a]\nx=1\n[b]\ny=2\nz\n"},
        EditCase{"a missing section with no lines", "", Replace("b", {}), "[b]\r\n"}),
    CaseName<EditCase>);

TEST(IniEdit, SectionLinesWrittenBackLoseNothing) {
  const std::string file = "[a]\r\n k = \"v\" \r\n;c\r\nflag\r\n\tx=1=2\r\n\r\n[b]\r\n";
  IniFile ini = IniFile::Parse(file);
  ini.ReplaceSection("a", *ini.SectionLines("a"));
  EXPECT_EQ(ini.Serialize(), "[a]\r\nk = \"v\"\r\n;c\r\nflag\r\nx=1=2\r\n\r\n[b]\r\n");
  EXPECT_EQ(ini.Get("a", "k"), "v");
  EXPECT_EQ(ini.Get("a", "x"), "1=2");
  EXPECT_EQ(ini.KeyNames("a"), (std::vector<std::string>{"k", ";c", "flag", "x"}));
}

TEST(IniEdit, WrittenLineBreaksAndHeadersBecomeLines) {
  IniFile ini = IniFile::Parse("[a]\nx=1\n");
  ini.Set("a", "x", "1\n[b]\ny=2");
  EXPECT_EQ(ini.Serialize(), "[a]\nx=1\n[b]\ny=2\n");
  EXPECT_EQ(ini.Get("b", "y"), "2");
  ini.Set("b", "[c", "3");  // the new line "[c=3" is a section header
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"a", "b", "c=3"}));
  ini.ReplaceSection("a", {"p=1", "[d]", "q=2"});
  EXPECT_EQ(ini.Get("a", "q"), std::nullopt);
  EXPECT_EQ(ini.Get("d", "q"), "2");
}

// The indexes kept up to date by the edits must answer exactly as a fresh parse of the bytes would.
void ExpectSameAsReparsed(const IniFile& ini, const std::string& context) {
  const IniFile fresh = IniFile::Parse(ini.Serialize());
  ASSERT_EQ(ini.SectionNames(), fresh.SectionNames()) << context;
  std::vector<std::string> sections = fresh.SectionNames();
  sections.push_back("");  // "[]" is not listed but can be read
  for (const std::string& section : sections) {
    ASSERT_EQ(ini.SectionLines(section), fresh.SectionLines(section)) << context;
    ASSERT_EQ(ini.KeyNames(section), fresh.KeyNames(section)) << context;
    std::vector<std::string> keys = fresh.KeyNames(section).value_or(std::vector<std::string>{});
    keys.push_back("");
    for (const std::string& key : keys) ASSERT_EQ(ini.Get(section, key), fresh.Get(section, key)) << context;
  }
}

TEST(IniEdit, RandomEditsKeepTheIndexesRight) {
  const std::vector<std::string> lines = {"[a]", "[A ]", " [b]", "[\x83\x5D]", "[]", "k=v", " K = 'q' ",
                                          "x", "=e", "", "  ", ";c", "k2=\"v\""};
  const std::vector<std::string> eols = {"\n", "\r\n", "\r", ""};
  const std::vector<std::string> names = {"a", "A", " b", "\x83\x5D", "", "k", "K2", "x", "[x", "c]", "n=m"};
  const std::vector<std::string> values = {"1", "", " sp ", "v\r\nw=2", "[z]", "\"q\""};
  std::mt19937 random(99);
  auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
  for (int round = 0; round < 300; ++round) {
    std::string file;
    for (int n = static_cast<int>(random() % 12); n > 0; --n) file += pick(lines) + pick(eols);
    IniFile ini = IniFile::Parse(file);
    std::string context = "file: " + file;
    for (int step = 0; step < 8; ++step) {
      const std::string section = pick(names), key = pick(names), value = pick(values);
      switch (random() % 4) {
        case 0:
          ini.Set(section, key, value);
          context += " | Set " + section + "," + key + "," + value;
          break;
        case 1:
          ini.DeleteKey(section, key);
          context += " | DeleteKey " + section + "," + key;
          break;
        case 2:
          ini.DeleteSection(section);
          context += " | DeleteSection " + section;
          break;
        default:
          ini.ReplaceSection(section, {key + "=" + value, pick(lines)});
          context += " | ReplaceSection " + section;
          break;
      }
      ExpectSameAsReparsed(ini, context);
      if (HasFatalFailure()) return;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Buffers

constexpr char kUntouched = '\x7F';

// Runs a copy into a buffer with a guard area after `size` bytes and returns what it holds.
template <typename Copy>
std::pair<std::string, std::uint32_t> CopyInto(std::uint32_t size, Copy copy) {
  std::string buffer(size + 4, kUntouched);
  const std::uint32_t result = copy(buffer.data(), size);
  EXPECT_EQ(buffer.substr(size), std::string(4, kUntouched)) << "written past the buffer";
  buffer.resize(size);
  return {buffer, result};
}

struct StringCase {
  std::string value;
  std::uint32_t size;
  std::string buffer;
  std::uint32_t result;
};

TEST(IniBuffer, CopyProfileString) {
  const std::string u(1, kUntouched);
  const std::vector<StringCase> cases = {
      {"abc", 0, "", 0},
      {"abc", 1, "\0"s, 0},
      {"abc", 2, "a\0"s, 1},
      {"abc", 3, "ab\0"s, 2},
      {"abc", 4, "abc\0"s, 3},
      {"abc", 6, "abc\0"s + u + u, 3},
      {"", 1, "\0"s, 0},
      {"", 3, "\0"s + u + u, 0},
      {"\x82\xA0z", 2, "\x82\0"s, 1},  // bytes, not characters
  };
  for (const StringCase& c : cases) {
    auto [buffer, result] = CopyInto(c.size, [&](char* b, std::uint32_t n) { return CopyProfileString(c.value, b, n); });
    EXPECT_EQ(buffer, c.buffer) << c.value << " size " << c.size;
    EXPECT_EQ(result, c.result) << c.value << " size " << c.size;
  }
  EXPECT_EQ(CopyProfileString("abc", nullptr, 4), 0u);
}

struct ListCase {
  std::vector<std::string> items;
  std::uint32_t size;
  std::string buffer;
  std::uint32_t result;
};

TEST(IniBuffer, CopyProfileList) {
  const std::string u(1, kUntouched);
  const std::vector<std::string> ab_cd = {"ab", "cd"};  // needs "ab\0cd\0\0": 7 bytes
  const std::vector<ListCase> cases = {
      {ab_cd, 0, "", 0},
      {ab_cd, 1, "\0"s, 0},
      {ab_cd, 2, "\0\0"s, 0},
      {ab_cd, 3, "a\0\0"s, 1},
      {ab_cd, 4, "ab\0\0"s, 2},
      {ab_cd, 5, "ab\0\0\0"s, 3},
      {ab_cd, 6, "ab\0c\0\0"s, 4},
      {ab_cd, 7, "ab\0cd\0\0"s, 6},
      {ab_cd, 9, "ab\0cd\0\0"s + u + u, 6},
      {{}, 1, "\0"s, 0},
      {{}, 2, "\0\0"s, 0},
      {{}, 4, "\0\0"s + u + u, 0},
      {{"x"}, 3, "x\0\0"s, 2},
      {{"x"}, 2, "\0\0"s, 0},
  };
  for (const ListCase& c : cases) {
    auto [buffer, result] = CopyInto(c.size, [&](char* b, std::uint32_t n) { return CopyProfileList(c.items, b, n); });
    EXPECT_EQ(buffer, c.buffer) << c.items.size() << " items, size " << c.size;
    EXPECT_EQ(result, c.result) << c.items.size() << " items, size " << c.size;
  }
}

}  // namespace
}  // namespace w9x
