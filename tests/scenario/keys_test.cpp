// `w9x keys`: the driver in the simulated kernel of a machine, as a user runs it.
#include <gtest/gtest.h>

#include <sstream>

#include "scenario_support.h"

namespace scenario {
namespace {

std::vector<nlohmann::json> Lines(const std::string& out) {
  std::vector<nlohmann::json> events;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) events.push_back(nlohmann::json::parse(line));
  return events;
}

std::vector<nlohmann::json> Only(const std::vector<nlohmann::json>& events, const std::string& name) {
  std::vector<nlohmann::json> out;
  for (auto& e : events)
    if (e["event"] == name) out.push_back(e);
  return out;
}

TEST(KeysScenario, ButtonsBecomeInputReports) {
  Machine m("win98se");
  Result r = W9x({"keys", m.Root().string(), "5E", "DE", "63", "E3", "E0", "5E", "DE", "C2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("attributes 4B56/003D/0101"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("scan 5E: passed on unchanged\n  input report 010000810000000000  key 0x81 down\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("scan E0: passed on unchanged\nscan 5E"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0 events queued"), std::string::npos);
  EXPECT_NE(r.out.find("0 pool blocks left after unload"), std::string::npos);
  EXPECT_NE(r.out.find("each completed exactly once"), std::string::npos);
}

TEST(KeysScenario, JsonLinesForScripts) {
  Machine m("win98");
  Result r = W9x({"keys", m.Root().string(), "--json", "5E", "DE", "42", "C2"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto events = Lines(r.out);
  auto reports = Only(events, "report");
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0]["report"], "010000810000000000");
  EXPECT_EQ(reports[0]["text"], "key 0x81 down");
  EXPECT_EQ(reports[1]["text"], "all keys up");
  auto scans = Only(events, "scan");
  ASSERT_EQ(scans.size(), 4u);
  for (auto& s : scans) EXPECT_TRUE(s["unchanged"].get<bool>());
  auto end = Only(events, "end").at(0);
  EXPECT_EQ(end["pool_blocks"], 0);
  EXPECT_TRUE(end["completed_once"].get<bool>());
  EXPECT_EQ(end["reads_pending"], 2);
}

// Three output reports written together complete 500, 1000 and 1500 ms later on the virtual
// clock; a stop after the first code leaves the second press queued until the start drops it.
TEST(KeysScenario, WritesPnpAndCancel) {
  Machine m("win98se");
  Result r = W9x({"keys", m.Root().string(), "--json", "--write", "01", "--write", "02", "--write", "03", "--stop", "1",
                  "--start", "2", "--cancel-read", "3", "--query-id", "5E", "DE", "5F", "DF"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto events = Lines(r.out);
  auto writes = Only(events, "write");
  ASSERT_EQ(writes.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(writes[i]["index"], i + 1);
    EXPECT_EQ(writes[i]["ms"], 500 * (i + 1));
  }
  EXPECT_EQ(Only(events, "query_id").at(0)["id"], "HIDMINI_Device");
  std::vector<std::string> texts;
  for (auto& e : Only(events, "report")) texts.push_back(e["text"]);
  // 5E delivered; DE captured while stopped and dropped by the start; 5F and DF delivered.
  EXPECT_EQ(texts, (std::vector<std::string>{"key 0x81 down", "key 0x82 down", "all keys up"}));
  auto cancelled = Only(events, "cancel");
  ASSERT_EQ(cancelled.size(), 1u);
  EXPECT_TRUE(cancelled[0]["cancelled"].get<bool>());
  EXPECT_EQ(Only(events, "end").at(0)["pool_blocks"], 0);
}

TEST(KeysScenario, FailuresOfTheMachine) {
  Machine m("win98se");
  Result fail_start = W9x({"keys", m.Root().string(), "--fail-start", "5E"});
  EXPECT_EQ(fail_start.exit_code, 0);
  EXPECT_NE(fail_start.out.find("device start: STATUS_UNSUCCESSFUL"), std::string::npos) << fail_start.out;
  Result no_hook = W9x({"keys", m.Root().string(), "--hook-fails", "5E", "DE"});
  EXPECT_NE(no_hook.out.find("no keyboard filter"), std::string::npos);
  EXPECT_EQ(no_hook.out.find("input report 01"), std::string::npos) << no_hook.out;
  Result chain = W9x({"keys", m.Root().string(), "--json", "--module", "hidparse.sys=extra.sys", "--module", "extra.sys=", "5E"});
  auto loads = Only(Lines(chain.out), "end").at(0)["module_loads"];
  EXPECT_EQ(loads, nlohmann::json({"hidclass.sys -12", "hidparse.sys -12", "extra.sys 0", "hidparse.sys 0", "hidclass.sys 0"}));
  Result oom = W9x({"keys", m.Root().string(), "--fail-alloc", "3", "5E", "DE", "5F"});
  EXPECT_EQ(oom.exit_code, 0) << oom.err;
  EXPECT_NE(oom.out.find("0 pool blocks left after unload"), std::string::npos);
}

struct RunnerErrorCase {
  const char* name;
  const char* preset;  // "" for no machine
  std::vector<std::string> args;
};

const RunnerErrorCase kErrors[] = {
    {"Win95HasNoWdm", "win95", {"5E"}},
    {"Win95Osr2HasNoWdm", "win95osr2", {"5E"}},
    {"Nt4HasNoWdm", "nt4", {"5E"}},
    {"NoMachine", "", {"5E"}},
    {"NotAScanCode", "win98se", {"5G"}},
    {"ScanCodeTooLong", "win98se", {"15E"}},
    {"UnknownOption", "win98se", {"--frobnicate"}},
    {"OptionWithoutValue", "win98se", {"--stop"}},
};

class KeysRunnerError : public ::testing::TestWithParam<RunnerErrorCase> {};

TEST_P(KeysRunnerError, OneLineAndExit125) {
  const RunnerErrorCase& c = GetParam();
  std::unique_ptr<Machine> m;
  std::vector<std::string> args = {"keys"};
  if (*c.preset) {
    m = std::make_unique<Machine>(c.preset);
    args.push_back(m->Root().string());
  } else {
    args.push_back("/nonexistent/machine");
  }
  args.insert(args.end(), c.args.begin(), c.args.end());
  Result r = W9x(args);
  EXPECT_EQ(r.exit_code, 125);
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Keys, KeysRunnerError, ::testing::ValuesIn(kErrors), [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace scenario
