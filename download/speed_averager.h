// Smooths the reported speed: the mean of the last 60 samples (about 30 s at
// two reports a second).
#pragma once
#include <array>

#include "download/critical_lock.h"

namespace download {

class SpeedAverager {
 public:
  static constexpr int kCapacity = 60;

  void AddSample(float sample);
  // Mean of the valid samples, summed in slot order in single precision;
  // 0.0 before the first sample.
  [[nodiscard]] float Average();

 private:
  CriticalLock lock_;
  std::array<float, kCapacity> samples_{};
  int writeIndex_ = 0;
  int count_ = 0;
};

}  // namespace download
