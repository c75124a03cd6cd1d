#include "install/progress_display.h"

#include <cmath>

#include "download/download_status.h"
#include "platform/runtime.h"

namespace install {
namespace {

// Truncation toward zero, kept inside the 64-bit range.
std::int64_t Truncate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

std::string Scaled(std::int64_t bytes, double unit, int decimals, const char* suffix) {
  return platform::DoubleToText(platform::RoundTo(static_cast<double>(bytes) / unit, decimals)) + suffix;
}

}  // namespace

std::string FormatByteSize(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  if (bytes < 1048576) return Scaled(bytes, 1024.0, 1, " KB");
  if (bytes < 1073741824) return Scaled(bytes, 1048576.0, 2, " MB");
  return Scaled(bytes, 1073741824.0, 2, " GB");
}

DisplayUpdate ComputeDisplay(std::int32_t taskNumber, std::int32_t status, float speed, std::int64_t sumDone,
                             std::int64_t sumTotal) {
  DisplayUpdate out;
  const double done = static_cast<double>(sumDone);
  double bar;
  std::int64_t percent = 0;
  if (sumTotal > 0) {
    bar = done * 10000.0 / static_cast<double>(sumTotal);
    percent = Truncate(done * 100.0 / static_cast<double>(sumTotal));
  } else {
    bar = done * 10000.0 / kAssumedJobSize;
  }
  std::int64_t position = Truncate(bar);
  out.barPosition = position < 0 ? 0 : position > kBarMaximum ? kBarMaximum : position;

  if (status == download::kProgress) {
    const std::string speedText = platform::FloatToText(speed) + " KB/s";
    if (sumTotal > 0) {
      out.text = "总进度: " + std::to_string(percent) + "% | " + FormatByteSize(sumDone) + "/" +
                 FormatByteSize(sumTotal) + " | " + speedText;
    } else {
      out.text = "已下载: " + FormatByteSize(sumDone) + " | " + speedText;
    }
  } else if (status == download::kFinished) {
    out.text = "文件" + std::to_string(taskNumber) + " 完成!";
  }
  return out;
}

}  // namespace install
