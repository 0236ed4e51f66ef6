#include "machine/clock.h"

#include <thread>

namespace w9x {

void Clock::Wait(std::uint32_t milliseconds) {
  if (virtual_) {
    waited_ += milliseconds;
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t Clock::Elapsed() const {
  auto real = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  return static_cast<std::uint64_t>(real.count()) + waited_;
}

}  // namespace w9x
