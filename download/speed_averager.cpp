#include "download/speed_averager.h"

#include <mutex>

namespace download {

void SpeedAverager::AddSample(float sample) {
  std::lock_guard<CriticalLock> guard(lock_);
  if (writeIndex_ == kCapacity) writeIndex_ = 0;
  samples_[writeIndex_++] = sample;
  if (count_ < kCapacity) ++count_;
}

float SpeedAverager::Average() {
  std::lock_guard<CriticalLock> guard(lock_);
  if (count_ == 0) return 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < count_; ++i) sum += samples_[i];
  return sum / static_cast<float>(count_);
}

}  // namespace download
