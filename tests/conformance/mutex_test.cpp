// The named mutex that keeps a second copy of a program from running.
#include "conformance.h"

namespace conformance {
namespace {

TEST(Mutex, SecondOfTheSameNameReportsItExists) {
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
