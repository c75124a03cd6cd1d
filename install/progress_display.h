// What the main window shows while a version installs: the bar position and
// the one-line text with percentage, amounts and speed.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace install {

inline constexpr std::int64_t kBarMaximum = 10000;
// The bar's divisor while neither server announced a size: 80 MiB.
inline constexpr double kAssumedJobSize = 83886080.0;

// "0 B", "1.5 KB", "1.43 MB", "2.33 GB": the unit is chosen on the exact
// count, the value rounded half away from zero (1 decimal for KB, 2 above).
std::string FormatByteSize(std::int64_t bytes);

struct DisplayUpdate {
  std::int64_t barPosition = 0;     // 0 .. kBarMaximum
  std::optional<std::string> text;  // set for Progress and Finished only
};

// One notification's effect on the bar and the line, from the job's sums
// after that notification was counted. speed is the sending download's own.
DisplayUpdate ComputeDisplay(std::int32_t taskNumber, std::int32_t status, float speed, std::int64_t sumDone,
                             std::int64_t sumTotal);

}  // namespace install
