#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"
#include "app/wait.h"

namespace {

// A clock that moves only when the wait naps.
class SteppedClock final : public platform::Clock {
 public:
  explicit SteppedClock(std::uint32_t start) : now_(start) {}
  std::uint32_t TickCount() override { return now_; }
  void Advance(std::uint32_t ms) { now_ += ms; }

 private:
  std::uint32_t now_;
};

struct WaitRun {
  int events = 0;
  std::uint32_t slept = 0;
  std::uint32_t longestNap = 0;
};

WaitRun WaitOn(SteppedClock& clock, std::uint32_t ms) {
  WaitRun r;
  app::WaitWithEvents(
      ms, clock, [&] { ++r.events; },
      [&](std::uint32_t nap) {
        r.slept += nap;
        r.longestNap = std::max(r.longestNap, nap);
        clock.Advance(nap == 0 ? 1 : nap);
      });
  return r;
}

TEST(WaitWithEvents, EndsAfterTheRequestedTimeAcrossTheTickWrap) {
  SteppedClock clock(0xFFFFFF00u);  // 256 ms before the counter wraps
  WaitRun r = WaitOn(clock, 1000);
  EXPECT_EQ(r.slept, 1000u);
  EXPECT_EQ(clock.TickCount(), 0xFFFFFF00u + 1000u);
  // Events are handled between short naps, so the window stays responsive.
  EXPECT_LE(r.longestNap, app::kWaitPollMs);
  EXPECT_GE(r.events, 100);
}

TEST(WaitWithEvents, ZeroReturnsAtOnce) {
  SteppedClock clock(5);
  WaitRun r = WaitOn(clock, 0);
  EXPECT_EQ(r.events, 0);
  EXPECT_EQ(r.slept, 0u);
}

TEST(WaitWithEvents, RealClockWaitsAboutTheTime) {
  platform::Clock& clock = platform::SystemClock();
  int events = 0;
  std::uint32_t start = clock.TickCount();
  app::WaitWithEvents(
      60, clock, [&] { ++events; },
      [](std::uint32_t nap) { std::this_thread::sleep_for(std::chrono::milliseconds(nap)); });
  std::uint32_t took = platform::TicksBetween(start, clock.TickCount());
  EXPECT_GE(took, 60u);
  EXPECT_LT(took, 1000u);
  EXPECT_GE(events, 2);
}

}  // namespace
