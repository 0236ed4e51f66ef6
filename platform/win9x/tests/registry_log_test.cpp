// The registry's change log: what a change acknowledged to a program survives (a killed writer, a
// log cut in the middle of a record, a fold cut short, a file replaced by hand), and changes of
// several processes at once are all kept.
#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "machine/host_file.h"
#include "machine/machine.h"
#include "machine/process.h"
#include "testing/test_machine.h"

namespace w9x {
namespace {

using testing::TestMachine;

bool SetString(const char* key_path, const std::string& name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key_path, &key) != ERROR_SUCCESS) return false;
  const LONG error = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return error == ERROR_SUCCESS;
}

// The value as a program that starts now on the machine reads it; "(none)" when absent.
std::string ReadFresh(const fs::path& root, const char* key_path, const std::string& name) {
  RegistryStore store(root / "registry.reg", root / ".w9x" / "registry.lock");
  KeyResult key = store.Tree().Open(std::string("HKEY_LOCAL_MACHINE\\") + key_path);
  if (key.status != RegStatus::kOk) return "(none)";
  const RegistryValue* value = key.key->FindValue(name);
  if (!value || value->data.empty()) return "(none)";
  return std::string(value->data.begin(), value->data.end() - 1);
}

// Runs `body` in a child process with a machine and a process of its own on the image.
template <typename Body>
pid_t Fork(const fs::path& root, Body body) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int code = 0;
  try {
    Machine machine(root);
    Process process("C:\\KIT\\DRUPDATE.EXE", "C:\\KIT\\DRUPDATE.EXE", *ParseFullPath("C:\\KIT"));
    ScopedContext context(machine, process);
    code = body();
  } catch (...) {
    code = 99;
  }
  std::_Exit(code);
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(RegistryLog, AChangeIsInTheLogNotInTheFileUntilFolded) {
  TestMachine m;
  const std::optional<std::string> before = ReadHostFile(m.Root() / "registry.reg");
  ASSERT_TRUE(SetString("Soft", "V", "one"));
  EXPECT_EQ(ReadHostFile(m.Root() / "registry.reg"), before) << "a change rewrites the whole file";
  EXPECT_EQ(ReadFresh(m.Root(), "Soft", "V"), "one");
  ASSERT_TRUE(m.machine().Registry().Fold());
  EXPECT_FALSE(fs::exists(m.machine().Registry().LogFile()));
  EXPECT_NE(ReadHostFile(m.Root() / "registry.reg")->find("\"V\"=\"one\""), std::string::npos);
  EXPECT_EQ(ReadFresh(m.Root(), "Soft", "V"), "one");
}

// A writer killed in the middle of a record: the records before it hold, the cut one and what
// follows it are ignored, and the next change replaces the cut record.
TEST(RegistryLog, ARecordCutShortOrDamagedEndsTheLog) {
  struct Case {
    const char* name;
    std::function<void(std::string& log, std::size_t last_record)> damage;
  } cases[] = {
      {"cut in the record's length", [](std::string& log, std::size_t at) { log.resize(at + 2); }},
      {"cut after the record's header", [](std::string& log, std::size_t at) { log.resize(at + 8); }},
      {"cut in the middle of the payload", [](std::string& log, std::size_t at) { log.resize((at + log.size()) / 2); }},
      {"one byte short", [](std::string& log, std::size_t) { log.pop_back(); }},
      {"a byte of the payload changed", [](std::string& log, std::size_t) { log[log.size() - 3] ^= 0x40; }},
      {"a length past the end", [](std::string& log, std::size_t at) { log[at + 3] = 0x7F; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine m;
    const fs::path log_file = m.machine().Registry().LogFile();
    // The writer, another process.
    ASSERT_EQ(Wait(Fork(m.Root(), [] { return SetString("Soft", "Kept", "yes") ? 0 : 1; })), 0);
    const std::size_t last_record = ReadHostFile(log_file)->size();
    ASSERT_EQ(Wait(Fork(m.Root(), [] { return SetString("Soft", "Cut", "yes") ? 0 : 1; })), 0);
    std::string log = *ReadHostFile(log_file);
    c.damage(log, last_record);
    std::ofstream(log_file, std::ios::binary | std::ios::trunc) << log;

    EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Kept"), "yes");
    EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Cut"), "(none)");
    // Another process appends after the last whole record.
    ASSERT_EQ(Wait(Fork(m.Root(), [] { return SetString("Soft", "Next", "yes") ? 0 : 1; })), 0);
    EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Next"), "yes");
    EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Cut"), "(none)");
    ASSERT_TRUE(m.machine().Registry().Fold());
    const std::string text = *ReadHostFile(m.Root() / "registry.reg");
    EXPECT_NE(text.find("\"Kept\"=\"yes\"\n\"Next\"=\"yes\""), std::string::npos) << text;
    EXPECT_EQ(text.find("Cut"), std::string::npos);
  }
}

// A writer killed at any moment: every change it was told had succeeded is there, and the file
// and the log still read.
TEST(RegistryLog, AKilledWriterLosesNoAcknowledgedChange) {
  TestMachine m;
  for (int round = 0; round < 3; ++round) {
    int acknowledged[2];
    ASSERT_EQ(pipe(acknowledged), 0);
    const pid_t writer = Fork(m.Root(), [&] {
      close(acknowledged[0]);
      for (int i = 0;; ++i) {
        if (!SetString("Killed", "R" + std::to_string(round) + "V" + std::to_string(i), "x")) return 1;
        if (write(acknowledged[1], &i, sizeof i) != sizeof i) return 1;
        // Every so often a fold too, so that the kill may also fall into one.
        if (i % 40 == 39 && !CurrentMachine().Registry().Fold()) return 1;
      }
    });
    close(acknowledged[1]);
    int last = -1, i = 0;
    while (last < 30 + 25 * round && read(acknowledged[0], &i, sizeof i) == sizeof i) last = i;
    kill(writer, SIGKILL);
    EXPECT_EQ(Wait(writer), -SIGKILL);
    while (read(acknowledged[0], &i, sizeof i) == sizeof i) last = i;
    close(acknowledged[0]);

    RegistryStore store(m.Root() / "registry.reg", m.Root() / ".w9x" / "registry.lock");
    KeyResult key = store.Tree().Open("HKEY_LOCAL_MACHINE\\Killed");
    ASSERT_EQ(key.status, RegStatus::kOk);
    for (int v = 0; v <= last; ++v)
      EXPECT_NE(key.key->FindValue("R" + std::to_string(round) + "V" + std::to_string(v)), nullptr) << round << " " << v;
  }
  ASSERT_TRUE(m.machine().Registry().Fold());
  EXPECT_TRUE(RegistryTree::Parse(*ReadHostFile(m.Root() / "registry.reg")).tree);
}

// Writers in several processes at once, each folding now and then: every change of every one
// is kept.
TEST(RegistryLog, ChangesOfProcessesRunningAtOnceAreAllKept) {
  TestMachine m;
  constexpr int kWriters = 3, kChanges = 60;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(Fork(m.Root(), [w] {
      for (int i = 0; i < kChanges; ++i) {
        if (!SetString(("Many\\W" + std::to_string(w)).c_str(), "V" + std::to_string(i), std::to_string(i))) return 1;
        if (!SetString("Many", "Last" + std::to_string(w), std::to_string(i))) return 1;
        if (i % 25 == 24 && !CurrentMachine().Registry().Fold()) return 1;
      }
      return 0;
    }));
  }
  for (pid_t pid : writers) EXPECT_EQ(Wait(pid), 0);
  for (bool folded : {false, true}) {
    if (folded) {
      ASSERT_TRUE(m.machine().Registry().Fold());
    }
    RegistryStore store(m.Root() / "registry.reg", m.Root() / ".w9x" / "registry.lock");
    for (int w = 0; w < kWriters; ++w) {
      KeyResult key = store.Tree().Open("HKEY_LOCAL_MACHINE\\Many\\W" + std::to_string(w));
      ASSERT_EQ(key.status, RegStatus::kOk);
      EXPECT_EQ(key.key->ValueCount(), std::size_t{kChanges}) << w;
      EXPECT_EQ(ReadFresh(m.Root(), "Many", "Last" + std::to_string(w)), std::to_string(kChanges - 1));
    }
  }
  // This process saw them all too, without reading the file afresh.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Many\\W2", 0, KEY_READ, &key), ERROR_SUCCESS);
  char value[16];
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "V59", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
  RegCloseKey(key);
}

// A fold that replaced the file but was cut short before removing the log: the log's changes
// are in the file already and are not made a second time (which would reorder the keys).
TEST(RegistryLog, ALogAlreadyFoldedIsNotAppliedAgain) {
  TestMachine m;
  // Made again after a delete, K is last but one; applied again, K would go last.
  auto create = [](const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);
    RegCloseKey(key);
  };
  create("Order\\K");
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Order\\K"), ERROR_SUCCESS);
  create("Order\\K");
  create("Order\\K2");
  const fs::path log_file = m.machine().Registry().LogFile();
  // The fold is watched: the log as it stands when the new file is synced is the log a fold cut
  // short leaves.
  std::optional<std::string> log_at_rename;
  WatchSyncs([&](const fs::path& path) {
    if (path.filename().native().starts_with(".w9x-tmp-")) log_at_rename = ReadHostFile(log_file);
  });
  ASSERT_TRUE(m.machine().Registry().Fold());
  WatchSyncs(nullptr);
  ASSERT_TRUE(log_at_rename);
  std::ofstream(log_file, std::ios::binary) << *log_at_rename;

  // A change appended after the fold record, by another process, counts.
  ASSERT_EQ(Wait(Fork(m.Root(), [] { return SetString("Order", "After", "yes") ? 0 : 1; })), 0);

  RegistryStore store(m.Root() / "registry.reg", m.Root() / ".w9x" / "registry.lock");
  KeyResult order = store.Tree().Open("HKEY_LOCAL_MACHINE\\Order");
  ASSERT_EQ(order.status, RegStatus::kOk);
  ASSERT_EQ(order.key->SubKeyCount(), 2u);
  EXPECT_EQ(order.key->SubKeyAt(0)->Name(), "K");
  EXPECT_EQ(order.key->SubKeyAt(1)->Name(), "K2");
  EXPECT_EQ(ReadFresh(m.Root(), "Order", "After"), "yes");
  ASSERT_TRUE(m.machine().Registry().Fold());
  EXPECT_NE(ReadHostFile(m.Root() / "registry.reg")->find("\"After\"=\"yes\""), std::string::npos);
}

// registry.reg replaced by a person while changes were pending (a killed run left its log): the
// edit is seen and the pending changes are made over it.
TEST(RegistryLog, AFileReplacedByHandKeepsThePendingChanges) {
  TestMachine m;
  ASSERT_TRUE(SetString("Soft", "Mine", "pending"));
  const fs::path temp = m.Root() / "registry.new";
  std::ofstream(temp, std::ios::binary) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Soft]\n\"Hand\"=\"edit\"\n\n";
  fs::rename(temp, m.Root() / "registry.reg");
  EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Hand"), "edit");
  EXPECT_EQ(ReadFresh(m.Root(), "Soft", "Mine"), "pending");
  ASSERT_TRUE(m.machine().Registry().Fold());
  EXPECT_EQ(*ReadHostFile(m.Root() / "registry.reg"),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\Soft]\n\"Hand\"=\"edit\"\n\"Mine\"=\"pending\"\n\n");
}

}  // namespace
}  // namespace w9x
