#include "afx/string.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// "表\" in code page 932: 95 5C 5C.  The first 5C is the trail byte of 表.
const char kHyouBackslash[] = "\x95\x5C\\";

TEST(CString, SearchesNeverStopAtATrailByte) {
  CString s = kHyouBackslash;
  EXPECT_EQ(s.Find('\\'), 2);
  EXPECT_EQ(s.ReverseFind('\\'), 2);
  EXPECT_EQ(CString("\x95\x5C").Find('\\'), -1);
  EXPECT_EQ(CString("a,b,c").Find(',', 2), 3);
  EXPECT_EQ(CString("abcabc").Find("ca"), 2);
  EXPECT_EQ(CString("abc").Find("cd"), -1);
}

TEST(CString, PiecesClampToTheString) {
  CString s = "ABCDEF";
  EXPECT_STREQ(s.Left(2), "AB");
  EXPECT_STREQ(s.Left(99), "ABCDEF");
  EXPECT_STREQ(s.Mid(4), "EF");
  EXPECT_STREQ(s.Mid(1, 2), "BC");
  EXPECT_STREQ(s.Mid(9), "");
  EXPECT_STREQ(s.Right(2), "EF");
}

TEST(CString, BufferRoundTrip) {
  CString s = "abc";
  char* p = s.GetBuffer(10);
  std::strcpy(p, "hello");
  s.ReleaseBuffer();
  EXPECT_STREQ(s, "hello");
  EXPECT_EQ(s.GetLength(), 5);
  p = s.GetBuffer(0);
  p[2] = '\0';
  s.ReleaseBuffer();
  EXPECT_STREQ(s, "he");
}

TEST(CString, ComparesAndConcatenates) {
  CString s = "Drupdate";
  s += ".INI";
  EXPECT_TRUE(s == "Drupdate.INI");
  EXPECT_EQ(s.CompareNoCase("DRUPDATE.ini"), 0);
  EXPECT_NE(s.Compare("DRUPDATE.ini"), 0);
  EXPECT_STREQ(CString("a") + 'b' + "c", "abc");
  CString empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_STREQ(empty, "");
}

}  // namespace
