// The machine files that every process changes (profiles, attributes.ini, registry.reg): changes
// made by several processes at the same time are all kept, and a copy is done whole or not at all.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "machine/host_file.h"
#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using testing::TestMachine;

constexpr int kWriters = 4;
constexpr int kChanges = 40;

// What writer `w` does in its own process: for each i, a key of WININIT.INI, the hidden
// attribute of a file of its own, and a registry value, each one read-modify-write step.
void Write(const fs::path& root, int w) {
  Machine machine(root);
  Process process("C:\\KIT\\DRUPDATE.EXE", "C:\\KIT\\DRUPDATE.EXE", *ParseFullPath("C:\\KIT"));
  ScopedContext context(machine, process);
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Kvo", &key) != ERROR_SUCCESS) _exit(2);
  for (int i = 0; i < kChanges; ++i) {
    const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
    if (!WritePrivateProfileStringA("rename", name.c_str(), "x", "WININIT.INI")) _exit(3);
    const std::string file = "C:\\KIT\\" + name + ".TXT";
    if (!SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN)) _exit(4);
    if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2) != ERROR_SUCCESS) _exit(5);
  }
  RegCloseKey(key);
}

TEST(SharedFiles, ChangesOfProcessesRunningAtOnceAreAllKept) {
  TestMachine m;
  for (int w = 0; w < kWriters; ++w)
    for (int i = 0; i < kChanges; ++i)
      m.WriteFile("C:\\KIT\\W" + std::to_string(w) + "_" + std::to_string(i) + ".TXT", "");
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Write(m.Root(), w);
      _exit(0);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  char value[8];
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Kvo", &key), ERROR_SUCCESS);
  int lost_profile = 0, lost_attributes = 0, lost_registry = 0;
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kChanges; ++i) {
      const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
      if (GetPrivateProfileStringA("rename", name.c_str(), "", value, sizeof value, "WININIT.INI") != 1) ++lost_profile;
      if (GetFileAttributesA(("C:\\KIT\\" + name + ".TXT").c_str()) != FILE_ATTRIBUTE_HIDDEN) ++lost_attributes;
      if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) ++lost_registry;
    }
  }
  RegCloseKey(key);
  EXPECT_EQ(lost_profile, 0);
  EXPECT_EQ(lost_attributes, 0);
  EXPECT_EQ(lost_registry, 0);
}

// Profile writes refuse a read-only file, as DeleteFileA and CopyFileA do, and leave it as it is.
TEST(SharedFiles, ProfileWritesRefuseAReadOnlyFile) {
  TestMachine m;
  const std::string before = "[boot]\r\nshell=Explorer.exe\r\n";
  m.WriteFile("C:\\WINDOWS\\SYSTEM.INI", before);
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\SYSTEM.INI", FILE_ATTRIBUTE_READONLY));
  struct Case {
    const char* name;
    BOOL (*write)();
  } cases[] = {
      {"a key", [] { return WritePrivateProfileStringA("boot", "shell", "x.exe", "SYSTEM.INI"); }},
      {"a key removed", [] { return WritePrivateProfileStringA("boot", "shell", nullptr, "SYSTEM.INI"); }},
      {"a section", [] { return WritePrivateProfileSectionA("boot", "a=b\0", "SYSTEM.INI"); }},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(c.write()) << c.name;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << c.name;
    EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\SYSTEM.INI"), before) << c.name;
  }
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\SYSTEM.INI") & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY});
}

// When the attribute store cannot be written, the copy reports failure and the destination keeps
// its old content and attributes.
TEST(SharedFiles, ACopyWhoseAttributesCannotBeStoredIsNotDone) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\NEW.VXD", "new");
  m.WriteFile("C:\\WINDOWS\\OLD.VXD", "old");
  ASSERT_TRUE(SetFileAttributesA("C:\\KIT\\NEW.VXD", FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\OLD.VXD", FILE_ATTRIBUTE_HIDDEN));
  const fs::path store = m.Root() / "attributes.ini";
  std::string attributes;
  {
    std::ifstream in(store, std::ios::binary);
    attributes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_FALSE(attributes.empty());
  fs::remove(store);
  fs::create_directory(store);  // no longer a file that can be replaced
  for (const char* to : {"C:\\WINDOWS\\OLD.VXD", "C:\\WINDOWS\\FRESH.VXD"}) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileA("C:\\KIT\\NEW.VXD", to, FALSE)) << to;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << to;
  }
  EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\OLD.VXD"), "old");
  EXPECT_FALSE(m.Exists("C:\\WINDOWS\\FRESH.VXD"));
  fs::remove(store);
  std::ofstream(store, std::ios::binary) << attributes;
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\OLD.VXD"), DWORD{FILE_ATTRIBUTE_HIDDEN});
}

// Each replaced machine file reaches the disk before its name does: the temporary file is synced
// while the old content still stands, and the folder once the new name is in place, so that a
// power loss never leaves the name on an empty file.
TEST(SharedFiles, ReplacedFilesAreSyncedBeforeAndAfterTheRename) {
  TestMachine m;
  m.WriteFile("C:\\KIT\\A.TXT", "new");
  m.WriteFile("C:\\WINDOWS\\A.TXT", "old");
  m.WriteFile("C:\\WINDOWS\\SYSTEM.INI", "[boot]\r\n");
  struct Case {
    const char* name;
    fs::path file;  // the machine file the call replaces
    std::function<bool()> call;
  } cases[] = {
      {"registry", m.Root() / "registry.reg",
       // A change waits in the change log; the fold replaces the file.
       [&m] {
         return RegSetValueExA(HKEY_LOCAL_MACHINE, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2) == 0 &&
                m.machine().Registry().Fold();
       }},
      {"profile", m.Host("C:\\WINDOWS\\SYSTEM.INI"),
       [] { return WritePrivateProfileStringA("boot", "shell", "x.exe", "SYSTEM.INI") != FALSE; }},
      {"attributes", m.Root() / "attributes.ini",
       [] { return SetFileAttributesA("C:\\KIT\\A.TXT", FILE_ATTRIBUTE_HIDDEN) != FALSE; }},
      {"copy", m.Host("C:\\WINDOWS\\A.TXT"), [] { return CopyFileA("C:\\KIT\\A.TXT", "C:\\WINDOWS\\A.TXT", FALSE) != FALSE; }},
  };
  for (const Case& c : cases) {
    struct Synced {
      fs::path path;
      std::optional<std::string> file;  // the machine file's content at that moment
    };
    std::vector<Synced> synced;
    const std::optional<std::string> before = ReadHostFile(c.file);
    WatchSyncs([&](const fs::path& path) { synced.push_back({path, ReadHostFile(c.file)}); });
    const bool ok = c.call();
    WatchSyncs(nullptr);
    ASSERT_TRUE(ok) << c.name;
    const std::optional<std::string> after = ReadHostFile(c.file);
    ASSERT_NE(after, before) << c.name;
    std::size_t temp = synced.size(), folder = synced.size();
    for (std::size_t i = 0; i < synced.size(); ++i) {
      const Synced& s = synced[i];
      if (temp == synced.size() && s.path.parent_path() == c.file.parent_path() &&
          s.path.filename().native().starts_with(".w9x-tmp-") && s.file == before && ReadHostFile(s.path) == std::nullopt)
        temp = i;
      if (temp < i && s.path == c.file.parent_path() && s.file == after) folder = i;
    }
    EXPECT_LT(temp, synced.size()) << c.name << ": no temporary file synced before the rename";
    EXPECT_LT(folder, synced.size()) << c.name << ": the folder was not synced after the rename";
  }
}

}  // namespace
}  // namespace w9x
