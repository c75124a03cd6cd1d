// One monotonic millisecond clock behind the 32-bit tick count. Tests inject
// their own to drive speed and elapsed-time arithmetic.
#pragma once
#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps at 2^32 like the tick count.
  virtual std::uint32_t TickCount() = 0;
};

// The process's steady clock.
Clock& SystemClock();

// Elapsed milliseconds between two tick readings, correct across one wrap.
inline std::uint32_t TicksBetween(std::uint32_t start, std::uint32_t now) {
  return now - start;  // unsigned arithmetic wraps exactly like the counter
}

}  // namespace platform
