// The keyboard filter: every scan code, the key events it makes, and the class driver load.
#include "driver_fixture.h"

namespace korvex_test {
namespace {

std::string Report(int usage) {
  char b[32];
  std::snprintf(b, sizeof b, "010000%02X0000000000", usage);
  return b;
}

// All 256 bytes, each sent once in a row on a started device: which make a report, and that
// every one passes on unchanged.
TEST_F(DriverTest, ScanCodeTable) {
  const std::map<int, int> table = {
      {0x5E, 0x81}, {0x5F, 0x82}, {0x63, 0x83}, {0x67, 0x6D}, {0x6B, 0x6E},
      {0xDE, 0}, {0xDF, 0}, {0xE3, 0}, {0xE7, 0}, {0xEB, 0},
      {0xC2, 0}, {0xC3, 0}, {0xC4, 0}, {0xD7, 0}, {0xD8, 0},
  };
  Boot();
  for (int code = 0; code < 256; ++code) {
    Keys({static_cast<uint8_t>(code)});
    auto it = table.find(code);
    const std::vector<std::string> expected =
        it == table.end() ? std::vector<std::string>{} : std::vector<std::string>{Report(it->second)};
    EXPECT_EQ(Reports(), expected) << "scan code " << code;
    EXPECT_EQ(wdm::vxd::TakePassedOn(), std::vector<uint8_t>{static_cast<uint8_t>(code)}) << "scan code " << code;
    EXPECT_EQ(FilterScanCode(0xABCD0000u | static_cast<unsigned>(code)), static_cast<unsigned long>(code) & 0xFF);
    Reports();
  }
}

struct SequenceCase {
  const char* name;
  std::vector<uint8_t> codes;
  std::vector<int> usages;  // the reports, in order
};

const SequenceCase kSequences[] = {
    {"PressRelease", {0x5E, 0xDE}, {0x81, 0}},
    // a second button while the first is held: only the second; either release is all-up
    {"SecondButtonWhileHeld", {0x5E, 0x63, 0xDE, 0xE3}, {0x81, 0x83, 0, 0}},
    // F8..F12 releases are all-up even with no button down; their presses are nothing
    {"FunctionKeys", {0x42, 0xC2, 0x43, 0xC3, 0x44, 0xC4, 0x57, 0xD7, 0x58, 0xD8}, {0, 0, 0, 0, 0}},
    // a prefix byte is looked up on its own
    {"Prefixed", {0xE0, 0x5E, 0xE0, 0xDE}, {0x81, 0}},
    // typematic repeats of a held button make no further press
    {"Typematic", {0x5E, 0x5E, 0x5E, 0x5E, 0xDE}, {0x81, 0}},
    {"TypematicPrefixed", {0xE0, 0x5E, 0xE0, 0x5E, 0xE0, 0xDE}, {0x81, 0}},
    // a new press after a release is a press again
    {"PressAgain", {0x5E, 0xDE, 0x5E, 0xDE}, {0x81, 0, 0x81, 0}},
    {"AlternatingButtons", {0x5E, 0x5F, 0x5E}, {0x81, 0x82, 0x81}},
};

class SequenceTest : public DriverTest, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(SequenceTest, MakesTheseReports) {
  Boot();
  for (uint8_t c : GetParam().codes) Keys({c});
  std::vector<std::string> expected;
  for (int u : GetParam().usages) expected.push_back(Report(u));
  EXPECT_EQ(Reports(), expected);
  EXPECT_EQ(wdm::vxd::TakePassedOn(), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(Sequences, SequenceTest, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, EventsBeforeTheFirstStartAreDropped) {
  ASSERT_EQ(cls_->LoadMinidriver(DriverEntry), STATUS_SUCCESS);
  ASSERT_EQ(cls_->AddDevice(), STATUS_SUCCESS);
  Keys({0x5E, 0xDE});
  EXPECT_EQ(Events(), 2u);
  ASSERT_EQ(cls_->StartDevice(), STATUS_SUCCESS);
  EXPECT_EQ(Events(), 0u);
  Keys({0x5F});
  EXPECT_EQ(Reports(), std::vector<std::string>{Report(0x82)});
}

TEST_F(DriverTest, HookFailureMeansNoEventsButCodesPass) {
  wdm::vxd::SetHookFailure(true);
  Boot();
  EXPECT_EQ(PreviousFilter, nullptr);
  Keys({0x5E, 0xDE});
  EXPECT_TRUE(Reports().empty());
  EXPECT_EQ(wdm::vxd::TakePassedOn(), (std::vector<uint8_t>{0x5E, 0xDE}));
}

// The class driver module is loaded on the first button press, its missing imports first; once
// resolved, no press queues another load, and a release never does.
TEST_F(DriverTest, FirstPressLoadsTheClassDriverWithItsImports) {
  Boot();
  Keys({0xDE});
  wdm::WaitForWork();
  EXPECT_TRUE(wdm::vxd::LoadLog().empty());
  Keys({0x5E});
  wdm::WaitForWork();
  EXPECT_NE(ResolvedRegisterEntry, nullptr);
  const auto log = wdm::vxd::LoadLog();
  std::vector<std::string> names;
  std::vector<long> results;
  for (auto& l : log) {
    names.push_back(l.name);
    results.push_back(l.result);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"hidclass.sys", "hidparse.sys", "hidclass.sys"}));
  EXPECT_EQ(results, (std::vector<long>{-12, 0, 0}));
  Keys({0xDE, 0x5F, 0xDF});
  wdm::WaitForWork();
  EXPECT_EQ(wdm::vxd::LoadLog().size(), 3u);
}

struct LoaderCase {
  const char* name;
  std::vector<wdm::vxd::Module> modules;
  std::vector<std::string> loads;  // the module loads of the first press, in order
  bool resolved;
};

const LoaderCase kLoaders[] = {
    {"ChainOfThree",
     {{"hidclass.sys", {"a.sys"}, {"HidRegisterMinidriver"}}, {"a.sys", {"b.sys"}, {}}, {"b.sys", {}, {}}},
     {"hidclass.sys", "a.sys", "b.sys", "a.sys", "hidclass.sys"},
     true},
    {"TwoMissingImports",
     {{"hidclass.sys", {"a.sys", "b.sys"}, {"HidRegisterMinidriver"}}, {"a.sys", {}, {}}, {"b.sys", {}, {}}},
     {"hidclass.sys", "a.sys", "hidclass.sys", "b.sys", "hidclass.sys"},
     true},
    {"ImportFileMissing",
     {{"hidclass.sys", {"gone.sys"}, {"HidRegisterMinidriver"}}},
     {"hidclass.sys", "gone.sys"},
     false},
    {"NoClassDriverFile", {}, {"hidclass.sys"}, false},
    {"ExportMissing", {{"hidclass.sys", {}, {"Other"}}}, {"hidclass.sys"}, false},
    // imports that form a cycle end in a failure, not a crash
    {"ImportCycle",
     {{"hidclass.sys", {"a.sys"}, {"HidRegisterMinidriver"}}, {"a.sys", {"b.sys"}, {}}, {"b.sys", {"a.sys"}, {}}},
     {},
     false},
};

class LoaderTest : public DriverTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(LoaderTest, LoadsImportsFirst) {
  const LoaderCase& c = GetParam();
  wdm::vxd::SetModules(c.modules);
  Boot();
  Keys({0x5E});
  wdm::WaitForWork();
  EXPECT_EQ(ResolvedRegisterEntry != nullptr, c.resolved);
  std::vector<std::string> names;
  for (auto& l : wdm::vxd::LoadLog()) names.push_back(l.name);
  if (!c.loads.empty()) {
    EXPECT_EQ(names, c.loads);
  }
  // Unresolved: the next press tries again.
  Keys({0xDE, 0x5E});
  wdm::WaitForWork();
  EXPECT_EQ(wdm::vxd::LoadLog().size() > names.size(), !c.resolved);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderTest, ::testing::ValuesIn(kLoaders),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korvex_test
