// Failures the repairs meet after they started: they end quietly, and the run goes on.
#include "fixups.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "app_fixture.h"

namespace drupdate_test {
namespace {

// Makes every write past `limit` bytes of any file fail, as a full disk would, while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit l = saved_;
    l.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST(Fixups, AutoexecWriteFailingAfterTheOpenEndsTheRepairQuietly) {
  AppFixture f(Options("win98se"));
  const std::string content(4096, 'x');
  f.machine.WriteFile("C:\\AUTOEXEC.BAT", content);
  const std::size_t handles = f.machine.process().Handles().Count();
  {
    FileSizeLimit full_disk(content.size());
    EXPECT_NO_THROW(AppendAutoexecFlashLine());
  }
  EXPECT_EQ(f.machine.ReadFile("C:\\AUTOEXEC.BAT"), content);
  EXPECT_EQ(f.machine.process().Handles().Count(), handles) << "the file stays open";
  AppendAutoexecFlashLine();  // with room again, the line is added
  EXPECT_EQ(f.machine.ReadFile("C:\\AUTOEXEC.BAT"), content + "\r\n@C:\\FLASHKVO.EXE > nul\r\n");
}

TEST(Fixups, ReadOnlyAutoexecIsLeftAlone) {
  AppFixture f(Options("win98se"));
  const std::string before = f.machine.ReadFile("C:\\AUTOEXEC.BAT");
  ASSERT_TRUE(SetFileAttributesA("C:\\AUTOEXEC.BAT", FILE_ATTRIBUTE_READONLY));
  EXPECT_NO_THROW(AppendAutoexecFlashLine());
  EXPECT_EQ(f.machine.ReadFile("C:\\AUTOEXEC.BAT"), before);
}

TEST(Fixups, PadInfFileThatCannotBeDeletedLeavesTheOtherToBeTried) {
  TestMachineOptions o = Options("win95", true);
  o.session.fast = true;
  AppFixture f(o);
  f.machine.WriteFile("C:\\WINDOWS\\INF\\TUNDRIX.INF", "pad");
  f.machine.WriteFile("C:\\WINDOWS\\INF\\OTHER\\KVOTUNDRIX.INF", "pad");
  ASSERT_TRUE(SetFileAttributesA("C:\\WINDOWS\\INF\\TUNDRIX.INF", FILE_ATTRIBUTE_READONLY));
  EXPECT_NO_THROW(RemovePadInfFiles());
  EXPECT_TRUE(f.machine.Exists("C:\\WINDOWS\\INF\\TUNDRIX.INF"));
  EXPECT_FALSE(f.machine.Exists("C:\\WINDOWS\\INF\\OTHER\\KVOTUNDRIX.INF"));  // tried all the same

  // The whole run still reaches its closing message.
  EXPECT_FALSE(f.app.InitInstance());
  EXPECT_EQ(f.machine.Events("MessageBoxA").size(), 1u);
}

TEST(Fixups, DeleteKeyTreeRemovesEveryLevelAndLeavesSiblings) {
  AppFixture f;
  HKEY key = nullptr;
  for (const char* path : {"Root\\Gone\\A\\A1\\A2", "Root\\Gone\\B", "Root\\Kept\\C"}) {
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Root", 0, KEY_READ | KEY_WRITE, &root), ERROR_SUCCESS);
  DeleteKeyTree(root, "Gone");
  DeleteKeyTree(root, "Missing");  // nothing to remove
  RegCloseKey(root);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Root\\Gone", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Root\\Kept\\C", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace
}  // namespace drupdate_test
