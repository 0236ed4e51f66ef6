// What the programs learn about the running Windows: the version record, its classification into
// the kit's kinds of Windows, the keyboard and the code page.
#include <cstring>

#include "conformance.h"

namespace conformance {
namespace {

struct Reported {
  const char* windows;
  DWORD major, minor, build;
  int kind;  // 2: 9x other than 4.10, 4: 4.10 other than build 2222, 128: 4.10 build 2222
};

constexpr Reported kReported[] = {
    {"win95", 4, 0, 950, 2},
    {"win98", 4, 10, 1998, 4},
    {"win98se", 4, 10, 2222, 128},
};

// The update program's classification of a version record.
int KindOf(const OSVERSIONINFOA& v) {
  switch (v.dwPlatformId) {
    case VER_PLATFORM_WIN32s: return 1;
    case VER_PLATFORM_WIN32_WINDOWS: {
      if (v.dwMajorVersion != 4 || v.dwMinorVersion != 10) return 2;
      return (v.dwBuildNumber & 0xFFFF) == 2222 ? 128 : 4;
    }
    case VER_PLATFORM_WIN32_NT: return 8;
    default: return 0;
  }
}

const Reported& Expected() {
  for (const Reported& r : kReported)
    if (ExpectedWindows() == r.windows) return r;
  ADD_FAILURE() << "unknown --windows=" << ExpectedWindows();
  return kReported[2];
}

TEST(Version, ClassifiesTheReportedWindows) {
  const Reported& expected = Expected();
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_EQ(sizeof v, 148u);
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_EQ(v.dwMajorVersion, expected.major);
  EXPECT_EQ(v.dwMinorVersion, expected.minor);
  EXPECT_EQ(v.dwBuildNumber & 0xFFFF, expected.build);
  // Windows 9x repeats the version in the build number's high word.
  EXPECT_EQ(v.dwBuildNumber >> 16, (expected.major << 8) | expected.minor);
  EXPECT_LT(std::strlen(v.szCSDVersion), sizeof v.szCSDVersion);
  EXPECT_EQ(KindOf(v), expected.kind) << expected.windows;
}

TEST(Version, RecordSizeMustBeKnown) {
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = sizeof v - 1;
  EXPECT_FALSE(GetVersionExA(&v));
  // The extended record (156 bytes) came with Windows NT 4.0 SP6 and 2000; Windows 9x refuses it.
  struct {
    OSVERSIONINFOA base;
    WORD service_pack_major, service_pack_minor, suite_mask;
    BYTE product_type, reserved;
  } extended;
  std::memset(&extended, 0, sizeof extended);
  extended.base.dwOSVersionInfoSize = 156;
  ASSERT_EQ(sizeof extended, 156u);
  EXPECT_9X(GetVersionExA(&extended.base), FALSE, TRUE);
}

TEST(Keyboard, JapaneseKeyboardType) {
  EXPECT_EQ(GetKeyboardType(0), 7);
  EXPECT_EQ(GetKeyboardType(2), 12);  // function keys
}

TEST(CodePage, IsJapanese) { EXPECT_EQ(GetACP(), 932u); }

}  // namespace
}  // namespace conformance
