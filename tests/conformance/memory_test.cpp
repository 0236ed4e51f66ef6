// Global memory as the update program grows its buffer for a whole INI section: a moveable,
// zero-filled block, locked to be used and grown keeping its content.
#include <cstring>
#include <string>

#include "conformance.h"

namespace conformance {
namespace {

bool AllZero(const char* p, SIZE_T n) {
  for (SIZE_T i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(GlobalMemory, MoveableZeroFilledBlockGrowsKeepingItsContent) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 260);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(GlobalSize(block), SIZE_T{260});
  char* p = static_cast<char*>(GlobalLock(block));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(AllZero(p, 260));
  EXPECT_EQ(GlobalHandle(p), block);
  std::memset(p, 'A', 260);
  SetLastError(12345);
  EXPECT_FALSE(GlobalUnlock(block));  // the last lock is gone
  EXPECT_EQ(GetLastError(), DWORD{NO_ERROR});

  HGLOBAL grown = GlobalReAlloc(block, 520, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_NE(grown, nullptr);
  p = static_cast<char*>(GlobalLock(grown));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 260), std::string(260, 'A'));
  EXPECT_TRUE(AllZero(p + 260, 260));
  EXPECT_EQ(GlobalHandle(p), grown);
  GlobalUnlock(grown);
  EXPECT_EQ(GlobalFree(grown), nullptr);
}

TEST(GlobalMemory, LocksAreCounted) {
  HGLOBAL block = GlobalAlloc(GHND, 16);
  ASSERT_NE(block, nullptr);
  void* first = GlobalLock(block);
  EXPECT_EQ(GlobalLock(block), first);
  EXPECT_TRUE(GlobalUnlock(block));  // still locked once
  EXPECT_FALSE(GlobalUnlock(block));
  EXPECT_EQ(GlobalFree(block), nullptr);
}

}  // namespace
}  // namespace conformance
