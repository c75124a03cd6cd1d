// A connection that brings bytes, but fewer than a floor over a whole window,
// is as good as stalled: the stall limit sees only silence, and a trickle of
// a byte now and then must not hold a download for days.
#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace download {

class RateFloor {
 public:
  // A floor of 0 bytes per second never starves.
  RateFloor(platform::Clock& clock, std::int64_t bytesPerSecond, int windowMs)
      : clock_(clock), floor_(bytesPerSecond), windowMs_(windowMs < 1 ? 1 : windowMs), start_(clock.TickCount()) {}

  // A new answer: its window starts now.
  void Restart() {
    start_ = clock_.TickCount();
    bytes_ = 0;
  }

  // Counts n more bytes; true once a window of at least windowMs brought
  // fewer than the floor on average.
  [[nodiscard]] bool Starved(std::int64_t n) {
    bytes_ += n;
    const std::uint32_t now = clock_.TickCount();
    const std::uint32_t elapsed = platform::TicksBetween(start_, now);
    if (floor_ <= 0 || elapsed < static_cast<std::uint32_t>(windowMs_)) return false;
    const bool starved = bytes_ * 1000 < floor_ * static_cast<std::int64_t>(elapsed);
    start_ = now;
    bytes_ = 0;
    return starved;
  }

 private:
  platform::Clock& clock_;
  std::int64_t floor_;
  int windowMs_;
  std::uint32_t start_;
  std::int64_t bytes_ = 0;
};

}  // namespace download
