#include "platform/clock.h"

#include <chrono>

namespace platform {
namespace {

class SteadyClock final : public Clock {
 public:
  std::uint32_t TickCount() override {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
  }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace platform
