// One download: a GET of one address into one file on a worker thread, with
// reports every half second and a completion event. The file is written
// under a temporary name beside the target and moved over the target only
// when the whole body arrived.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "download/completion_event.h"
#include "download/connection_budget.h"
#include "download/critical_lock.h"
#include "download/download_status.h"
#include "download/response_judge.h"
#include "download/resume_state.h"
#include "download/speed_averager.h"
#include "download/stop_signal.h"
#include "download/thread_start.h"
#include "download/ticker_thread.h"
#include "platform/clock.h"
#include "platform/http_transport.h"
#include "platform/sha256.h"

namespace download {

struct TaskOptions {
  // Attempts in all (1: no retry), and the first retry's wait; each further
  // wait doubles.
  int maxAttempts = 6;
  int retryBaseMs = 1000;
  // False: a complete file stays "<target>.part" with its resume state, for
  // the owner to publish with DownloadTask::PublishPart.
  bool publish = true;
  // At most this much is asked for in one request of a resumable file: one
  // WinHTTP response ends at 2^31-1 bytes under Wine, so a larger file is
  // fetched in ranges below that.
  std::int64_t maxRequestBytes = std::int64_t{1} << 30;
  // What the operator says the file is. Another announced or received size
  // fails it (SizeMismatch); another SHA-256 discards it, fetches it once
  // more from the first byte, and then fails it (HashMismatch).
  std::int64_t expectedSize = -1;
  std::optional<platform::Sha256Digest> expectedSha256{};
  // Spare addresses, in order, for when an address fails for good or runs
  // out of retries.
  std::vector<std::string> mirrors{};
  // A file of at least parallelMinBytes whose server answers ranges is
  // fetched over up to this many connections at once (1 to 8).
  int connections = 4;
  std::int64_t parallelMinBytes = std::int64_t{16} << 20;
  // Shared with the other files of an install; without one the task keeps
  // to `connections` alone.
  std::shared_ptr<ConnectionBudget> budget = nullptr;
};

inline constexpr int kMaxConnections = 8;

class DownloadTask {
 public:
  static constexpr int kReportPeriodMs = 495;
  static constexpr int kFirstReportDelayMs = 500;
  static constexpr std::uint32_t kStagingBufferSize = 10240;
  static constexpr int kStopWaitMs = 2000;
  static constexpr char kTempSuffix[] = ".part";
  // Room kept free on the volume beyond the file.
  static constexpr std::int64_t kFreeSpaceMargin = 16 << 20;
  // The kept .part's state is saved after this many bytes, so that a killed
  // launcher resumes from near where it was.
  static constexpr std::int64_t kResumeSaveBytes = 8 << 20;
  // A piece in flight is split for an idle connection only while both halves
  // keep this much.
  static constexpr std::int64_t kMinSplitBytes = 1 << 20;
  // How often the ranges' overseer looks for room to add a connection.
  static constexpr int kConnectionCheckMs = 200;
  // A connection slower than this on average over the window counts as
  // stalled (a trickle), and its rest may go to another connection.
  static constexpr std::int64_t kMinRateBytesPerSecond = 1024;
  static constexpr int kMinRateWindowMs = 30000;
  // A ranged connection that brought this much since its last fault starts
  // its count of tries afresh: the file goes on while its pieces do.
  static constexpr std::int64_t kProgressResetBytes = 64 << 10;

  using TransportFactory = std::function<std::unique_ptr<platform::HttpTransport>()>;

  // The transport factory defaults to the build's backend.
  explicit DownloadTask(platform::Clock& clock = platform::SystemClock(), TransportFactory transports = {});
  // Stops a running transfer and waits for every report thread it started.
  ~DownloadTask();
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  // Once per task. Every started task ends with Finished (after Failed when
  // it failed) and then sets `done`, also for an empty address or path.
  void Start(const std::string& url, const std::string& filePath, ProgressCallback cb = {},
             std::int32_t userData = 0, std::shared_ptr<CompletionEvent> done = {});
  // Nothing after a normal end. Otherwise cuts the transfer short: the
  // worker gets kStopWaitMs to notice, then the transport is cancelled and
  // the worker gets kStopWaitMs more; the task then ends as a failure.
  // True when the worker has ended; false when it did not within the bound,
  // and then the task must not be destroyed (its worker still uses it).
  [[nodiscard]] bool Stop();

  // Test seam: false makes the worker's creation fail.
  void SetThreadSeam(std::function<bool()> seam) { threadSeam_ = std::move(seam); }

  // Before Start.
  void SetOptions(const TaskOptions& options) { options_ = options; }

  // A connection that brings no byte for this long fails (default 60 s).
  void SetStallLimitMs(int ms) { stallLimitMs_ = ms; }
  // A connection slower than this many bytes a second over windowMs fails
  // as stalled (default kMinRateBytesPerSecond over kMinRateWindowMs).
  void SetMinRate(std::int64_t bytesPerSecond, int windowMs) {
    minRate_ = bytesPerSecond;
    minRateWindowMs_ = windowMs;
  }
  // Report timing; before Start only.
  void SetReportTiming(int firstDelayMs, int periodMs) {
    firstReportDelayMs_ = firstDelayMs;
    reportPeriodMs_ = periodMs;
  }
  // Moves a complete kept "<filePath>.part" over filePath and drops its
  // resume state. False when the part is missing or cannot be moved.
  [[nodiscard]] static bool PublishPart(const std::string& filePath);

  // Computes the counters and calls the callback; used by the ticker and the
  // report threads, public so that tests can drive the arithmetic.
  void Report(std::int32_t status);

 private:
  // More: this request's range is done and the file is not; the next one
  // goes on at once.
  enum class Outcome { Complete, Failed, More };
  struct Attempt {
    Outcome outcome = Outcome::Failed;
    FailReason reason = FailReason::None;
    std::int32_t httpStatus = 0;
    std::int64_t neededBytes = 0;
    int retryAfterMs = 0;  // the server's Retry-After, 0 when none
    bool startOver = false;  // the kept part is useless: try again at once from the first byte
    bool triesSpent = false;  // a connection already retried it as often as the file may
  };
  // True when no worker could be started (the task must then end at once).
  bool StartLocked(const std::string& url, const std::string& filePath, ProgressCallback cb, std::int32_t userData,
                   std::shared_ptr<CompletionEvent> done);
  void Run();
  // The attempts at url_, with retries, ending with a verified file.
  Attempt FetchWithRetries(bool& fileCreated);
  // Size and hash of the complete part, then its publication.
  Attempt VerifyAndPublish();
  // A kept part may continue from any of this task's addresses: If-Range
  // makes the server prove it is the same file.
  bool IsOurAddress(const std::string& url) const;
  // One request: resumes the kept part when it can, reads the body into it.
  // fileCreated tells whether the temporary file is this task's.
  Attempt Transfer(bool& fileCreated);
  // What was asked, for the judge.
  AskedRange Asking(std::int64_t first, std::int64_t last, const std::string& validator, std::int64_t total,
                    bool ranged) const;
  // The judge's verdict on the answer t holds, the volume's limit included.
  Judgement Judge(platform::HttpTransport& t, const AskedRange& asked) const;
  static Attempt Refusal(const Judgement& j);
  // Writes the body of an accepted answer into the part from resumeFrom on.
  Attempt ReceiveBody(platform::HttpTransport& t, const Judgement& j, std::int64_t resumeFrom, bool& fileCreated);
  // Room on the volume for `needed` more bytes, or why not.
  std::optional<Attempt> NoRoomFor(std::int64_t needed) const;
  Attempt TransportFailure(platform::HttpTransport& t) const;
  // A failure while the body comes.
  Attempt BodyFailure(platform::HttpTransport& t) const;
  // The counters start at the bytes already kept; the first time, the
  // ticker starts and Started goes out.
  void BeginCounting(std::int64_t have);
  // The announced size is not the one the operator stated.
  Attempt SizeMismatch() const;
  static bool IsTransient(const Attempt& a);
  // Logs and reports the retry after `attempt` failed; the wait in ms.
  int AnnounceRetry(const Attempt& last, int attempt, std::mt19937& jitter);
  // The rest of an attempt whose first answer (from `from`, on transport
  // first) allows ranges: several connections fill the part, each its ranges.
  // The first answer holds bytes [from, firstEnd).
  Attempt TransferRanges(platform::HttpTransport* first, std::int64_t from, const std::vector<ByteRange>& done,
                         std::int64_t firstEnd, bool& fileCreated);
  struct RangeRun;
  void RangeConnection(RangeRun& run, int slot, platform::HttpTransport* first);
  // Wakes every wait of the ranges under way (Stop).
  void WakeRanges();
  void SaveResumeRanges(const std::vector<ByteRange>& done);
  void DiscardPart();
  void SaveResumeState(std::int64_t done);
  void CommonEnd(const Attempt& last, bool fileCreated);
  void ReportOnFreshThread(std::int32_t status);
  void Report(std::int32_t status, const Attempt& why, std::int32_t retryInMs, std::int32_t attempt);
  void AddDone(std::uint32_t n);

  platform::Clock& clock_;
  std::string url_;
  std::string filePath_;
  std::string tempPath_;
  ProgressCallback callback_;
  std::int32_t userData_ = 0;
  std::shared_ptr<CompletionEvent> doneEvent_;
  int stallLimitMs_ = platform::kDefaultStallLimitMs;
  std::int64_t minRate_ = kMinRateBytesPerSecond;
  int minRateWindowMs_ = kMinRateWindowMs;
  int firstReportDelayMs_ = kFirstReportDelayMs;
  int reportPeriodMs_ = kReportPeriodMs;
  TransportFactory transports_;
  std::function<bool()> threadSeam_;
  TaskOptions options_;  // transient faults are tried again after 1, 2, 4, 8, 16 s
  std::vector<std::string> addresses_;  // the address, then the spare ones
  std::string validator_;      // of the response being written
  // SHA-256 of bytes [0, hashedTo_) of the part, while they arrive in order.
  std::optional<platform::Sha256> streamHash_;
  std::int64_t hashedTo_ = 0;
  std::int64_t written_ = 0;   // bytes of the part on disk, the resumed ones included
  bool startedReported_ = false;
  std::mutex reasonMutex_;     // guards reason_
  Attempt reason_;             // what the next Failed or Retrying report says
  std::int32_t retryInMs_ = 0, attempt_ = 0;

  std::atomic<std::int64_t> totalBytes_{0};
  std::atomic<std::uint32_t> startTick_{0};
  CriticalLock lock_;  // guards doneBytes_ and prevDoneBytes_
  std::int64_t doneBytes_ = 0;
  std::int64_t prevDoneBytes_ = 0;
  SpeedAverager speed_;

  std::mutex control_;  // Start against Stop
  bool started_ = false;
  std::atomic<bool> ended_{false};
  CompletionEvent workerEnded_;
  StopSignal stop_;
  std::mutex transportMutex_;  // the worker swaps transports per attempt; Stop cancels
  std::unique_ptr<platform::HttpTransport> transport_;
  std::vector<platform::HttpTransport*> rangeTransports_;  // the ranges' own, cancelled by Stop too
  RangeRun* activeRun_ = nullptr;  // the ranges under way, woken by Stop
  std::thread worker_;
  // Declared last: destroyed first, so report threads end before the state
  // they read goes away.
  ThreadGroup reports_;
  TickerThread ticker_;
};

}  // namespace download
