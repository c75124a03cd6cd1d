// What a download tells its owner, and when.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace download {

enum DownloadStatus : std::int32_t {
  kStarted = 1,   // file open, ticker running; sent just before the first read
  kProgress = 2,  // every tick
  kFinished = 3,  // the last report of every task that ran
  kFailed = -1,   // a failure was detected; Finished follows
};

struct ProgressReport {
  std::int32_t userData = 0;
  std::int32_t status = 0;
  std::int64_t total = 0;  // announced Content-Length, 0 when none
  std::int64_t done = 0;
  std::int64_t remaining = 0;
  float fraction = 0.0f;  // 0.0 - 1.0
  float speed = 0.0f;     // KB/s, averaged
  std::int32_t elapsedMs = 0;
  std::string filePath;
};

// Called from several threads, possibly at the same time.
using ProgressCallback = std::function<void(const ProgressReport&)>;

}  // namespace download
