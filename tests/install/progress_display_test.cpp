// The progress line and bar, the byte-count texts, and the job's handling of
// crafted engine reports (no network: the reports are fed directly).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "download/download_status.h"
#include "install/install_job.h"
#include "install/progress_display.h"
#include "ui/headless_backend.h"
#include "ui/main_controls.h"
#include "ui/ui.h"

namespace {

using install::ComputeDisplay;
using install::FormatByteSize;

TEST(FormatByteSize, GoldenTableAndBoundaries) {
  struct Case {
    std::int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {-5, "-5 B"},
      {1023, "1023 B"},
      {1024, "1 KB"},
      {1536, "1.5 KB"},
      {1048575, "1024 KB"},  // unit picked before rounding
      {1048576, "1 MB"},
      {1500000, "1.43 MB"},
      {3355443, "3.2 MB"},
      {1073741823, "1024 MB"},
      {1073741824, "1 GB"},
      {2500000000LL, "2.33 GB"},
      {2147483648LL, "2 GB"},
      {4294967296LL, "4 GB"},
      {INT64_MAX, "8589934592 GB"},  // no unit above GB
  };
  for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(ProgressDisplay, LineWithAnnouncedSize) {
  auto d = ComputeDisplay(1, download::kProgress, 512.5f, 1500000, 3355443);
  EXPECT_EQ(d.barPosition, 4470);
  ASSERT_TRUE(d.text);
  EXPECT_EQ(*d.text, "总进度: 44% | 1.43 MB/3.2 MB | 512.5 KB/s");
}

TEST(ProgressDisplay, LineWithoutAnySizeUsesEightyMiB) {
  auto d = ComputeDisplay(2, download::kProgress, 512.5f, 1500000, 0);
  EXPECT_EQ(d.barPosition, 178);  // 1500000 * 10000 / 83886080 = 178.8
  ASSERT_TRUE(d.text);
  EXPECT_EQ(*d.text, "已下载: 1.43 MB | 512.5 KB/s");
  // Full at exactly 80 MiB and it stays full after.
  EXPECT_EQ(ComputeDisplay(1, download::kProgress, 0, 83886079, 0).barPosition, 9999);
  EXPECT_EQ(ComputeDisplay(1, download::kProgress, 0, 83886080, 0).barPosition, 10000);
  EXPECT_EQ(ComputeDisplay(1, download::kProgress, 0, 500000000, 0).barPosition, 10000);
}

TEST(ProgressDisplay, TruncatesClampsAndFormatsSpeed) {
  auto nearly = ComputeDisplay(1, download::kProgress, 0.0f, 9999, 10000);
  EXPECT_EQ(nearly.barPosition, 9999);
  EXPECT_EQ(*nearly.text, "总进度: 99% | 9.8 KB/9.8 KB | 0 KB/s");
  // Only one size announced: the percentage passes 100, the bar stops.
  auto over = ComputeDisplay(2, download::kProgress, 1234.5678f, 130, 100);
  EXPECT_EQ(over.barPosition, 10000);
  EXPECT_EQ(*over.text, "总进度: 130% | 130 B/100 B | 1234.57 KB/s");
}

TEST(ProgressDisplay, FinishedLineAndSilentStatuses) {
  EXPECT_EQ(*ComputeDisplay(1, download::kFinished, 9.0f, 10, 20).text, "文件1 完成!");
  EXPECT_EQ(*ComputeDisplay(2, download::kFinished, 9.0f, 10, 20).text, "文件2 完成!");
  auto started = ComputeDisplay(1, download::kStarted, 0, 10, 20);
  EXPECT_FALSE(started.text);
  EXPECT_EQ(started.barPosition, 5000);
  auto failed = ComputeDisplay(2, download::kFailed, 0, 5, 20);
  EXPECT_FALSE(failed.text);
  EXPECT_EQ(failed.barPosition, 2500);
}

// The job on a headless window, fed by hand.
class CraftedReports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ui.LoadWindow(ui::WindowId::Main, false)); }
  static download::ProgressReport Report(std::int32_t task, std::int32_t status, std::int64_t total,
                                         std::int64_t done, float speed) {
    download::ProgressReport r;
    r.userData = task;
    r.status = status;
    r.total = total;
    r.done = done;
    r.speed = speed;
    return r;
  }
  std::string Line() const { return ui.Control(ui::WindowId::Main, ui::kProgressLine)->text; }
  std::int64_t Bar() const { return ui.Control(ui::WindowId::Main, ui::kProgressBar)->position; }

  ui::HeadlessBackend backend;
  ui::Ui ui{backend};
  config::Versions versions;
  install::InstallJob job{ui, versions};
};

TEST_F(CraftedReports, CountersOfBothDownloadsMakeOneLine) {
  job.OnInstallProgress(Report(1, download::kStarted, 3000000, 0, 0));
  job.OnInstallProgress(Report(2, download::kStarted, 355443, 0, 0));
  EXPECT_EQ(job.state().sumTotal, 3355443);
  job.OnInstallProgress(Report(1, download::kProgress, 3000000, 1400000, 512.5f));
  job.OnInstallProgress(Report(2, download::kProgress, 355443, 100000, 80.25f));
  EXPECT_EQ(job.state().sumDone, 1500000);
  // The speed is the sender's own, not a sum.
  EXPECT_EQ(Line(), "总进度: 44% | 1.43 MB/3.2 MB | 80.25 KB/s");
  EXPECT_EQ(Bar(), 4470);

  job.OnInstallProgress(Report(2, download::kFinished, 355443, 355443, 80.0f));
  EXPECT_EQ(Line(), "文件2 完成!");
  EXPECT_EQ(job.state().programFinished, 1);
  // Failed keeps the text and the counters, and marks the download.
  job.OnInstallProgress(Report(1, download::kFailed, 3000000, 2000000, 0));
  EXPECT_EQ(Line(), "文件2 完成!");
  EXPECT_EQ(job.state().dataDone, 1400000);
  EXPECT_TRUE(job.state().dataFailed);
  EXPECT_EQ(job.state().dataFinished, 1);
  // Reports of an unknown task move no counter.
  job.OnInstallProgress(Report(7, download::kProgress, 1, 999999, 1.0f));
  EXPECT_EQ(job.state().sumDone, 1755443);
}

TEST_F(CraftedReports, OneAnnouncedSizeLetsThePercentagePassHundred) {
  job.OnInstallProgress(Report(1, download::kStarted, 1000, 0, 0));
  job.OnInstallProgress(Report(2, download::kStarted, 0, 0, 0));
  job.OnInstallProgress(Report(1, download::kProgress, 1000, 1000, 2.0f));
  job.OnInstallProgress(Report(2, download::kProgress, 0, 300, 3.0f));
  EXPECT_EQ(Line(), "总进度: 130% | 1.3 KB/1000 B | 3 KB/s");
  EXPECT_EQ(Bar(), 10000);
}

TEST_F(CraftedReports, ARetryIsAnnouncedUntilTheNextProgressLine) {
  job.OnInstallProgress(Report(1, download::kStarted, 3000000, 0, 0));
  download::ProgressReport retry = Report(1, download::kRetrying, 3000000, 1000000, 0);
  retry.reason = download::FailReason::Broken;
  retry.retryInMs = 2100;
  retry.attempt = 2;
  job.OnInstallProgress(retry);
  EXPECT_EQ(Line(), "文件1 连接中断，3 秒后重试（第 2 次）");
  retry.reason = download::FailReason::HttpStatus;
  retry.httpStatus = 503;
  retry.retryInMs = 1000;
  retry.attempt = 3;
  job.OnInstallProgress(retry);
  EXPECT_EQ(Line(), "文件1 服务器返回 503，1 秒后重试（第 3 次）");
  EXPECT_EQ(ui.Taskbar(ui::WindowId::Main).state, ui::TaskbarState::Paused);
  job.OnInstallProgress(Report(1, download::kProgress, 3000000, 1500000, 100.0f));
  EXPECT_TRUE(Line().starts_with("总进度: 50%")) << Line();
  EXPECT_EQ(ui.Taskbar(ui::WindowId::Main), (ui::TaskbarProgress{ui::TaskbarState::Normal, 5000, 10000}));
}

TEST_F(CraftedReports, InstallControlsInTheirOrder) {
  backend.writes.clear();
  job.SetInstallControlsDisabled(1);
  std::vector<std::string> names;
  for (const auto& w : backend.writes) {
    ASSERT_EQ(w.prop, ui::Prop::Disabled);
    names.push_back(w.control);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"安装游戏按钮_Ravik", "安装游戏按钮_Solen", "安装游戏按钮_Nuvik",
                                             "安装游戏按钮_Tavor", "版本一按钮", "版本二按钮", "版本三按钮",
                                             "版本四按钮"}));
  EXPECT_TRUE(ui.Control(ui::WindowId::Main, "版本三按钮")->disabled);
  EXPECT_FALSE(ui.Control(ui::WindowId::Main, "开始游戏按钮_Ravik")->disabled);
  job.SetInstallControlsDisabled(0);
  EXPECT_FALSE(ui.Control(ui::WindowId::Main, "安装游戏按钮_Tavor")->disabled);
}

}  // namespace
