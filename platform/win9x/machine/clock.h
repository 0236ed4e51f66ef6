// Time as a simulated process sees it: real, or virtual under `w9x run --fast`, where waiting
// takes no time but the clock still moves on by the time waited.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace w9x {

class Clock {
 public:
  explicit Clock(bool virtual_time = false) : virtual_(virtual_time), start_(std::chrono::steady_clock::now()) {}
  bool IsVirtual() const { return virtual_; }
  void Wait(std::uint32_t milliseconds);
  // Milliseconds since the process started (what GetTickCount counts from here).
  std::uint64_t Elapsed() const;
  // Moves a virtual clock on without waiting (a virtual timer that comes due); any thread.
  void Advance(std::uint64_t milliseconds) { waited_ += milliseconds; }

 private:
  bool virtual_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<std::uint64_t> waited_{0};  // virtual time added by waits (any thread)
};

}  // namespace w9x
