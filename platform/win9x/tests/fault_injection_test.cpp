// Injected failures: each call that can fail on Windows fails when the process's fault plan says
// so, with the Windows error asked for, changes nothing, and the journal says why.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "machine/fault_plan.h"
#include "msvcrt/msvcrt.h"
#include "testing/test_machine.h"

namespace w9x {
namespace {

namespace fs = std::filesystem;
using testing::TestMachine;
using testing::TestMachineOptions;

// Every file of the machine image with its bytes and permission bits.
std::map<std::string, std::string> Image(const fs::path& root) {
  std::map<std::string, std::string> out;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(e.path(), root).string();
    if (name.starts_with(".w9x")) continue;
    auto perms = std::to_string(static_cast<int>(e.status().permissions()));
    if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      out[name] = perms + ":" + std::string((std::istreambuf_iterator<char>(in)), {});
    } else {
      out[name] = perms;
    }
  }
  return out;
}

struct Outcome {
  bool failed;
  DWORD error;  // the last error, or the code the call returns
};

Outcome Bool(BOOL ok) { return {ok == FALSE, GetLastError()}; }
Outcome Code(LONG code) { return {code != ERROR_SUCCESS, static_cast<DWORD>(code)}; }

struct Case {
  const char* call;
  std::function<Outcome()> act;  // the call on the prepared machine
};

HANDLE g_open = INVALID_HANDLE_VALUE;  // an open file for ReadFile and WriteFile

const Case kCases[] = {
    {"CopyFileA", [] { return Bool(CopyFileA("C:\\KIT\\A.TXT", "C:\\WINDOWS\\A.TXT", FALSE)); }},
    {"DeleteFileA", [] { return Bool(DeleteFileA("C:\\KIT\\A.TXT")); }},
    {"MoveFileA", [] { return Bool(MoveFileA("C:\\KIT\\A.TXT", "C:\\KIT\\B.TXT")); }},
    {"CreateDirectoryA", [] { return Bool(CreateDirectoryA("C:\\NEW", nullptr)); }},
    {"SetFileAttributesA", [] { return Bool(SetFileAttributesA("C:\\KIT\\A.TXT", FILE_ATTRIBUTE_HIDDEN)); }},
    {"CreateFileA",
     [] {
       HANDLE h = CreateFileA("C:\\KIT\\A.TXT", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
       return Outcome{h == INVALID_HANDLE_VALUE, GetLastError()};
     }},
    {"WriteFile",
     [] {
       DWORD done = 99;
       Outcome o = Bool(WriteFile(g_open, "xyz", 3, &done, nullptr));
       EXPECT_EQ(done, o.failed ? 0u : 3u);
       return o;
     }},
    {"ReadFile",
     [] {
       char buffer[8];
       DWORD done = 99;
       Outcome o = Bool(ReadFile(g_open, buffer, sizeof buffer, &done, nullptr));
       if (o.failed) {
         EXPECT_EQ(done, 0u);
       }
       return o;
     }},
    {"GetTempFileNameA",
     [] {
       char name[MAX_PATH];
       return Outcome{GetTempFileNameA("C:\\KIT", "KV", 0, name) == 0, GetLastError()};
     }},
    {"fopen",
     [] {
       FILE* f = w9x_fopen("C:\\KIT\\A.TXT", "w");
       Outcome o{f == nullptr, GetLastError()};
       if (f) fclose(f);
       return o;
     }},
    {"WritePrivateProfileStringA",
     [] { return Bool(WritePrivateProfileStringA("boot", "shell", "x.exe", "SYSTEM.INI")); }},
    {"WritePrivateProfileSectionA",
     [] { return Bool(WritePrivateProfileSectionA("rename", "NUL=C:\\A.TXT\0", "WININIT.INI")); }},
    {"RegCreateKeyA",
     [] {
       HKEY k = nullptr;
       return Code(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Fresh", &k));
     }},
    {"RegSetValueExA",
     [] { return Code(RegSetValueExA(HKEY_LOCAL_MACHINE, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2)); }},
    {"RegDeleteKeyA", [] { return Code(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software")); }},
    {"RegDeleteValueA", [] { return Code(RegDeleteValueA(HKEY_LOCAL_MACHINE, "Kept")); }},
    {"RegOpenKeyA",
     [] {
       HKEY k = nullptr;
       return Code(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software", &k));
     }},
    {"RegOpenKeyExA",
     [] {
       HKEY k = nullptr;
       return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &k));
     }},
    {"RegQueryValueExA", [] { return Code(RegQueryValueExA(HKEY_LOCAL_MACHINE, "Kept", nullptr, nullptr, nullptr, nullptr)); }},
    {"RegEnumKeyExA",
     [] {
       char name[64];
       DWORD size = sizeof name;
       return Code(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &size, nullptr, nullptr, nullptr, nullptr));
     }},
    {"GlobalAlloc",
     [] {
       HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
       return Outcome{h == nullptr, GetLastError()};
     }},
    {"GlobalReAlloc",
     [] {
       HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 16);
       return Outcome{GlobalReAlloc(h, 64, GMEM_MOVEABLE) == nullptr, GetLastError()};
     }},
    {"WinExec",
     [] {
       UINT result = WinExec("C:\\KIT\\TOOL.EXE", SW_SHOWNORMAL);  // below 32: the error of a failed start
       return Outcome{result < 32, result};
     }},
};

// Each call fails the first time with the error asked for (its usual one), and the machine image
// stays as it was; the call after that works again.
TEST(FaultInjection, EachCallFailsWithTheErrorAskedForAndChangesNothing) {
  for (const Case& c : kCases) {
    TestMachineOptions options;
    options.journal = true;
    TestMachine m(options);
    m.WriteFile("C:\\KIT\\A.TXT", "abc");
    m.WriteFile("C:\\KIT\\TOOL.EXE", "MZ");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Kvo", &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2), ERROR_SUCCESS);
    g_open = CreateFileA("C:\\KIT\\A.TXT", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(g_open, INVALID_HANDLE_VALUE);

    const DWORD error = *FaultPlan::UsualError(c.call);
    m.process().Faults().Fail(c.call, 1, error);
    auto before = Image(m.Root());
    SetLastError(0);
    Outcome first = c.act();
    EXPECT_TRUE(first.failed) << c.call;
    EXPECT_EQ(first.error, error) << c.call;
    EXPECT_EQ(Image(m.Root()), before) << c.call;
    auto faults = m.Events("InjectedFault");
    ASSERT_EQ(faults.size(), 1u) << c.call;
    EXPECT_EQ(faults[0]["call"], c.call);
    EXPECT_EQ(faults[0]["error"], error);

    Outcome second = c.act();
    EXPECT_FALSE(second.failed) << c.call << " error " << second.error;
    CloseHandle(g_open);
  }
}

TEST(FaultInjection, RunSettingsReachTheProcess) {
  TestMachineOptions options;
  options.session.faults = {FaultSpec{"CopyFileA", 2, 112}};
  TestMachine m(options);
  m.WriteFile("C:\\KIT\\A.TXT", "abc");
  EXPECT_TRUE(CopyFileA("C:\\KIT\\A.TXT", "C:\\B.TXT", FALSE));
  EXPECT_FALSE(CopyFileA("C:\\KIT\\A.TXT", "C:\\C.TXT", FALSE));
  EXPECT_EQ(GetLastError(), 112u);
  EXPECT_FALSE(m.Exists("C:\\C.TXT"));
  EXPECT_TRUE(CopyFileA("C:\\KIT\\A.TXT", "C:\\D.TXT", FALSE));
}

}  // namespace
}  // namespace w9x
