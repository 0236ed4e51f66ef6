// Failures a test or a dry run asks for: "the 3rd CopyFileA fails with error 112".  Each platform
// call that can fail on Windows asks the plan of its process before it does anything; when the
// plan says so, the call fails with that Windows error and changes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w9x {

// One request, as `w9x run --fail CALL[:N[:ERROR]]` gives it.
struct FaultSpec {
  std::string call;
  unsigned nth = 0;  // 1-based occurrence; 0: every call
  std::uint32_t error = 0;
  bool operator==(const FaultSpec&) const = default;
};

class FaultPlan {
 public:
  FaultPlan() = default;
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // The nth call named `call` (1-based; 0: every one) fails with `error`.
  void Fail(std::string call, unsigned nth, std::uint32_t error);
  // Counts one call of that name; the Windows error it must fail with, if any.  Safe to call from
  // several threads.
  std::optional<std::uint32_t> Next(std::string_view call);
  // How many calls of that name were counted so far.
  unsigned Count(std::string_view call) const;

  // The calls that can be made to fail, with the error Windows gives for their usual failure.
  static const std::map<std::string, std::uint32_t, std::less<>>& Calls();
  static std::optional<std::uint32_t> UsualError(std::string_view call);

 private:
  mutable std::mutex mutex_;
  std::vector<FaultSpec> rules_;
  std::map<std::string, unsigned, std::less<>> counts_;
};

// Reads "CALL[:N[:ERROR]]" (N decimal, ERROR decimal or 0x-hexadecimal, CALL one of
// FaultPlan::Calls()).  N defaults to 0 (every call), ERROR to the call's usual error.  On a
// malformed text gives nullopt and one line saying why in `problem`.
std::optional<FaultSpec> ParseFaultSpec(std::string_view text, std::string& problem);

}  // namespace w9x
