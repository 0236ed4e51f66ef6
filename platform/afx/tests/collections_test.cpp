#include "afx/collections.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::string> Contents(CStringList& list) {
  std::vector<std::string> out;
  for (POSITION pos = list.GetHeadPosition(); pos;) out.emplace_back(static_cast<LPCSTR>(list.GetNext(pos)));
  return out;
}

TEST(CAfxList, RemovingTheCurrentElementWhileWalking) {
  CStringList list;
  for (const char* s : {"a", "b", "c", "d"}) list.AddTail(s);
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    POSITION current = pos;
    CString& s = list.GetNext(pos);
    if (s == "b" || s == "d") list.RemoveAt(current);
  }
  EXPECT_EQ(Contents(list), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(list.GetCount(), 2);
}

TEST(CAfxList, HeadAndTailOperations) {
  CPtrList list;
  int a = 1, b = 2, c = 3;
  list.AddTail(&b);
  list.AddHead(&a);
  list.AddTail(&c);
  EXPECT_EQ(list.GetHead(), &a);
  EXPECT_EQ(list.GetTail(), &c);
  EXPECT_EQ(list.RemoveHead(), &a);
  EXPECT_EQ(list.RemoveTail(), &c);
  EXPECT_EQ(list.GetCount(), 1);
  list.RemoveAll();
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
}

}  // namespace
