// The conformance checks on real Windows (run here under Wine): before every check the scratch
// folder C:\CONFORM is emptied and the registry key HKEY_CURRENT_USER\Software\KitConformance
// removed.  --windows=NAME tells which Windows the prefix was set to report (win98se when
// absent); the runner sets it.
#include <cstring>

#include "conformance.h"

namespace conformance {
namespace {

std::string g_windows = "win98se";

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(path);
      else
        DeleteFileA(path.c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

void RemoveKeyTree(HKEY parent, const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char child[256];
  for (;;) {
    DWORD size = sizeof child;
    if (RegEnumKeyExA(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    RemoveKeyTree(key, child);
  }
  RegCloseKey(key);
  RegDeleteKeyA(parent, name.c_str());
}

class CleanScratch : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    SetCurrentDirectoryA("C:\\");
    RemoveTree(kScratch);
    RemoveKeyTree(HKEY_CURRENT_USER, kRegistryKey);
    if (!CreateDirectoryA(kScratch, nullptr)) ADD_FAILURE() << "cannot create " << kScratch;
  }
};

}  // namespace

bool OnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
const std::string& ExpectedWindows() { return g_windows; }

bool ReadOnlyHonoured() {
  static const bool honoured = [] {
    const std::string probe = Scratch("READONLY.PRB");
    if (!WriteBytes(probe, "x") || !SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY)) return true;
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool refused = file == INVALID_HANDLE_VALUE;
    if (!refused) CloseHandle(file);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return refused;
  }();
  return honoured;
}

}  // namespace conformance

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--windows=", 10) == 0) conformance::g_windows = argv[i] + 10;
  ::testing::UnitTest::GetInstance()->listeners().Append(new conformance::CleanScratch);
  return RUN_ALL_TESTS();
}
