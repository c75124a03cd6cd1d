// The engine's arithmetic and end-of-task rules with the clock injected and a
// scripted body: speed, elapsed time across a tick wrap, statuses and their
// order, staged writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "download/download_task.h"
#include "platform/fs.h"
#include "support/download_support.h"
#include "support/temp_dir.h"

namespace download {
namespace {

using testing_support::ManualClock;
using testing_support::ReportLog;
using testing_support::ScriptedTransport;

struct Scripted {
  std::shared_ptr<ScriptedTransport::Script> script = std::make_shared<ScriptedTransport::Script>();
  ManualClock clock;
  ReportLog log;
  testing_support::TempDir dir;
  std::string target = dir.path() + "\\file.bin";
  std::shared_ptr<CompletionEvent> done = std::make_shared<CompletionEvent>();
  std::unique_ptr<DownloadTask> task;

  Scripted() {
    auto s = script;
    task = std::make_unique<DownloadTask>(clock, [s] { return std::make_unique<ScriptedTransport>(s); });
    task->SetReportTiming(1000000, 1000000);  // the test makes every report itself
  }
  void Start() { task->Start("http://example.invalid/file.bin", target, log.Callback(), 7, done); }
};

ProgressReport LastReport(ReportLog& log) {
  auto r = log.Reports();
  return r.empty() ? ProgressReport{} : r.back();
}

TEST(DownloadTaskArithmetic, SpeedIsZeroBeforeTheFirstByteThenBytesSinceLastReportOver512) {
  Scripted t;
  t.script->contentLength = 1000 + 2048;
  t.clock.Set(0xFFFFFF00u);  // the tick count wraps during this download
  t.script->Push(std::string(1000, 'a'));
  t.script->AllowReads(0);  // the first read waits until the reports below are made
  t.Start();
  ASSERT_TRUE(t.log.WaitForStatus(kStarted, 5000));
  t.task->Report(kProgress);
  EXPECT_EQ(LastReport(t.log).speed, 0.0f);
  ProgressReport started = t.log.Reports().front();
  EXPECT_EQ(started.status, kStarted);
  EXPECT_EQ(started.userData, 7);
  EXPECT_EQ(started.total, 3048);
  EXPECT_EQ(started.done, 0);
  EXPECT_EQ(started.speed, 0.0f);
  EXPECT_EQ(started.remaining, 3048);
  EXPECT_EQ(started.filePath, t.target);
  t.script->AllowReads(-1);

  ASSERT_TRUE(t.script->WaitConsumed(1000, 5000));
  t.clock.Set(0x100u);
  t.task->Report(kProgress);
  ProgressReport first = LastReport(t.log);
  EXPECT_EQ(first.done, 1000);
  EXPECT_FLOAT_EQ(first.speed, 1000.0f / 512.0f);
  EXPECT_EQ(first.elapsedMs, 0x200);
  EXPECT_EQ(first.remaining, 2048);
  EXPECT_FLOAT_EQ(first.fraction, 1000.0f / 3048.0f);

  t.script->Push(std::string(2048, 'b'));
  ASSERT_TRUE(t.script->WaitConsumed(3048, 5000));
  t.task->Report(kProgress);
  EXPECT_FLOAT_EQ(LastReport(t.log).speed, (1000.0f / 512.0f + 4.0f) / 2.0f);

  t.script->Push("");
  ASSERT_TRUE(t.done->WaitFor(5000));
  auto statuses = t.log.Statuses();
  EXPECT_EQ(statuses.back(), kFinished);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), kFailed), 0);
  ProgressReport fin = LastReport(t.log);
  EXPECT_EQ(fin.done, 3048);
  EXPECT_EQ(fin.remaining, 0);
  EXPECT_FLOAT_EQ(fin.fraction, 1.0f);
  EXPECT_EQ(platform::ReadWholeFile(t.target).value_or(platform::Bytes{}).size(), 3048u);
}

TEST(DownloadTaskArithmetic, SpeedIsTheMeanOfTheLastSixtyReports) {
  Scripted t;
  t.script->Push(std::string(512, 'x'));
  t.script->AllowReads(0);
  t.Start();
  ASSERT_TRUE(t.log.WaitForStatus(kStarted, 5000));  // its report takes no sample
  t.script->AllowReads(-1);
  ASSERT_TRUE(t.script->WaitConsumed(512, 5000));
  t.task->Report(kProgress);  // sample 1.0
  std::int64_t consumed = 512;
  // 60 reports of 10 KB/s each: the early sample of 1.0 drops out.
  for (int i = 0; i < 60; ++i) {
    t.script->Push(std::string(5120, 'y'));
    consumed += 5120;
    ASSERT_TRUE(t.script->WaitConsumed(consumed, 5000));
    t.task->Report(kProgress);
  }
  EXPECT_FLOAT_EQ(LastReport(t.log).speed, 10.0f);
  t.script->Push("");
  EXPECT_TRUE(t.done->WaitFor(5000));
}

TEST(DownloadTaskArithmetic, NoAnnouncedSizeGivesZeroTotalRemainingAndFraction) {
  Scripted t;
  t.script->Push(std::string(30000, 'z'));  // larger than the staging buffer
  t.script->Push(std::string(100, 'z'));
  t.script->Push("");
  t.Start();
  ASSERT_TRUE(t.done->WaitFor(5000));
  for (const auto& r : t.log.Reports()) {
    EXPECT_EQ(r.total, 0);
    EXPECT_EQ(r.remaining, 0);
    EXPECT_EQ(r.fraction, 0.0f);
  }
  EXPECT_EQ(LastReport(t.log).done, 30100);
  EXPECT_EQ(platform::ReadWholeFile(t.target).value_or(platform::Bytes{}).size(), 30100u);
}

TEST(DownloadTaskFaults, FailedAvailabilityInsideTheLoopIsAFailureAndLeavesNoFile) {
  Scripted t;
  t.script->Push(std::string(4000, 'a'));
  t.Start();
  ASSERT_TRUE(t.script->WaitConsumed(4000, 5000));
  t.script->FailQuery();
  ASSERT_TRUE(t.done->WaitFor(5000));
  auto s = t.log.Statuses();
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(s.front(), kStarted);
  EXPECT_EQ(s[s.size() - 2], kFailed);
  EXPECT_EQ(s.back(), kFinished);
  EXPECT_FALSE(platform::FileExists(t.target));
  EXPECT_FALSE(platform::FileExists(t.target + DownloadTask::kTempSuffix));
}

TEST(DownloadTaskFaults, StopCutsATransferShortEndsItAsFailedAndSetsTheEvent) {
  Scripted t;
  t.script->Push(std::string(4000, 'a'));
  t.Start();
  ASSERT_TRUE(t.script->WaitConsumed(4000, 5000));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(t.task->Stop());  // the worker is blocked in the transport: cancelled after the grace time
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, DownloadTask::kStopWaitMs + 2000);
  EXPECT_TRUE(t.done->WaitFor(0));
  auto s = t.log.Statuses();
  EXPECT_EQ(s.back(), kFinished);
  EXPECT_EQ(std::count(s.begin(), s.end(), kFinished), 1);
  EXPECT_EQ(std::count(s.begin(), s.end(), kFailed), 1);
  EXPECT_FALSE(platform::FileExists(t.target));
  // A second Stop finds nothing to do and reports nothing.
  EXPECT_TRUE(t.task->Stop());
  EXPECT_EQ(t.log.Statuses().size(), s.size());
}

TEST(DownloadTaskFaults, StopIsBoundedWhenTheTransportIgnoresTheCancel) {
  Scripted t;
  t.script->ignoreCancel = true;
  t.script->Push(std::string(100, 'a'));
  t.Start();
  ASSERT_TRUE(t.script->WaitConsumed(100, 5000));
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(t.task->Stop());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 2 * DownloadTask::kStopWaitMs + 2000);
  // The transport comes loose later: the task ends and can go.
  t.script->Push("");
  ASSERT_TRUE(t.done->WaitFor(5000));
  EXPECT_TRUE(t.task->Stop());
}

TEST(DownloadTaskFaults, AFailureBeforeOurFileKeepsSomeoneElsesPartFile) {
  for (int status : {404, 500}) {
    Scripted t;
    t.script->status = status;
    ASSERT_TRUE(platform::WriteFileBytes(t.target + DownloadTask::kTempSuffix, std::string_view("not ours")));
    t.Start();
    ASSERT_TRUE(t.done->WaitFor(5000));
    EXPECT_EQ(t.log.Statuses(), (std::vector<std::int32_t>{kFailed, kFinished}));
    auto kept = platform::ReadWholeFile(t.target + DownloadTask::kTempSuffix);
    ASSERT_TRUE(kept) << status;
    EXPECT_EQ(std::string(kept->begin(), kept->end()), "not ours");
  }
}

TEST(DownloadTaskFaults, NoWorkerThreadEndsTheTaskWithoutHoldingItsLockAcrossTheCallback) {
  Scripted t;
  t.task->SetThreadSeam([] { return false; });
  std::atomic<int> stops{0};
  DownloadTask* task = t.task.get();
  // A callback that stops the task, as an owner tearing down may.
  auto callback = [&](const ProgressReport& r) {
    t.log.Callback()(r);
    if (task->Stop()) ++stops;
  };
  std::thread starter([&] { task->Start("http://example.invalid/f", t.target, callback, 1, t.done); });
  ASSERT_TRUE(t.done->WaitFor(5000)) << "the callback's Stop deadlocked on the task's lock";
  starter.join();
  EXPECT_EQ(t.log.Statuses(), (std::vector<std::int32_t>{kFailed, kFinished}));
  EXPECT_EQ(stops.load(), 2);
}

TEST(DownloadTaskFaults, StopAfterANormalEndSendsNoSecondFinished) {
  Scripted t;
  t.script->Push("abc");
  t.script->Push("");
  t.Start();
  ASSERT_TRUE(t.done->WaitFor(5000));
  auto before = t.log.Statuses();
  EXPECT_TRUE(t.task->Stop());
  EXPECT_EQ(t.log.Statuses(), before);
  EXPECT_EQ(platform::ReadWholeFile(t.target).value_or(platform::Bytes{}).size(), 3u);
}

TEST(DownloadTaskFaults, EmptyAddressOrPathReportsFailedThenFinishedAndSetsTheEvent) {
  for (auto [url, path] : {std::pair<std::string, std::string>{"", "\\x\\y"}, {"http://127.0.0.1:1/", ""}}) {
    ReportLog log;
    auto done = std::make_shared<CompletionEvent>();
    DownloadTask task;
    task.Start(url, path, log.Callback(), 3, done);
    ASSERT_TRUE(done->WaitFor(5000));
    EXPECT_EQ(log.Statuses(), (std::vector<std::int32_t>{kFailed, kFinished}));
  }
  // Without a callback the event still comes.
  auto done = std::make_shared<CompletionEvent>();
  DownloadTask task;
  task.Start("", "", {}, 0, done);
  EXPECT_TRUE(done->WaitFor(5000));
}

TEST(DownloadTaskFaults, UnsafeTargetNamesFailBeforeAnythingTouchesTheDisk) {
  testing_support::TempDir dir;
  for (std::string name : {"..\\escape.bin", "CON", "nul.txt", "Com1", "a:b", "what?.exe", "dot.", "tab\tname",
                           ".", "x/y", "lpt9.dat"}) {
    auto script = std::make_shared<ScriptedTransport::Script>();
    script->Push("data");
    script->Push("");
    ReportLog log;
    auto done = std::make_shared<CompletionEvent>();
    {
      DownloadTask task(platform::SystemClock(), [script] { return std::make_unique<ScriptedTransport>(script); });
      task.Start("http://example.invalid/f", dir.path() + "\\" + name, log.Callback(), 0, done);
      ASSERT_TRUE(done->WaitFor(5000)) << name;
    }
    EXPECT_EQ(log.Statuses(), (std::vector<std::int32_t>{kFailed, kFinished})) << name;
    EXPECT_EQ(script->consumed, 0) << name;
  }
  platform::DirectoryListing list(dir.path() + "\\*", std::nullopt);
  EXPECT_EQ(list.Next(), "");
  EXPECT_FALSE(platform::FileExists(dir.path() + "\\..\\escape.bin"));
}

}  // namespace
}  // namespace download
