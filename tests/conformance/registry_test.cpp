// The registry functions the programs use, below HKEY_CURRENT_USER\Software\KitConformance:
// keys created and opened in any letter case, values written and read back with their sizes,
// enumeration, and deletes, where Windows 9x removes a key together with its subkeys.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"

namespace conformance {
namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kRegistryKey, &root_), ERROR_SUCCESS); }
  void TearDown() override { RegCloseKey(root_); }

  // Creates a key below the test's root and closes it.
  void Create(const char* path) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(root_, path, &key), ERROR_SUCCESS) << path;
    RegCloseKey(key);
  }

  LONG Open(const char* path) {
    HKEY key;
    LONG status = RegOpenKeyA(root_, path, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
  }

  std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD size = sizeof name;
      LONG status = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      EXPECT_EQ(size, std::strlen(name));
      names.emplace_back(name);
    }
    return names;
  }

  HKEY root_ = nullptr;
};

TEST_F(Registry, KeysOpenInAnyLetterCase) {
  Create("Enum\\BIOS\\*PNP0C01");
  EXPECT_EQ(Open("ENUM\\bios\\*pnp0c01"), ERROR_SUCCESS);
  EXPECT_EQ(Open("Enum\\BIOS\\*PNP0C02"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("Enum\\Missing\\Deeper"), ERROR_FILE_NOT_FOUND);

  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\kitconformance\\enum", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(key), std::vector<std::string>{"BIOS"});
  RegCloseKey(key);
}

TEST_F(Registry, ValuesKeepTheirTypeAndSize) {
  const char text[] = "C:\\WINDOWS\\INF\\表示.INF";
  const DWORD number = 0x12345678;
  ASSERT_EQ(RegSetValueExA(root_, "INfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(root_, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);

  // The size alone, then the data; names ignore case.
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(root_, "infpath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof text);
  char buffer[64] = {};
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(root_, "INFPATH", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buffer, text);

  DWORD read = 0;
  size = sizeof read;
  ASSERT_EQ(RegQueryValueExA(root_, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(read, number);

  // Too small a buffer: ERROR_MORE_DATA and the size needed.
  char small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(root_, "InfPath", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);

  EXPECT_EQ(RegQueryValueExA(root_, "Absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(root_, "count"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(root_, "Count", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(root_, "Count"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, EnumerationEndsWithNoMoreItems) {
  Create("Class\\Net\\0000");
  Create("Class\\Net\\0001");
  Create("Class\\Net\\0002");
  HKEY net;
  ASSERT_EQ(RegOpenKeyA(root_, "Class\\Net", &net), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(net), (std::vector<std::string>{"0000", "0001", "0002"}));

  // A name buffer too small for the next key.
  char name[3];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(net, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  RegCloseKey(net);
}

TEST_F(Registry, DeletingAKeyTakesItsSubkeys) {
  // Windows 9x deletes the whole subtree; Windows NT refuses a key that has subkeys.  Wine set to
  // a 9x version deletes a chain of single subkeys, but gives up (with the NT answer) at a key
  // with two subkeys.
  struct Case {
    const char* trees[2];
    const char* deleted;
    bool wine_deletes;
  } cases[] = {
      {{"Enum\\ACPI\\*INT0800\\0000\\LogConfig", nullptr}, "enum\\acpi\\*int0800", true},
      {{"Enum\\BIOS\\*INT0800\\0000\\LogConfig", "Enum\\BIOS\\*INT0800\\0001"}, "Enum\\BIOS\\*INT0800", false},
  };
  Create("Enum\\BIOS\\*PNP0000");
  for (const Case& c : cases) {
    for (const char* tree : c.trees)
      if (tree) Create(tree);
    const LONG status = RegDeleteKeyA(root_, c.deleted);
    if (OnWine() && c.wine_deletes) {
      EXPECT_EQ(status, ERROR_SUCCESS) << c.deleted;
    } else {
      EXPECT_9X(status, ERROR_SUCCESS, ERROR_ACCESS_DENIED) << c.deleted;
    }
    if (status == ERROR_SUCCESS) {
      EXPECT_EQ(Open(c.trees[0]), ERROR_FILE_NOT_FOUND);
      EXPECT_EQ(Open(c.deleted), ERROR_FILE_NOT_FOUND);
    }
  }
  EXPECT_EQ(Open("Enum\\BIOS\\*PNP0000"), ERROR_SUCCESS);

  // A key without subkeys goes everywhere; a missing one is reported.
  EXPECT_EQ(RegDeleteKeyA(root_, "Enum\\BIOS\\*PNP0000"), ERROR_SUCCESS);
  EXPECT_EQ(Open("Enum\\BIOS\\*PNP0000"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(root_, "Enum\\BIOS\\*PNP0000"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, HandleOfADeletedKey) {
  Create("Gone");
  HKEY gone;
  ASSERT_EQ(RegOpenKeyA(root_, "Gone", &gone), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(root_, "Gone"), ERROR_SUCCESS);
  // The handle stays a handle: it can still be closed.
  EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
  EXPECT_EQ(Open("Gone"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace conformance
