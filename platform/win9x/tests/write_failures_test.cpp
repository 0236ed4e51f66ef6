// Writes that fail on the host (a full disk): the call reports the Windows error, the journal
// says which, and the run is told so that its summary can name the file.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <string>

#include "msvcrt/msvcrt.h"
#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;
using testing::TestMachineOptions;

constexpr rlim_t kRoom = 64 * 1024;
constexpr DWORD kDiskFull = 112;  // ERROR_DISK_FULL

// Makes every write past kRoom bytes of any file fail, as a full disk would, while it lives.
class FullDisk {
 public:
  FullDisk() {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit l = saved_;
    l.rlim_cur = kRoom;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST(WriteFailures, AreReportedAsDiskFullAndNotedForTheRun) {
  TestMachine m(TestMachineOptions{.journal = true});
  const std::string big(kRoom * 2, 'x');
  // The profile is already larger than the room left, so rewriting it fails while the journal
  // line of the change stays short enough to be written.
  const std::string wininit = "[rename]\r\nNUL=" + big + "\r\n";
  m.WriteFile("C:\\WINDOWS\\WININIT.INI", wininit);
  {
    FullDisk full;
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("rename", "C:\\WINDOWS\\NEW.VXD", "C:\\KIT\\NEW.VXD", "WININIT.INI"));
    EXPECT_EQ(GetLastError(), kDiskFull);

    HANDLE h = CreateFileA("C:\\KIT\\BIG.BIN", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_FALSE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &done, nullptr));
    EXPECT_EQ(GetLastError(), kDiskFull);
    CloseHandle(h);

    FILE* f = w9x_fopen("C:\\KIT\\BIG.TXT", "w");
    ASSERT_NE(f, nullptr);
    fputs(big.c_str(), f);
    EXPECT_NE(fclose(f), 0);
  }
  EXPECT_EQ(m.ReadFile("C:\\WINDOWS\\WININIT.INI"), wininit);
  auto closes = m.Events("fclose");
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0]["result"], false);
  EXPECT_EQ(closes[0]["error"], kDiskFull);
  EXPECT_EQ(m.machine().RunSession().FailedWrites(),
            (std::vector<std::string>{"C:\\WINDOWS\\WININIT.INI (disk full)", "C:\\KIT\\BIG.BIN (disk full)",
                                      "C:\\KIT\\BIG.TXT (disk full)"}));
}

}  // namespace
}  // namespace w9x
