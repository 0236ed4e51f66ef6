// Starting programs and the single-instance mutex.
#include <string>

#include "conformance.h"

namespace conformance {
namespace {

TEST(Process, WinExecOfAMissingFile) {
  // WinExec answers like the old LoadModule: a value above 31 for a started program, an error
  // code otherwise (2: file not found).
  const std::string missing = Scratch("NOPROG.EXE");
  EXPECT_EQ(WinExec(missing.c_str(), SW_HIDE), 2u);
  EXPECT_EQ(WinExec((missing + " C:\\CONFORM\\SETUP.INF").c_str(), SW_HIDE), 2u);
  EXPECT_EQ(WinExec("NOPROGRAM-ANYWHERE", SW_HIDE), 2u);
}

TEST(Process, SecondMutexOfTheSameNameReportsItExists) {
  SetLastError(0);
  HANDLE first = CreateMutexA(nullptr, FALSE, "KitConformanceMutex");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexA(nullptr, FALSE, "KitConformanceMutex");
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(second);
  CloseHandle(first);
  SetLastError(0);
  HANDLE again = CreateMutexA(nullptr, FALSE, "KitConformanceMutex");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(again);
}

}  // namespace
}  // namespace conformance
