#include "download/download_task.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>

#include <random>

#include "download/rate_floor.h"
#include "platform/disk.h"
#include "platform/file_writer.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/names.h"

namespace download {

DownloadTask::DownloadTask(platform::Clock& clock, TransportFactory transports)
    : clock_(clock), transports_(std::move(transports)) {}

DownloadTask::~DownloadTask() {
  // An owner that cannot wait keeps the task alive instead (see Stop); here
  // the worker must end before the state it uses goes away.
  if (!Stop()) {
    std::lock_guard<std::mutex> control(control_);
    if (worker_.joinable()) worker_.join();
  }
  ticker_.Stop();
  ticker_.WaitTicks();
  reports_.WaitIdle();
}

void DownloadTask::Start(const std::string& url, const std::string& filePath, ProgressCallback cb,
                         std::int32_t userData, std::shared_ptr<CompletionEvent> done) {
  {
    std::lock_guard<std::mutex> control(control_);
    if (!StartLocked(url, filePath, std::move(cb), userData, std::move(done))) return;
  }
  // No worker: end here so that nobody waits for ever, outside the lock, as
  // the callback may call Stop.
  if (options_.budget) options_.budget->FileDropped();
  CommonEnd(Attempt{}, false);
}

bool DownloadTask::StartLocked(const std::string& url, const std::string& filePath, ProgressCallback cb,
                               std::int32_t userData, std::shared_ptr<CompletionEvent> done) {
  if (started_) return false;
  started_ = true;
  url_ = url;
  filePath_ = filePath;
  tempPath_ = filePath + kTempSuffix;
  callback_ = std::move(cb);
  userData_ = userData;
  doneEvent_ = std::move(done);
  startTick_ = clock_.TickCount();
  if (threadSeam_ && !threadSeam_()) return true;
  try {
    worker_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return true;
  }
  return false;
}

bool DownloadTask::Stop() {
  std::lock_guard<std::mutex> control(control_);
  if (!worker_.joinable()) return true;
  if (!ended_.load()) {
    stop_.Signal();
    WakeRanges();
    // The worker looks once per chunk; a read blocked on a silent server is
    // ended through the transport instead of by force.
    if (!workerEnded_.WaitFor(kStopWaitMs)) {
      {
        std::lock_guard<std::mutex> t(transportMutex_);
        if (transport_) transport_->Cancel();
        for (platform::HttpTransport* r : rangeTransports_) r->Cancel();
      }
      // A transport that ignores the cancel keeps its worker: never wait for
      // ever, never kill a thread. The owner must then keep the task alive.
      if (!workerEnded_.WaitFor(kStopWaitMs)) return false;
    }
  }
  worker_.join();
  return true;
}

void DownloadTask::AddDone(std::uint32_t n) {
  std::lock_guard<CriticalLock> guard(lock_);
  doneBytes_ += n;
}

void DownloadTask::ReportOnFreshThread(std::int32_t status) {
  if (!callback_) return;
  // A report that cannot get a thread of its own is made here instead.
  if (!reports_.Start([this, status] { Report(status); })) Report(status);
}

void DownloadTask::Report(std::int32_t status) {
  if (!callback_) return;
  Attempt why;
  std::int32_t retryIn = 0, attempt = 0;
  if (status == kFailed || status == kRetrying) {
    std::lock_guard<std::mutex> guard(reasonMutex_);
    why = reason_;
    retryIn = retryInMs_;
    attempt = attempt_;
  }
  Report(status, why, retryIn, attempt);
}

void DownloadTask::Report(std::int32_t status, const Attempt& why, std::int32_t retryInMs, std::int32_t attempt) {
  ProgressReport r;
  r.userData = userData_;
  r.status = status;
  r.total = totalBytes_.load();
  float sample = 0.0f;
  {
    std::lock_guard<CriticalLock> guard(lock_);
    r.done = doneBytes_;
    if (r.done > 0) {
      sample = static_cast<float>(static_cast<double>(r.done - prevDoneBytes_) / 512.0);
      prevDoneBytes_ = r.done;
    }
  }
  if (r.total != 0) {
    r.remaining = r.total - r.done;
    r.fraction = static_cast<float>(static_cast<double>(r.done) / static_cast<double>(r.total));
  }
  if (r.done > 0) {
    speed_.AddSample(sample);
    r.speed = speed_.Average();
  }
  r.elapsedMs = static_cast<std::int32_t>(platform::TicksBetween(startTick_.load(), clock_.TickCount()));
  r.filePath = filePath_;
  if (status == kFailed || status == kRetrying) {
    r.reason = why.reason;
    r.httpStatus = why.httpStatus;
    r.neededBytes = why.neededBytes;
    r.retryInMs = retryInMs;
    r.attempt = attempt;
  }
  callback_(r);
}

namespace {

std::string Folder(const std::string& path) {
  std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

}  // namespace

bool DownloadTask::PublishPart(const std::string& filePath) {
  const std::string part = filePath + kTempSuffix;
  if (!platform::MoveFileReplace(part, filePath)) return false;
  (void)platform::DeleteFileAt(ResumeStatePath(part));
  return true;
}

void DownloadTask::Run() {
  bool fileCreated = false;
  Attempt last;
  last.reason = FailReason::BadName;
  // An empty address or path, or a name that is not a plain file name in its
  // folder, fails before anything touches the disk.
  if (!url_.empty() && !filePath_.empty() && platform::IsSafePath(filePath_)) {
    if (!options_.budget)
      options_.budget = std::make_shared<ConnectionBudget>(std::clamp(options_.connections, 1, kMaxConnections), 1);
    options_.budget->FileStarted();
    addresses_.assign(1, url_);
    for (const std::string& spare : options_.mirrors)
      if (!spare.empty() && std::find(addresses_.begin(), addresses_.end(), spare) == addresses_.end())
        addresses_.push_back(spare);
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
      url_ = addresses_[i];
      if (i > 0) platform::Log("download " + filePath_ + ": trying spare address " + platform::AddressForLog(url_));
      last = FetchWithRetries(fileCreated);
      if (last.outcome == Outcome::Complete || stop_.Signalled()) break;
      // Faults of this machine follow the file to every host.
      if (last.reason == FailReason::DiskFull || last.reason == FailReason::WriteError ||
          last.reason == FailReason::Cancelled || last.reason == FailReason::BadName)
        break;
    }
    options_.budget->FileEnded();
  } else if (options_.budget) {
    options_.budget->FileDropped();
  }
  CommonEnd(last, fileCreated);
}

namespace {

// What the resume state keeps of an address: its digest, so that tokens in
// its query stay out of files beside the game. Empty when no hash is had.
std::string AddressDigest(const std::string& url) {
  platform::Sha256 h;
  h.Update(url);
  platform::Sha256Digest d{};
  return h.Final(d) ? "sha256:" + platform::DigestToHex(d) : std::string();
}

}  // namespace

bool DownloadTask::IsOurAddress(const std::string& url) const {
  // The state of older launchers holds the address itself.
  return std::any_of(addresses_.begin(), addresses_.end(),
                     [&](const std::string& a) { return a == url || (!url.empty() && AddressDigest(a) == url); });
}

DownloadTask::Attempt DownloadTask::FetchWithRetries(bool& fileCreated) {
  Attempt last;
  platform::Log("download " + platform::AddressForLog(url_) + " -> " + filePath_);
  std::mt19937 jitter(std::random_device{}());
  int startOvers = 0, badAnswers = 0;
  bool hashRetried = false;
  for (int attempt = 1;; ++attempt) {
    bool created = false;
    last = Transfer(created);
    fileCreated = fileCreated || created;
    if (last.outcome == Outcome::Complete) {
      last = VerifyAndPublish();
      if (last.outcome == Outcome::Complete) break;
      if (last.reason == FailReason::HashMismatch && !hashRetried && !stop_.Signalled()) {
        // A stale copy on the way may have been served once: once more from
        // the first byte, then the file has failed.
        hashRetried = true;
        --attempt;
        continue;
      }
      if (stop_.Signalled()) last.reason = FailReason::Cancelled;
      break;
    }
    if (last.outcome == Outcome::More && !stop_.Signalled()) {
      --attempt;  // not a fault: the next range of the same file
      continue;
    }
    if (stop_.Signalled()) {
      last.reason = FailReason::Cancelled;
      break;
    }
    if (last.startOver) {
      // Not a fault of the network: no attempt spent. An answer that fits no
      // request is given one more chance from the first byte; a file that
      // changed on the server, two.
      if (last.reason == FailReason::Protocol ? ++badAnswers <= 1 : ++startOvers <= 2) {
        DiscardPart();
        --attempt;
        continue;
      }
      break;
    }

    // A connection of a ranged attempt has spent its tries already.
    if (!IsTransient(last) || last.triesSpent || attempt >= options_.maxAttempts) break;
    const int wait = AnnounceRetry(last, attempt, jitter);
    if (stop_.WaitFor(wait)) {
      last = Attempt{};
      last.reason = FailReason::Cancelled;
      break;
    }
  }
  return last;
}

DownloadTask::Attempt DownloadTask::VerifyAndPublish() {
  Attempt bad;
  std::optional<std::uint64_t> size = platform::FileSizeOf(tempPath_);
  if (!size) {
    bad.reason = FailReason::WriteError;
    return bad;
  }
  if (options_.expectedSize >= 0 && static_cast<std::int64_t>(*size) != options_.expectedSize) {
    platform::Log("download " + platform::AddressForLog(url_) + ": " + std::to_string(*size) + " bytes, expected " +
                  std::to_string(options_.expectedSize));
    DiscardPart();
    bad.reason = FailReason::SizeMismatch;
    return bad;
  }
  if (options_.expectedSha256) {
    platform::Sha256Digest digest{};
    bool have = false;
    if (streamHash_ && hashedTo_ == static_cast<std::int64_t>(*size)) {
      have = streamHash_->Final(digest);
    }
    streamHash_.reset();
    if (!have) {
      // Ranges came out of order, or from an earlier run: one pass over the file.
      if (callback_) {
        reports_.WaitIdle();
        ReportOnFreshThread(kVerifying);
      }
      platform::HashFileResult r =
          platform::HashFile(tempPath_, digest, [this](std::uint64_t) { return !stop_.Signalled(); });
      if (r == platform::HashFileResult::Stopped) {
        bad.reason = FailReason::Cancelled;
        return bad;  // the part and its state stay for the next attempt
      }
      if (r != platform::HashFileResult::Ok) {
        bad.reason = FailReason::WriteError;
        return bad;
      }
    }
    if (digest != *options_.expectedSha256) {
      platform::Log("download " + platform::AddressForLog(url_) + ": SHA-256 " + platform::DigestToHex(digest) + ", expected " +
                    platform::DigestToHex(*options_.expectedSha256));
      DiscardPart();
      bad.reason = FailReason::HashMismatch;
      return bad;
    }
  }
  if (options_.publish) {
    if (!platform::MoveFileReplace(tempPath_, filePath_)) {
      bad.reason = FailReason::WriteError;
      return bad;
    }
    (void)platform::DeleteFileAt(ResumeStatePath(tempPath_));
  }
  Attempt ok;
  ok.outcome = Outcome::Complete;
  return ok;
}

bool DownloadTask::IsTransient(const Attempt& a) {
  return a.reason == FailReason::Connect || a.reason == FailReason::Broken || a.reason == FailReason::Stall ||
         (a.reason == FailReason::HttpStatus && (a.httpStatus >= 500 || a.httpStatus == 408 || a.httpStatus == 429));
}

int DownloadTask::AnnounceRetry(const Attempt& last, int attempt, std::mt19937& jitter) {
  // 1, 2, 4, 8, 16 s, each up to a quarter longer, so that many players
  // cut off together do not come back together.
  int wait = options_.retryBaseMs << (attempt - 1);
  wait += static_cast<int>(std::uniform_int_distribution<int>(0, wait / 4)(jitter));
  if (last.retryAfterMs > 0) wait = std::min(last.retryAfterMs, kMaxRetryAfterMs);
  {
    std::lock_guard<std::mutex> guard(reasonMutex_);
    reason_ = last;
    retryInMs_ = wait;
    attempt_ = attempt + 1;
  }
  platform::Log("download " + platform::AddressForLog(url_) + ": " + ReasonText(last.reason, last.httpStatus) + ", retry " +
                std::to_string(attempt + 1) + " in " + std::to_string(wait) + " ms");
  if (callback_) {
    reports_.WaitIdle();  // Started before Retrying
    // This retry's own values: the next one may be announced before this
    // report's thread runs.
    const std::int32_t next = attempt + 1;
    if (!reports_.Start([this, last, wait, next] { Report(kRetrying, last, wait, next); }))
      Report(kRetrying, last, wait, next);
  }
  return wait;
}

void DownloadTask::BeginCounting(std::int64_t have) {
  {
    std::lock_guard<CriticalLock> guard(lock_);
    doneBytes_ = have;
    prevDoneBytes_ = have;
  }
  // Started once per task, however many attempts it takes.
  if (callback_ && !startedReported_) {
    startedReported_ = true;
    ticker_.Start([this](std::intptr_t s) { Report(static_cast<std::int32_t>(s)); }, reportPeriodMs_,
                  firstReportDelayMs_, kProgress);
    startTick_ = clock_.TickCount();
    ReportOnFreshThread(kStarted);
  }
}

DownloadTask::Attempt DownloadTask::SizeMismatch() const {
  platform::Log("download " + platform::AddressForLog(url_) + ": announces " + std::to_string(totalBytes_.load()) + " bytes, expected " +
                std::to_string(options_.expectedSize));
  Attempt a;
  a.reason = FailReason::SizeMismatch;
  return a;
}

DownloadTask::Attempt DownloadTask::TransportFailure(platform::HttpTransport& t) const {
  Attempt a;
  switch (t.LastFailure()) {
    case platform::HttpFailure::Tls: a.reason = FailReason::Tls; break;
    case platform::HttpFailure::Stall: a.reason = FailReason::Stall; break;
    case platform::HttpFailure::Protocol: a.reason = FailReason::Protocol; break;
    case platform::HttpFailure::Cancelled: a.reason = FailReason::Cancelled; break;
    case platform::HttpFailure::Connect: a.reason = FailReason::Connect; break;
    case platform::HttpFailure::Broken:
    case platform::HttpFailure::None: a.reason = FailReason::Broken; break;
  }
  return a;
}

DownloadTask::Attempt DownloadTask::BodyFailure(platform::HttpTransport& t) const {
  // The answer had begun: a connection error now is a broken connection,
  // whatever the system calls it (Wine reports some resets as Connect).
  Attempt a = TransportFailure(t);
  if (a.reason == FailReason::Connect) a.reason = FailReason::Broken;
  return a;
}

void DownloadTask::DiscardPart() {
  (void)platform::DeleteFileAt(tempPath_);
  (void)platform::DeleteFileAt(ResumeStatePath(tempPath_));
}

void DownloadTask::SaveResumeState(std::int64_t done) {
  // Without a validator a later answer cannot be matched to these bytes.
  if (validator_.empty() || totalBytes_.load() <= 0) return;
  SaveResumeRanges({{0, done}});
}

void DownloadTask::SaveResumeRanges(const std::vector<ByteRange>& done) {
  if (validator_.empty() || totalBytes_.load() <= 0) return;
  const std::string digest = AddressDigest(url_);
  (void)WriteResumeState(ResumeStatePath(tempPath_),
                         {digest.empty() ? url_ : digest, validator_, totalBytes_.load(), done});
}

AskedRange DownloadTask::Asking(std::int64_t first, std::int64_t last, const std::string& validator,
                                std::int64_t total, bool ranged) const {
  AskedRange a;
  a.first = first;
  a.last = last;
  a.validator = validator;
  a.total = total;
  a.ranged = ranged;
  a.expectedSize = options_.expectedSize;
  a.pageIsFile = options_.expectedSha256.has_value() || IsWebPageName(filePath_);
  return a;
}

Judgement DownloadTask::Judge(platform::HttpTransport& t, const AskedRange& asked) const {
  Answer answer;
  answer.status = t.StatusCode();
  answer.contentRange = t.ResponseHeader("Content-Range");
  answer.contentLength = t.ResponseHeader("Content-Length");
  answer.etag = t.ResponseHeader("ETag");
  answer.lastModified = t.ResponseHeader("Last-Modified");
  answer.contentType = t.ResponseHeader("Content-Type");
  answer.retryAfter = t.ResponseHeader("Retry-After");
  Judgement j = JudgeAnswer(asked, answer);
  if ((j.verdict == Verdict::Accept || j.verdict == Verdict::SingleStream) && j.total > 0) {
    // FAT32 holds no file of 4 GiB or more: say so before the first byte.
    const std::int64_t most = platform::MaxFileBytes(platform::FileSystemAt(Folder(filePath_)));
    if (most >= 0 && j.total > most) {
      j.verdict = Verdict::Fail;
      j.reason = FailReason::Fat32Limit;
    }
  }
  if (j.verdict == Verdict::StartOver || (j.verdict == Verdict::Fail && j.reason != FailReason::HttpStatus))
    platform::Log("download " + platform::AddressForLog(url_) + ": answer " + std::to_string(answer.status) + " for bytes " +
                  std::to_string(asked.first) + "- (Content-Range \"" + answer.contentRange + "\", Content-Length \"" +
                  answer.contentLength + "\", Content-Type \"" + answer.contentType + "\"): " +
                  (j.verdict == Verdict::StartOver ? "starting over" : ReasonText(j.reason)));
  return j;
}

DownloadTask::Attempt DownloadTask::Refusal(const Judgement& j) {
  Attempt a;
  a.reason = j.reason;
  a.httpStatus = j.httpStatus;
  a.retryAfterMs = j.retryAfterMs;
  a.startOver = j.verdict == Verdict::StartOver;
  return a;
}

std::optional<DownloadTask::Attempt> DownloadTask::NoRoomFor(std::int64_t needed) const {
  std::optional<std::int64_t> free = platform::FreeBytesAt(Folder(filePath_));
  // Sizes are bounded by the judge; compared without a sum that could wrap.
  if (!free || needed <= *free - kFreeSpaceMargin) return std::nullopt;
  Attempt a;
  a.reason = FailReason::DiskFull;
  a.neededBytes = needed - (*free - kFreeSpaceMargin);
  return a;
}

DownloadTask::Attempt DownloadTask::Transfer(bool& fileCreated) {
  Attempt fail;
  std::unique_ptr<platform::HttpTransport> fresh = transports_ ? transports_() : platform::CreateHttpTransport();
  if (!fresh) return fail;
  platform::HttpTransport* t = fresh.get();
  {
    std::lock_guard<std::mutex> guard(transportMutex_);
    if (transport_) transport_->Close();
    transport_ = std::move(fresh);
    if (stop_.Signalled()) return fail;
  }

  // A part kept by an earlier attempt of this address, whole up to its state.
  std::optional<ResumeState> kept = ReadResumeState(ResumeStatePath(tempPath_));
  std::optional<std::uint64_t> keptSize = platform::FileSizeOf(tempPath_);
  if (kept && (!IsOurAddress(kept->url) || kept->validator.empty() || kept->total <= 0 ||
               kept->total > kMaxFileBytes || kept->done.empty() || !keptSize ||
               *keptSize < static_cast<std::uint64_t>(kept->done.back().end) ||
               (options_.expectedSize >= 0 && kept->total != options_.expectedSize)))
    kept.reset();
  const std::vector<ByteRange> missing = kept ? MissingRanges(kept->done, kept->total) : std::vector<ByteRange>{};

  platform::HttpGetRequest request;
  request.url = url_;
  request.stallLimitMs = stallLimitMs_;
  std::int64_t from = 0, last = -1;
  if (kept) {
    // A complete part asks for its last byte: the answer proves it current.
    from = missing.empty() ? kept->total - 1 : missing.front().first;
    last = std::min(kept->total, from + options_.maxRequestBytes) - 1;
    request.header = "Range:bytes=" + std::to_string(from) + "-" + (last < kept->total - 1 ? std::to_string(last) : "");
    request.moreHeaders.push_back("If-Range: " + kept->validator);
  }
  if (!t->Send(request)) return TransportFailure(*t);
  if (stop_.Signalled()) return fail;

  const Judgement j = Judge(*t, Asking(from, last, kept ? kept->validator : std::string(), kept ? kept->total : -1, false));
  if (j.verdict != Verdict::Accept) return Refusal(j);
  totalBytes_ = std::max<std::int64_t>(j.total, 0);
  validator_ = j.validator;
  const bool ranged = t->StatusCode() == 206;
  // The whole file came instead: nothing kept belongs to it.
  if (!ranged) kept.reset();
  if (ranged && !validator_.empty()) {
    // A fresh file big enough comes in ranges over several connections;
    // kept ranges with gaps, or a big file, go on in ranges. A complete
    // part only proves itself with its last byte.
    if (!kept && j.total >= options_.parallelMinBytes) return TransferRanges(t, 0, {}, j.end, fileCreated);
    if (kept && !missing.empty() &&
        (kept->total >= options_.parallelMinBytes || missing.size() > 1 || DonePrefix(kept->done) != from))
      return TransferRanges(t, from, kept->done, j.end, fileCreated);
  }
  return ReceiveBody(*t, j, kept ? from : 0, fileCreated);
}

DownloadTask::Attempt DownloadTask::ReceiveBody(platform::HttpTransport& tr, const Judgement& j,
                                                std::int64_t resumeFrom, bool& fileCreated) {
  platform::HttpTransport* t = &tr;
  Attempt fail;
  const std::int64_t total = totalBytes_.load();
  // Room for what is still to come, before the first byte; a part that is
  // about to be cut to nothing gives its room back.
  if (total > 0) {
    const std::int64_t freed =
        resumeFrom == 0 ? static_cast<std::int64_t>(platform::FileSizeOf(tempPath_).value_or(0)) : 0;
    if (std::optional<Attempt> full = NoRoomFor(total - resumeFrom - std::min(freed, total))) return *full;
  }
  // Where this answer stops: at the end of what it covers, and a resumable
  // file never past the request limit; the next request asks for the rest.
  std::int64_t stopAt = j.end >= 0 && j.end < total ? j.end : -1;
  if (!validator_.empty() && total > 0 && total - resumeFrom > options_.maxRequestBytes) {
    const std::int64_t limit = resumeFrom + options_.maxRequestBytes;
    stopAt = stopAt < 0 ? limit : std::min(stopAt, limit);
  }

  std::uint32_t avail = 0;
  if (!t->QueryDataAvailable(avail)) return BodyFailure(*t);
  if (avail == 0) {
    // An empty answer is no file; one that announced bytes broke off.
    fail.reason = j.total > 0 ? FailReason::Broken : FailReason::Protocol;
    return fail;
  }

  std::uint32_t capacity = std::max(kStagingBufferSize, avail);
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[capacity]);
  if (!buffer) return fail;

  platform::FileWriter file;
  if (resumeFrom > 0 ? !file.OpenAt(tempPath_, resumeFrom) : !file.Create(tempPath_)) {
    fail.reason = FailReason::WriteError;
    return fail;
  }
  // Only a temporary file of our own is removed on failure; one left by
  // someone else before our Create stays.
  fileCreated = true;
  if (resumeFrom == 0) (void)platform::DeleteFileAt(ResumeStatePath(tempPath_));
  file.Reserve(total - resumeFrom);
  written_ = resumeFrom;
  // Bytes that arrive in order from the first one are hashed on the way; a
  // resume within this run continues where the hash stands.
  if (options_.expectedSha256 && (resumeFrom == 0 || !streamHash_ || hashedTo_ != resumeFrom)) {
    streamHash_.reset();
    if (resumeFrom == 0) streamHash_.emplace();
    hashedTo_ = 0;
  }
  std::int64_t savedAt = resumeFrom;
  SaveResumeState(resumeFrom);
  if (resumeFrom > 0)
    platform::Log("download " + platform::AddressForLog(url_) + ": resuming at byte " + std::to_string(resumeFrom) + " of " +
                  std::to_string(total));
  BeginCounting(resumeFrom);
  RateFloor floor(clock_, minRate_, minRateWindowMs_);

  // The state lists only bytes that are on disk: a power cut must not leave
  // a state that trusts zeros.
  auto saveState = [&] { return file.Flush() && (SaveResumeState(written_), true); };
  auto writeOut = [&](const std::uint8_t* data, std::uint32_t n) {
    if (!file.Write(data, n)) return false;
    if (streamHash_ && hashedTo_ == written_) {
      streamHash_->Update(data, n);
      hashedTo_ += n;
    }
    written_ += n;
    if (written_ - savedAt >= kResumeSaveBytes) {
      if (!saveState()) return false;
      savedAt = written_;
    }
    return true;
  };
  auto writeFailure = [&] {
    Attempt w;
    w.reason = file.diskFull() ? FailReason::DiskFull : FailReason::WriteError;
    return w;
  };
  // A broken body keeps what reached the disk for the next attempt.
  auto broken = [&](Attempt a) {
    if (file.Close()) SaveResumeState(written_);
    return a;
  };
  // This answer's bytes are in: the next request goes on from here.
  auto more = [&] {
    if (!file.Close()) return writeFailure();
    SaveResumeState(written_);
    Attempt m;
    m.outcome = Outcome::More;
    return m;
  };
  auto Limited = [&stopAt](std::uint32_t n, std::int64_t at) {
    return stopAt < 0 ? n : static_cast<std::uint32_t>(std::min<std::int64_t>(n, stopAt - at));
  };
  std::uint32_t read = 0;
  if (!t->ReadData(buffer.get(), Limited(avail, written_), read)) return broken(BodyFailure(*t));
  if (!writeOut(buffer.get(), read)) return writeFailure();
  AddDone(read);
  if (stopAt >= 0 && written_ >= stopAt) return more();

  std::uint32_t fill = 0;
  for (;;) {
    if (!t->QueryDataAvailable(avail)) {
      if (fill > 0 && !writeOut(buffer.get(), fill)) return writeFailure();
      return broken(BodyFailure(*t));
    }
    if (stop_.Signalled()) {
      if (fill > 0 && !writeOut(buffer.get(), fill)) return writeFailure();
      Attempt c;
      c.reason = FailReason::Cancelled;
      return broken(c);
    }
    if (avail == 0) break;
    if (fill + static_cast<std::uint64_t>(avail) > capacity) {
      if (!writeOut(buffer.get(), fill)) return writeFailure();
      fill = 0;
      if (avail > capacity) {
        // Grow only for a larger chunk; nothing pending to carry over.
        buffer.reset(new (std::nothrow) std::uint8_t[avail]);
        if (!buffer) return fail;
        capacity = avail;
      }
    }
    if (!t->ReadData(buffer.get() + fill, Limited(avail, written_ + fill), read)) {
      if (fill > 0 && !writeOut(buffer.get(), fill)) return writeFailure();
      return broken(BodyFailure(*t));
    }
    if (read == 0) break;  // end of body found by the read itself
    fill += read;
    AddDone(read);
    if (stopAt >= 0 && written_ + fill >= stopAt) {
      if (!writeOut(buffer.get(), fill)) return writeFailure();
      return more();
    }
    if (floor.Starved(read)) {
      if (fill > 0 && !writeOut(buffer.get(), fill)) return writeFailure();
      platform::Log("download " + platform::AddressForLog(url_) + ": slower than " + std::to_string(minRate_) + " bytes/s");
      Attempt slow;
      slow.reason = FailReason::Stall;
      return broken(slow);
    }
  }
  if (fill > 0 && !writeOut(buffer.get(), fill)) return writeFailure();
  if (!file.Close()) return writeFailure();
  // A body shorter than announced is a broken transfer; a longer one is not
  // the file that was announced.
  if (total > 0 && written_ != total) {
    Attempt a;
    if (written_ < total) {
      a.reason = FailReason::Broken;
      SaveResumeState(written_);
    } else {
      a.reason = FailReason::SizeChanged;
      DiscardPart();
    }
    return a;
  }
  // Kept with its state until verified and published.
  SaveResumeState(written_);
  Attempt ok;
  ok.outcome = Outcome::Complete;
  return ok;
}

void DownloadTask::CommonEnd(const Attempt& last, bool fileCreated) {
  if (callback_) {
    ticker_.Stop();
    ticker_.WaitTicks();
  }
  if (last.outcome != Outcome::Complete && fileCreated) {
    // A part with a resume state is kept for the next attempt; one without
    // cannot be resumed safely.
    std::optional<ResumeState> kept = ReadResumeState(ResumeStatePath(tempPath_));
    if (!kept || RangeBytes(kept->done) <= 0) DiscardPart();
  }
  {
    std::lock_guard<std::mutex> t(transportMutex_);
    if (transport_) transport_->Close();
  }
  if (last.outcome != Outcome::Complete) {
    {
      std::lock_guard<std::mutex> guard(reasonMutex_);
      reason_ = last;
      retryInMs_ = 0;
      attempt_ = 0;
    }
    platform::Log("download " + platform::AddressForLog(url_) + " failed: " + ReasonText(last.reason, last.httpStatus, last.neededBytes) +
                  " after " + std::to_string(written_) + " bytes");
    reports_.WaitIdle();  // Started before Failed
    ReportOnFreshThread(kFailed);
  } else {
    platform::Log("download " + platform::AddressForLog(url_) + " complete: " + std::to_string(written_) + " bytes");
  }
  // Finished is the last report: earlier ones have returned by now.
  reports_.WaitIdle();
  Report(kFinished);
  ended_ = true;
  workerEnded_.Set();
  if (doneEvent_) doneEvent_->Set();
}

}  // namespace download
