// The event-processing wait of the window thread, with its clock and its
// naps injectable for tests.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace app {

// Longest nap between two polls of the window events.
inline constexpr std::uint32_t kWaitPollMs = 10;

// Returns once at least ms milliseconds have passed on clock, correct across
// a wrap of the 32-bit tick count; processes events before every nap.
void WaitWithEvents(std::uint32_t ms, platform::Clock& clock, const std::function<void()>& processEvents,
                    const std::function<void(std::uint32_t)>& sleep);

}  // namespace app
