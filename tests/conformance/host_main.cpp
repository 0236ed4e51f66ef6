// The conformance checks on our platform: every check gets a fresh temporary machine of the
// Windows given by --windows=NAME (a machine preset; win98se when absent) with a Japanese keyboard
// (type 7) and an empty scratch folder C:\CONFORM.
#include <cstring>
#include <memory>

#include "conformance.h"
#include "testing/test_machine.h"

namespace conformance {
namespace {

std::string g_windows = "win98se";

class FreshMachine : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    w9x::testing::TestMachineOptions options;
    options.preset = g_windows;
    options.preset_options.keyboard_type = 7;
    machine_ = std::make_unique<w9x::testing::TestMachine>(options);
    if (!CreateDirectoryA(kScratch, nullptr)) ADD_FAILURE() << "cannot create " << kScratch;
  }
  void OnTestEnd(const ::testing::TestInfo&) override { machine_.reset(); }

  std::unique_ptr<w9x::testing::TestMachine> machine_;
};

}  // namespace

bool OnWine() { return false; }
bool ReadOnlyHonoured() { return true; }
const std::string& ExpectedWindows() { return g_windows; }

}  // namespace conformance

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--windows=", 10) == 0) conformance::g_windows = argv[i] + 10;
  ::testing::UnitTest::GetInstance()->listeners().Append(new conformance::FreshMachine);
  return RUN_ALL_TESTS();
}
