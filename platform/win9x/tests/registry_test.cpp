#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;
using testing::TestMachineOptions;

// registry.reg once the pending changes are folded into it, as the end of a run leaves it.
std::string ReadRegistry(TestMachine& m) {
  m.machine().Registry().Fold();
  std::ifstream in(m.Root() / "registry.reg", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Replaces registry.reg as another process on the machine would (a new file renamed into place).
void ReplaceRegistry(const TestMachine& m, const std::string& text) {
  const auto temp = m.Root() / "registry.new";
  std::ofstream(temp, std::ios::binary) << text;
  std::filesystem::rename(temp, m.Root() / "registry.reg");
}

std::string QueryString(HKEY key, const char* name) {
  char buffer[256] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return "(error)";
  return std::string(buffer, size ? size - 1 : 0);
}

HKEY Create(const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS) << path;
  return key;
}

TEST(Registry, KeysAndValuesReachTheFileAndNamesIgnoreCaseKeepingTheirSpelling) {
  TestMachine m(TestMachineOptions{.journal = true});
  HKEY key = Create("Software\\Maker\\Kit");
  const char text[] = "Value";
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  const DWORD number = 0x2A;
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(ReadRegistry(m),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n[HKEY_LOCAL_MACHINE\\Software\\Maker]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Maker\\Kit]\n\"Name\"=\"Value\"\n@=dword:0000002a\n\n");

  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\maker", 0, KEY_READ, &key), ERROR_SUCCESS);
  char name[256];
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Kit");
  EXPECT_EQ(size, 3u);
  HKEY kit = nullptr;
  ASSERT_EQ(RegOpenKeyA(key, "KIT", &kit), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(kit, "NAME"), "Value");
  RegCloseKey(kit);
  RegCloseKey(key);

  auto created = m.Events("RegCreateKeyA");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0]["key"], "HKEY_LOCAL_MACHINE\\Software\\Maker\\Kit");
  auto set = m.Events("RegSetValueExA");
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set[0]["data"], "Value");
  EXPECT_EQ(set[1]["data"], "2a,00,00,00");
}

TEST(Registry, ErrorsAsWindows9xReportsThem) {
  TestMachine m;
  HKEY key = Create("A\\B");
  HKEY out = nullptr;
  char name[256];
  DWORD size = 0;
  BYTE data[4];
  const char text[] = "long text";
  ASSERT_EQ(RegSetValueExA(key, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  HKEY bogus = reinterpret_cast<HKEY>(0x1234);

  struct Case {
    const char* name;
    LONG got, expected;
  } cases[] = {
      {"open a missing key", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\Missing", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND},
      {"open on a handle that is not open", RegOpenKeyExA(bogus, "X", 0, KEY_READ, &out), ERROR_BADKEY},
      {"empty path component", RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\\\B", 0, KEY_READ, &out), ERROR_BADKEY},
      {"enumerate past the end", (size = sizeof name, RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr)),
       ERROR_NO_MORE_ITEMS},
      {"name buffer too small", (size = 1, RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &size, nullptr, nullptr, nullptr, nullptr)),
       ERROR_MORE_DATA},
      {"missing value", (size = sizeof data, RegQueryValueExA(key, "Other", nullptr, nullptr, data, &size)),
       ERROR_FILE_NOT_FOUND},
      {"value buffer too small", (size = sizeof data, RegQueryValueExA(key, "V", nullptr, nullptr, data, &size)),
       ERROR_MORE_DATA},
      {"delete a missing key", RegDeleteKeyA(key, "Missing"), ERROR_FILE_NOT_FOUND},
      {"delete a missing value", RegDeleteValueA(key, "Missing"), ERROR_FILE_NOT_FOUND},
      {"close a handle that is not open", RegCloseKey(bogus), ERROR_BADKEY},
      {"close a predefined key", RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
  size = sizeof data;
  RegQueryValueExA(key, "V", nullptr, nullptr, data, &size);
  EXPECT_EQ(size, sizeof text) << "a short buffer learns the size needed";
  RegCloseKey(key);
}

TEST(Registry, DeletingAKeyTakesItsSubtreeAndHandlesOnItStayValid) {
  TestMachine m;
  RegCloseKey(Create("Enum\\BIOS\\*INT0800\\0000\\LogConfig"));
  HKEY instance = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\BIOS\\*INT0800\\0000", 0, KEY_READ | KEY_WRITE, &instance),
            ERROR_SUCCESS);
  HKEY bios = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\BIOS", 0, KEY_READ | KEY_WRITE, &bios), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(bios, "*int0800"), ERROR_SUCCESS);

  HKEY out = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\BIOS\\*INT0800", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(instance, "LogConfig", 0, KEY_READ, &out), ERROR_KEY_DELETED);
  const char text[] = "x";
  EXPECT_EQ(RegSetValueExA(instance, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 2), ERROR_KEY_DELETED);
  // A key created again at the same path is a new key: the old handle stays on the deleted one.
  RegCloseKey(Create("Enum\\BIOS\\*INT0800\\0000"));
  EXPECT_EQ(RegOpenKeyExA(instance, "", 0, KEY_READ, &out), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(instance), ERROR_SUCCESS);
  RegCloseKey(bios);
  EXPECT_EQ(ReadRegistry(m).find("LogConfig"), std::string::npos);
}

// Another process's changes reach this one whether they are still in the change log or already
// folded into registry.reg.
TEST(Registry, ChangesOfAnotherProcessAreSeenAndKept) {
  for (bool folded : {false, true}) {
    SCOPED_TRACE(folded ? "folded into the file" : "in the log");
    TestMachine m;
    HKEY kept = Create("Shared\\Kept");
    HKEY gone = Create("Shared\\Gone");
    {
      // Another process: a value added under Kept, Gone removed, a new key.
      RegistryStore other(m.Root() / "registry.reg", m.Root() / ".w9x" / "registry.lock");
      RegistryStore::Update update(other);
      ASSERT_TRUE(update.Ready());
      std::vector<RegistryChange> changes = {
          {RegistryChange::Kind::kSetValue, "HKEY_LOCAL_MACHINE\\Shared\\Kept", "Other", REG_SZ, {'t', 'h', 'e', 'i', 'r', 's', 0}},
          {RegistryChange::Kind::kDeleteKey, "HKEY_LOCAL_MACHINE\\Shared\\Gone"},
          {RegistryChange::Kind::kCreateKey, "HKEY_LOCAL_MACHINE\\Shared\\New"},
      };
      for (const RegistryChange& c : changes) c.ApplyTo(update.Tree());
      ASSERT_TRUE(update.Commit(changes));
    }
    if (folded) {
      RegistryStore other(m.Root() / "registry.reg", m.Root() / ".w9x" / "registry.lock");
      ASSERT_TRUE(other.Fold());
      EXPECT_FALSE(std::filesystem::exists(other.LogFile()));
    }
    EXPECT_EQ(QueryString(kept, "Other"), "theirs");
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(gone, "", 0, KEY_READ, &out), ERROR_KEY_DELETED);
    const char mine[] = "mine";
    ASSERT_EQ(RegSetValueExA(kept, "Mine", 0, REG_SZ, reinterpret_cast<const BYTE*>(mine), sizeof mine), ERROR_SUCCESS);
    const std::string text = ReadRegistry(m);
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Shared]\n\n"
                        "[HKEY_LOCAL_MACHINE\\Shared\\Kept]\n\"Other\"=\"theirs\"\n\"Mine\"=\"mine\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\Shared\\New]\n\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Gone"), std::string::npos);
    RegCloseKey(kept);
    RegCloseKey(gone);
  }
}

TEST(Registry, FileIsRewrittenOnlyByAChange) {
  TestMachine m;
  const std::string text = "REGEDIT4\r\n; by hand\r\n[HKEY_CURRENT_USER\\Software]\r\n\"A\"=\"1\"\r\n";
  ReplaceRegistry(m, text);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, "a"), "1");
  EXPECT_EQ(RegDeleteKeyA(key, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ReadRegistry(m), text);
  ASSERT_EQ(RegDeleteValueA(key, "A"), ERROR_SUCCESS);
  EXPECT_EQ(ReadRegistry(m), "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\Software]\n\n");
  RegCloseKey(key);
}

TEST(Registry, MalformedFileStopsTheMachineFromOpeningAndIsLeftAsItWas) {
  TestMachine m;
  const std::string bad = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"V\"=hex:0g\n";
  ReplaceRegistry(m, bad);
  try {
    Machine other(m.Root());
    ADD_FAILURE() << "the machine opened";
  } catch (const MachineError& e) {
    EXPECT_STREQ(e.what(), "registry.reg: line 4: bad hex");
  }
  // A machine already open keeps its last good registry and changes nothing on disk.
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "B", &key), ERROR_CANTREAD);
  EXPECT_EQ(ReadRegistry(m), bad);
}

}  // namespace
}  // namespace w9x
