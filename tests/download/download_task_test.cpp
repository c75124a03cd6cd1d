// The engine's arithmetic and end-of-task rules with the clock injected and a
// scripted body: speed, elapsed time across a tick wrap, statuses and their
// order, staged writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "download/download_task.h"
#include "download/range_plan.h"
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
    task->SetOptions({1, 0, true});
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

// One run of a task against a script, into target, to its end.
struct TaskRun {
  std::vector<ProgressReport> reports;
  std::vector<std::int32_t> Statuses() const {
    std::vector<std::int32_t> out;
    for (const auto& r : reports) out.push_back(r.status);
    return out;
  }
  ProgressReport Last(std::int32_t status) const {
    for (auto it = reports.rbegin(); it != reports.rend(); ++it)
      if (it->status == status) return *it;
    return {};
  }
};
TaskRun RunTask(const std::shared_ptr<ScriptedTransport::Script>& script, const std::string& target,
                TaskOptions options = {1, 0, true}, const std::function<void()>& meanwhile = {}) {
  ManualClock clock;
  ReportLog log;
  auto done = std::make_shared<CompletionEvent>();
  {
    DownloadTask task(clock, [script] { return std::make_unique<ScriptedTransport>(script); });
    task.SetReportTiming(1000000, 1000000);
    task.SetOptions(options);
    task.Start("http://example.invalid/file.bin", target, log.Callback(), 1, done);
    if (meanwhile) meanwhile();
    EXPECT_TRUE(done->WaitFor(10000));
    EXPECT_TRUE(task.Stop());
  }
  return {log.Reports()};
}
std::string Text(const std::string& path) {
  auto b = platform::ReadWholeFile(path);
  return b ? std::string(b->begin(), b->end()) : std::string("<missing>");
}

// A first attempt that breaks after 400 of 1000 bytes and keeps its part.
std::shared_ptr<ScriptedTransport::Script> BrokenAt400(const std::string& target) {
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->contentLength = 1000;
  s->headers = {{"ETag", "\"v1\""}};
  s->Push(std::string(400, 'a'));
  TaskRun first = RunTask(s, target, {1, 0, true}, [s] {
    EXPECT_TRUE(s->WaitConsumed(400, 5000));
    s->FailQuery();
  });
  EXPECT_EQ(first.Last(kFailed).reason, FailReason::Broken);
  EXPECT_EQ(Text(target + ".part"), std::string(400, 'a'));
  // The state names the address by its digest: a token in it stays out.
  const std::string state = Text(target + ".part.resume");
  EXPECT_EQ(state.find("example.invalid"), std::string::npos) << state;
  EXPECT_EQ(state.rfind("url=sha256:", 0), 0u) << state;
  return s;
}

TEST(DownloadResume, AKeptPartAsksOnlyForWhatIsMissing) {
  testing_support::TempDir dir;
  const std::string target = dir.path() + "\\file.bin";
  BrokenAt400(target);
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->status = 206;
  s->contentLength = 600;
  s->headers = {{"ETag", "\"v1\""}, {"Content-Range", "bytes 400-999/1000"}};
  s->Push(std::string(600, 'b'));
  s->Push("");
  TaskRun second = RunTask(s, target);
  EXPECT_EQ(s->sentHeaders, (std::vector<std::string>{"Range:bytes=400-", "If-Range: \"v1\""}));
  EXPECT_EQ(second.Statuses().back(), kFinished);
  EXPECT_EQ(second.Last(kFinished).done, 1000);
  EXPECT_EQ(Text(target), std::string(400, 'a') + std::string(600, 'b'));
  EXPECT_FALSE(platform::FileExists(target + ".part"));
  EXPECT_FALSE(platform::FileExists(target + ".part.resume"));
}

TEST(DownloadResume, AnythingThatDoesNotMatchStartsOverCleanly) {
  struct Row {
    const char* what;
    int status;
    std::string contentRange;
    std::string freshRange;  // of a fresh request's answer, when it is not contentRange
    bool corruptState, shortPart;
    std::vector<std::string> lastHeaders;  // of the request that delivered the file
    int sends;
  };
  const std::vector<std::string> fresh = {"Range:bytes=0-"};
  const std::vector<std::string> resume = {"Range:bytes=400-", "If-Range: \"v1\""};
  for (const Row& r : {Row{"validator changed: 200", 200, "", "", false, false, resume, 1},
                       Row{"total changed", 206, "bytes 400-1099/1100", "bytes 0-999/1000", false, false, fresh, 2},
                       Row{"other start", 206, "bytes 0-999/1000", "", false, false, fresh, 2},
                       Row{"state unreadable", 200, "", "", true, false, fresh, 1},
                       Row{"part shorter than its state", 200, "", "", false, true, fresh, 1}}) {
    testing_support::TempDir dir;
    const std::string target = dir.path() + "\\file.bin";
    BrokenAt400(target);
    if (r.corruptState) {
      ASSERT_TRUE(platform::WriteFileBytes(target + ".part.resume", std::string_view("url=x\ndone")));
    }
    if (r.shortPart) ASSERT_TRUE(platform::WriteFileBytes(target + ".part", std::string_view("aaa")));
    auto s = std::make_shared<ScriptedTransport::Script>();
    s->status = r.status;
    s->contentLength = 1000;
    s->headers = {{"ETag", "\"v2\""}};
    if (!r.contentRange.empty()) s->headers["Content-Range"] = r.contentRange;
    if (!r.freshRange.empty()) {
      s->headersPerSend = {s->headers, s->headers};
      s->headersPerSend[1]["Content-Range"] = r.freshRange;
    }
    for (int i = 0; i < r.sends; ++i) {
      s->Push(std::string(1000, 'c'));
      s->Push("");
    }
    TaskRun second = RunTask(s, target);
    EXPECT_EQ(s->sends, r.sends) << r.what;
    EXPECT_EQ(s->sentHeaders, r.lastHeaders) << r.what;
    EXPECT_EQ(Text(target), std::string(1000, 'c')) << r.what;  // never the old bytes and the new mixed
    EXPECT_FALSE(platform::FileExists(target + ".part.resume")) << r.what;
  }
}

TEST(DownloadResume, A416DropsThePartAndTheFreshRequestDecides) {
  testing_support::TempDir dir;
  const std::string target = dir.path() + "\\file.bin";
  BrokenAt400(target);
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->status = 416;
  TaskRun second = RunTask(s, target);
  EXPECT_EQ(s->sends, 2);
  EXPECT_EQ(s->sentHeaders, std::vector<std::string>{"Range:bytes=0-"});
  EXPECT_EQ(second.Last(kFailed).reason, FailReason::HttpStatus);
  EXPECT_EQ(second.Last(kFailed).httpStatus, 416);
  EXPECT_FALSE(platform::FileExists(target + ".part"));
}

TEST(DownloadResume, AnUnpublishedFileWaitsAsAWholePartForItsOwner) {
  testing_support::TempDir dir;
  const std::string target = dir.path() + "\\file.bin";
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->contentLength = 5;
  s->headers = {{"Last-Modified", "Tue, 08 Dec 2026 03:00:00 GMT"}};
  s->Push("12345");
  s->Push("");
  TaskRun run = RunTask(s, target, {1, 0, false});
  EXPECT_EQ(run.Statuses().back(), kFinished);
  EXPECT_TRUE(run.Last(kFailed).status == 0);
  EXPECT_FALSE(platform::FileExists(target));
  EXPECT_EQ(Text(target + ".part"), "12345");
  // A later run checks the whole part with its last byte only.
  auto again = std::make_shared<ScriptedTransport::Script>();
  again->status = 206;
  again->contentLength = 1;
  again->headers = {{"Last-Modified", "Tue, 08 Dec 2026 03:00:00 GMT"}, {"Content-Range", "bytes 4-4/5"}};
  again->Push("5");
  again->Push("");
  RunTask(again, target, {1, 0, false});
  EXPECT_EQ(again->sentHeaders,
            (std::vector<std::string>{"Range:bytes=4-", "If-Range: Tue, 08 Dec 2026 03:00:00 GMT"}));
  ASSERT_TRUE(DownloadTask::PublishPart(target));
  EXPECT_EQ(Text(target), "12345");
  EXPECT_FALSE(platform::FileExists(target + ".part.resume"));
}

TEST(DownloadRetry, TransientFaultsAreTriedAgainWithGrowingWaitsPermanentOnesAreNot) {
  struct Row {
    const char* what;
    platform::HttpFailure failure;
    int status;
    std::string retryAfter;
    int sendsWanted;
    FailReason reason;
  };
  for (const Row& r : {Row{"connect", platform::HttpFailure::Connect, 200, "", 6, FailReason::Connect},
                       Row{"stall", platform::HttpFailure::Stall, 200, "", 6, FailReason::Stall},
                       Row{"503", platform::HttpFailure::None, 503, "", 6, FailReason::HttpStatus},
                       Row{"429", platform::HttpFailure::None, 429, "", 6, FailReason::HttpStatus},
                       Row{"tls", platform::HttpFailure::Tls, 200, "", 1, FailReason::Tls},
                       Row{"404", platform::HttpFailure::None, 404, "", 1, FailReason::HttpStatus},
                       Row{"redirect loop", platform::HttpFailure::Protocol, 200, "", 1, FailReason::Protocol}}) {
    testing_support::TempDir dir;
    auto s = std::make_shared<ScriptedTransport::Script>();
    s->status = r.status;
    s->failure = r.failure;
    if (r.failure != platform::HttpFailure::None) s->failSends = 100;
    TaskRun run = RunTask(s, dir.path() + "\\f.bin", {6, 4, true});
    EXPECT_EQ(s->sends, r.sendsWanted) << r.what;
    EXPECT_EQ(run.Last(kFailed).reason, r.reason) << r.what;
    std::vector<ProgressReport> retries;
    for (const auto& rep : run.reports)
      if (rep.status == kRetrying) retries.push_back(rep);
    ASSERT_EQ(retries.size(), static_cast<std::size_t>(r.sendsWanted - 1)) << r.what;
    for (std::size_t i = 0; i < retries.size(); ++i) {
      const int base = 4 << i;  // 4, 8, 16, 32, 64 ms: doubling, up to a quarter more
      EXPECT_GE(retries[i].retryInMs, base) << r.what;
      EXPECT_LE(retries[i].retryInMs, base + base / 4) << r.what;
      EXPECT_EQ(retries[i].attempt, static_cast<int>(i) + 2) << r.what;
      EXPECT_EQ(retries[i].reason, r.reason) << r.what;
    }
  }
  // Each Retrying report carries its own attempt and wait, however soon the
  // next announcement or the end follows it: no waits at all, many times.
  for (int run = 0; run < 20; ++run) {
    testing_support::TempDir dir;
    auto s = std::make_shared<ScriptedTransport::Script>();
    s->failure = platform::HttpFailure::Connect;
    s->failSends = 100;
    TaskRun quick = RunTask(s, dir.path() + "\\f.bin", {6, 0, true});
    std::vector<int> attempts;
    for (const auto& rep : quick.reports)
      if (rep.status == kRetrying) attempts.push_back(rep.attempt);
    ASSERT_EQ(attempts, (std::vector<int>{2, 3, 4, 5, 6})) << "run " << run;
    EXPECT_EQ(s->sends, 6);
  }
}

TEST(DownloadRetry, RetryAfterIsHonouredAndASuccessEndsTheRetries) {
  testing_support::TempDir dir;
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->failure = platform::HttpFailure::Broken;
  s->failSends = 2;
  s->contentLength = 3;
  s->Push("xyz");
  s->Push("");
  TaskRun run = RunTask(s, dir.path() + "\\f.bin", {6, 4, true});
  EXPECT_EQ(s->sends, 3);
  EXPECT_EQ(run.Statuses().back(), kFinished);
  EXPECT_EQ(run.Last(kFailed).status, 0);
  EXPECT_EQ(Text(dir.path() + "\\f.bin"), "xyz");

  auto busy = std::make_shared<ScriptedTransport::Script>();
  busy->status = 503;
  busy->headers = {{"Retry-After", "1"}};
  auto t0 = std::chrono::steady_clock::now();
  TaskRun waited = RunTask(busy, dir.path() + "\\g.bin", {2, 4, true});
  EXPECT_EQ(waited.Last(kRetrying).retryInMs, 1000);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(950));
  EXPECT_EQ(busy->sends, 2);
}

TEST(DownloadRetry, TooLittleFreeSpaceFailsBeforeTheFirstByte) {
  testing_support::TempDir dir;
  auto s = std::make_shared<ScriptedTransport::Script>();
  s->contentLength = 5000000000000LL;
  s->Push("x");
  TaskRun run = RunTask(s, dir.path() + "\\f.bin", {6, 4, true});
  EXPECT_EQ(s->sends, 1);
  EXPECT_EQ(run.Last(kFailed).reason, FailReason::DiskFull);
  EXPECT_GT(run.Last(kFailed).neededBytes, 0);
  EXPECT_FALSE(platform::FileExists(dir.path() + "\\f.bin.part"));
  EXPECT_NE(ReasonText(FailReason::DiskFull, 0, 3 << 20).find("磁盘空间不足"), std::string::npos);
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

TEST(DownloadResumeState, ReadsOneAndSeveralRangesAndRefusesWhatDoesNotFit) {
  struct Row {
    const char* what;
    std::string done;
    bool readable;
    std::vector<ByteRange> ranges;
  };
  for (const Row& r : {
           Row{"older launchers' one range", "0-400", true, {{0, 400}}},
           Row{"several", "0-100,300-400,900-1000", true, {{0, 100}, {300, 400}, {900, 1000}}},
           Row{"touching and out of order are joined", "300-400,0-100,100-200", true, {{0, 200}, {300, 400}}},
           Row{"nothing yet", "0-0", true, {}},
           Row{"past the total", "0-100,900-1001", false, {}},
           Row{"backwards", "400-300", false, {}},
           Row{"a trailing comma", "0-100,", false, {}},
           Row{"not numbers", "0-1e3", false, {}},
           Row{"no dash", "400", false, {}},
       }) {
    SCOPED_TRACE(r.what);
    testing_support::TempDir dir;
    const std::string path = dir.path() + "\\x.part.resume";
    ASSERT_TRUE(platform::WriteFileBytes(path, "url=http://h/x\nvalidator=\"v\"\ntotal=1000\ndone=" + r.done + "\n"));
    std::optional<ResumeState> st = ReadResumeState(path);
    ASSERT_EQ(st.has_value(), r.readable);
    if (!st) continue;
    EXPECT_EQ(st->done, r.ranges);
    // Written back and read again: the same ranges.
    ASSERT_TRUE(WriteResumeState(path, *st));
    EXPECT_EQ(ReadResumeState(path)->done, r.ranges);
  }
  EXPECT_EQ(MissingRanges({{0, 100}, {300, 400}}, 500), (std::vector<ByteRange>{{100, 300}, {400, 500}}));
  EXPECT_EQ(MissingRanges({}, 500), (std::vector<ByteRange>{{0, 500}}));
  EXPECT_EQ(DonePrefix({{0, 100}, {300, 400}}), 100);
  EXPECT_EQ(DonePrefix({{300, 400}}), 0);
}

TEST(DownloadRangePlan, PiecesCoverTheGapsAndIdleConnectionsSplitTheSlowest) {
  // 100 bytes missing in two gaps, four pieces of about 25 (at least 10).
  RangePlan plan(120, {{0, 10}, {60, 70}}, 4, 10);
  std::vector<int> slots;
  for (int i = 0; i < 4; ++i) {
    std::optional<int> s = plan.Take();
    ASSERT_TRUE(s.has_value());
    slots.push_back(*s);
  }
  EXPECT_EQ(plan.queued(), 0u);
  std::vector<ByteRange> pieces;
  for (int s : slots) pieces.push_back({plan.slot(s).first, plan.slot(s).end});
  EXPECT_EQ(MergeRanges(pieces), (std::vector<ByteRange>{{10, 60}, {70, 120}}));
  EXPECT_FALSE(plan.Complete());

  // The first piece finishes; the others have written little.
  EXPECT_EQ(plan.Claim(slots[0], 1000), plan.slot(slots[0]).end - plan.slot(slots[0]).first);
  plan.Commit(slots[0]);
  EXPECT_EQ(plan.Claim(slots[0], 5), 0);  // nothing past its end
  plan.Release(slots[0]);
  std::optional<int> thief = plan.Take();
  ASSERT_TRUE(thief.has_value());
  EXPECT_EQ(plan.steals(), 1);
  // The victim keeps its first half, the thief gets the second.
  int victim = -1;
  for (int s : slots)
    if (s != *thief && plan.slot(s).open && plan.slot(s).end == plan.slot(*thief).first) victim = s;
  ASSERT_NE(victim, -1);
  EXPECT_GE(plan.slot(*thief).end - plan.slot(*thief).first, 10);

  // A claim under way is never split away: the split starts past it.
  const int busy = slots[1] == victim ? slots[2] : slots[1];
  EXPECT_GT(plan.Claim(busy, 20), 0);
  const std::int64_t claimedTo = plan.slot(busy).claimed;
  plan.Release(*thief);  // back to the queue, unwritten
  plan.Commit(busy);
  EXPECT_GE(plan.slot(busy).end, claimedTo);

  // Pieces too small to halve are left alone.
  RangePlan small(30, {}, 1, 10);
  auto only = small.Take();
  ASSERT_TRUE(only.has_value());
  EXPECT_EQ(small.Claim(*only, 15), 15);
  small.Commit(*only);
  EXPECT_FALSE(small.Take().has_value());  // 15 left: under two halves of 10
  EXPECT_EQ(small.Done(), (std::vector<ByteRange>{{0, 15}}));
  EXPECT_EQ(small.Claim(*only, 100), 15);
  small.Commit(*only);
  EXPECT_TRUE(small.Complete());
}

TEST(DownloadConnectionBudget, TwoFilesShareTheLimitAndTheLastTakesTheRest) {
  ConnectionBudget budget(4, 2);
  budget.FileStarted();
  budget.FileStarted();
  // Half each while both run: one more for the first file, none past that.
  EXPECT_TRUE(budget.TryAddConnection(0));
  EXPECT_FALSE(budget.TryAddConnection(1));
  EXPECT_TRUE(budget.TryAddConnection(0));  // the second file's extra
  EXPECT_FALSE(budget.TryAddConnection(0));  // the limit is reached
  EXPECT_EQ(budget.peak(), 4);
  // The second file ends: the first may now use all four.
  budget.RemoveConnection();
  budget.FileEnded();
  EXPECT_TRUE(budget.TryAddConnection(1));
  EXPECT_TRUE(budget.TryAddConnection(2));
  EXPECT_FALSE(budget.TryAddConnection(3));
  EXPECT_EQ(budget.peak(), 4);

  // One connection per file whatever the limit, and none beside it.
  ConnectionBudget one(1, 2);
  one.FileStarted();
  one.FileStarted();
  EXPECT_FALSE(one.TryAddConnection(0));
  // A file that never ran leaves its share to the other.
  ConnectionBudget dropped(4, 2);
  dropped.FileDropped();
  dropped.FileStarted();
  EXPECT_TRUE(dropped.TryAddConnection(0));
  EXPECT_TRUE(dropped.TryAddConnection(1));
  EXPECT_TRUE(dropped.TryAddConnection(2));
  EXPECT_FALSE(dropped.TryAddConnection(3));
}

}  // namespace
}  // namespace download
