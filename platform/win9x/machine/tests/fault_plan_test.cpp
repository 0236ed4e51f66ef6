// The fault plan: which occurrence of which call fails, and how `--fail` texts read.
#include "machine/fault_plan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace w9x {
namespace {

TEST(FaultPlan, TheNthCallOfANameFailsAndOthersDoNot) {
  FaultPlan plan;
  plan.Fail("CopyFileA", 2, 112);
  plan.Fail("WinExec", 0, 8);
  std::vector<std::optional<std::uint32_t>> copies, deletes, starts;
  for (int i = 0; i < 3; ++i) {
    copies.push_back(plan.Next("CopyFileA"));
    deletes.push_back(plan.Next("DeleteFileA"));
    starts.push_back(plan.Next("WinExec"));
  }
  using O = std::optional<std::uint32_t>;
  EXPECT_EQ(copies, (std::vector<O>{std::nullopt, 112u, std::nullopt}));
  EXPECT_EQ(deletes, (std::vector<O>{std::nullopt, std::nullopt, std::nullopt}));
  EXPECT_EQ(starts, (std::vector<O>{8u, 8u, 8u}));
  EXPECT_EQ(plan.Count("CopyFileA"), 3u);
}

TEST(FaultPlan, CountsEveryCallFromEveryThread) {
  FaultPlan plan;
  plan.Fail("CreateThread", 400, 8);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        if (plan.Next("CreateThread")) ++failed;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(plan.Count("CreateThread"), 400u);
  EXPECT_EQ(failed, 1);
}

TEST(FaultPlan, ParsesCallCountAndError) {
  struct Case {
    std::string text;
    std::optional<FaultSpec> spec;
    std::string problem;  // part of the line when the text is refused
  } cases[] = {
      {"CopyFileA", FaultSpec{"CopyFileA", 0, 5}, ""},
      {"GlobalAlloc:3", FaultSpec{"GlobalAlloc", 3, 8}, ""},
      {"WriteFile:1:0x27", FaultSpec{"WriteFile", 1, 39}, ""},
      {"RegSetValueExA:0:1013", FaultSpec{"RegSetValueExA", 0, 1013}, ""},
      {"CreateThread:2", FaultSpec{"CreateThread", 2, 8}, ""},
      {"copyfilea", std::nullopt, "not a call that can be made to fail"},
      {"", std::nullopt, "not a call"},
      {"CopyFileA:x", std::nullopt, "N must be a decimal count"},
      {"CopyFileA:-1", std::nullopt, "N must be"},
      {"CopyFileA:", std::nullopt, "N must be"},
      {"CopyFileA:99999999999", std::nullopt, "N must be"},
      {"CopyFileA:1:", std::nullopt, "ERROR must be"},
      {"CopyFileA:1:0xZZ", std::nullopt, "ERROR must be"},
      {"CopyFileA:1:2:3", std::nullopt, "CALL[:N[:ERROR]]"},
  };
  for (const Case& c : cases) {
    std::string problem;
    auto spec = ParseFaultSpec(c.text, problem);
    EXPECT_EQ(spec, c.spec) << c.text;
    if (!c.spec) {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << ": " << problem;
      EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
  }
}

}  // namespace
}  // namespace w9x
