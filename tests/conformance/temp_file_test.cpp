// What the CONFIG.SYS tool relies on besides files and the registry: a temporary file name that
// the system picks and creates, and the comparison of a machine name's first nine characters.
#include <cstdio>

#include "conformance.h"

namespace conformance {
namespace {

TEST(TempFile, NumberZeroPicksAFreeNameAndCreatesTheEmptyFile) {
  char first[MAX_PATH], second[MAX_PATH], expected[MAX_PATH];
  const UINT n = GetTempFileNameA(kScratch, "zyx", 0, first);
  ASSERT_NE(n, 0u);
  // Systems differ in the letter case of the number and the extension, which names ignore.
  std::snprintf(expected, sizeof expected, "%s\\zyx%X.TMP", kScratch, n);
  EXPECT_EQ(lstrcmpiA(first, expected), 0) << first;
  EXPECT_EQ(ReadBytes(first), "");
  ASSERT_NE(GetTempFileNameA(kScratch, "zyx", 0, second), 0u);
  EXPECT_NE(lstrcmpiA(first, second), 0);
  EXPECT_TRUE(Exists(first));
}

TEST(TempFile, AGivenNumberOnlyFormsTheName) {
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(Scratch("").c_str(), "zyxw", 0x1A2B, name), 0x1A2Bu);
  EXPECT_EQ(lstrcmpiA(name, Scratch("zyx1A2B.TMP").c_str()), 0) << name;
  EXPECT_FALSE(Exists(name));
}

TEST(TempFile, AMissingFolderFails) {
  char name[MAX_PATH];
  SetLastError(0);
  EXPECT_EQ(GetTempFileNameA(Scratch("MISSING").c_str(), "zyx", 0, name), 0u);
  EXPECT_9X(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND), static_cast<DWORD>(267));  // NT: ERROR_DIRECTORY
  EXPECT_FALSE(Exists(Scratch("MISSING")));
}

TEST(Text, CompareStringOfTheFirstNineCharactersIgnoringCase) {
  const char prefix[] = "KVO QT-51";
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "kVo Qt-51 A", 9, prefix, 9), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "KVO QT-52", 9, prefix, 9), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "KVO QT-5", 8, prefix, 9), CSTR_LESS_THAN);
  EXPECT_NE(CompareStringA(LOCALE_USER_DEFAULT, 0, "kvo qt-51", 9, prefix, 9), CSTR_EQUAL);
  // A shorter name in a zeroed buffer, compared over nine bytes, never matches.
  const char short_name[32] = "KVO QT-5";
  EXPECT_NE(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, short_name, 9, prefix, 9), CSTR_EQUAL);
}

}  // namespace
}  // namespace conformance
