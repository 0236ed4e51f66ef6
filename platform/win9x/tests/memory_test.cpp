// The Global* memory family.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;

bool AllZero(const char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

TEST(GlobalMemory, MoveableBlockLocksAndGrowsKeepingItsContent) {
  TestMachine m;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 260);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 260u);
  char* p = static_cast<char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(AllZero(p, 260));
  EXPECT_EQ(GlobalHandle(p), h);
  std::memset(p, 'A', 260);
  EXPECT_EQ(GlobalUnlock(h), FALSE);  // the last lock
  EXPECT_EQ(GetLastError(), DWORD{NO_ERROR});

  EXPECT_EQ(GlobalReAlloc(h, 520, GMEM_MOVEABLE | GMEM_ZEROINIT), h);  // same handle
  p = static_cast<char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 260), std::string(260, 'A'));
  EXPECT_TRUE(AllZero(p + 260, 260));
  GlobalUnlock(h);

  EXPECT_EQ(GlobalReAlloc(h, 10, GMEM_MOVEABLE), h);
  EXPECT_EQ(GlobalSize(h), 10u);
  EXPECT_EQ(GlobalFree(h), nullptr);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_EQ(GlobalFree(h), h);  // not twice
}

TEST(GlobalMemory, LockCountAndBlocksThatMayNotMove) {
  TestMachine m;
  HGLOBAL h = GlobalAlloc(GHND, 16);
  char* first = static_cast<char*>(GlobalLock(h));
  EXPECT_EQ(GlobalLock(h), first);
  EXPECT_EQ(GlobalUnlock(h), TRUE);  // still locked once
  // A locked block keeps its address unless the caller lets it move.
  EXPECT_EQ(GlobalReAlloc(h, 32, GMEM_ZEROINIT), nullptr);
  EXPECT_EQ(GlobalSize(h), 16u);
  EXPECT_EQ(GlobalUnlock(h), FALSE);
  EXPECT_EQ(GlobalUnlock(h), FALSE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_LOCKED});
  GlobalFree(h);

  // A fixed block's handle is its address.
  HGLOBAL fixed = GlobalAlloc(GPTR, 8);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(GlobalLock(fixed), fixed);
  EXPECT_EQ(GlobalHandle(fixed), fixed);
  EXPECT_TRUE(AllZero(static_cast<char*>(fixed), 8));
  EXPECT_EQ(GlobalReAlloc(fixed, 64, 0), nullptr);
  HGLOBAL moved = GlobalReAlloc(fixed, 64, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(GlobalSize(moved), 64u);
  EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(GlobalMemory, RefusalsAreErrorsNotCrashes) {
  TestMachine m;
  EXPECT_EQ(GlobalAlloc(GHND, SIZE_T{0x80000000}), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_ENOUGH_MEMORY});
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalLock(empty), nullptr);  // nothing to lock
  EXPECT_EQ(GlobalReAlloc(empty, SIZE_T{0x80000000}, GMEM_MOVEABLE), nullptr);
  GlobalFree(empty);
  int local = 0;
  EXPECT_EQ(GlobalHandle(&local), nullptr);
  EXPECT_EQ(GlobalLock(reinterpret_cast<HGLOBAL>(0x1234)), nullptr);
  EXPECT_EQ(GlobalSize(nullptr), 0u);
}

}  // namespace
}  // namespace w9x
