// A file fetched in ranges over several connections: each connection writes
// its own piece at its offset of the part; one that runs out of work takes
// the second half of the slowest piece. The engine stays one portable file
// set: the connections are transports of the build's backend.
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <new>
#include <random>
#include <system_error>

#include "download/download_task.h"
#include "download/range_plan.h"
#include "download/rate_floor.h"
#include "platform/disk.h"
#include "platform/file_writer.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/names.h"

namespace download {

namespace {

constexpr std::uint32_t kRangeBufferBytes = 256 * 1024;

}  // namespace

struct DownloadTask::RangeRun {
  RangeRun(std::int64_t total, const std::vector<ByteRange>& done, int pieces)
      : plan(total, done, pieces, kMinSplitBytes) {}
  std::mutex mutex;  // guards every field below
  std::condition_variable changed;
  RangePlan plan;
  std::optional<Attempt> failure;  // the first connection's fault ends the attempt
  bool abort = false;
  int live = 0;    // connection threads running
  int extras = 0;  // of them, taken from the budget beside the file's own
  int requests = 0;
  int peak = 0;
  std::int64_t unsaved = 0;  // bytes written since the resume state was saved
  std::mutex saveMutex;      // one resume state write at a time; taken before mutex
  // A connection that got the whole file instead of its range: the attempt
  // goes on with that answer alone.
  std::unique_ptr<platform::HttpTransport> fallback;
  Judgement fallbackJudgement;
  std::int64_t firstEnd = 0;  // where the attempt's first answer ends
};

void DownloadTask::WakeRanges() {
  std::lock_guard<std::mutex> guard(transportMutex_);
  if (!activeRun_) return;
  {
    // Taken and let go so that a waiter between its check and its sleep
    // cannot miss the stop.
    std::lock_guard<std::mutex> lock(activeRun_->mutex);
  }
  activeRun_->changed.notify_all();
}

void DownloadTask::RangeConnection(RangeRun& run, int slot, platform::HttpTransport* first) {
  std::unique_ptr<platform::HttpTransport> owned;
  platform::HttpTransport* t = first;
  std::int64_t requestEnd = 0;
  {
    std::lock_guard<std::mutex> lock(run.mutex);
    const RangePlan::Slot& s = run.plan.slot(slot);
    requestEnd = std::min(totalBytes_.load(), s.first + options_.maxRequestBytes);
    // The first answer may cover less than its piece: the rest is asked for anew.
    if (first) requestEnd = std::min(requestEnd, run.firstEnd);
  }
  auto fault = [&run](Attempt a) {
    std::lock_guard<std::mutex> lock(run.mutex);
    if (!run.failure && !run.abort) run.failure = a;
    run.abort = true;
    run.changed.notify_all();
  };
  auto dropTransport = [&] {
    std::lock_guard<std::mutex> guard(transportMutex_);
    if (owned) {
      std::erase(rangeTransports_, owned.get());
      owned->Close();
      owned.reset();
    } else if (t) {
      t->Close();  // the attempt's first answer: the rest of it is not needed
    }
    t = nullptr;
  };

  // A transient fault is tried again on this connection after the usual
  // wait, from where its piece stands; the others go on meanwhile and may
  // take part of the piece.
  std::mt19937 jitter(std::random_device{}());
  int tries = 1;
  std::int64_t progress = 0;  // bytes written since the last fault
  auto retry = [&](Attempt a) {
    if (!IsTransient(a) || a.startOver || stop_.Signalled()) {
      fault(a);
      return false;
    }
    // A connection that got on since its last fault starts its tries afresh.
    if (progress >= kProgressResetBytes) tries = 1;
    progress = 0;
    if (tries >= options_.maxAttempts) {
      a.triesSpent = true;
      fault(a);
      return false;
    }
    dropTransport();
    const int wait = AnnounceRetry(a, tries, jitter);
    ++tries;
    std::unique_lock<std::mutex> lock(run.mutex);
    // Stop wakes this wait too (through activeRun_).
    run.changed.wait_for(lock, std::chrono::milliseconds(wait), [&] { return run.abort || stop_.Signalled(); });
    return !run.abort && !stop_.Signalled();
  };

  platform::FileWriter file;
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kRangeBufferBytes]);
  bool wrote = false;
  bool holding = true;  // a released slot may soon be another connection's
  RateFloor floor(clock_, minRate_, minRateWindowMs_);
  if (!buffer || !file.OpenForUpdate(tempPath_)) {
    Attempt w;
    w.reason = FailReason::WriteError;
    fault(w);
  }
  while (buffer && file.IsOpen()) {
    std::int64_t at = 0, end = 0;
    {
      std::unique_lock<std::mutex> lock(run.mutex);
      if (run.abort) break;
      if (run.plan.slot(slot).claimed >= run.plan.slot(slot).end) {
        run.plan.Release(slot);
        holding = false;
        std::optional<int> next = run.plan.Take();
        if (!next) break;
        holding = true;
        slot = *next;
        lock.unlock();
        dropTransport();
        lock.lock();
      }
      at = run.plan.slot(slot).claimed;
      end = run.plan.slot(slot).end;
    }
    if (stop_.Signalled()) break;
    if (!t) {
      requestEnd = std::min(end, at + options_.maxRequestBytes);
      std::unique_ptr<platform::HttpTransport> fresh = transports_ ? transports_() : platform::CreateHttpTransport();
      if (!fresh) {
        fault(Attempt{});
        break;
      }
      {
        std::lock_guard<std::mutex> guard(transportMutex_);
        if (stop_.Signalled()) break;
        owned = std::move(fresh);
        rangeTransports_.push_back(owned.get());
        t = owned.get();
      }
      platform::HttpGetRequest request;
      request.url = url_;
      request.stallLimitMs = stallLimitMs_;
      request.header = "Range:bytes=" + std::to_string(at) + "-" + std::to_string(requestEnd - 1);
      request.moreHeaders.push_back("If-Range: " + validator_);
      {
        std::lock_guard<std::mutex> lock(run.mutex);
        ++run.requests;
      }
      if (!t->Send(request)) {
        if (!retry(TransportFailure(*t))) break;
        continue;
      }
      const Judgement j = Judge(*t, Asking(at, requestEnd - 1, validator_, totalBytes_.load(), true));
      if (j.verdict == Verdict::SingleStream) {
        // The whole file instead of a range (another node, another validator):
        // the attempt goes on with this answer as one stream.
        std::lock_guard<std::mutex> guard(transportMutex_);
        std::lock_guard<std::mutex> lock(run.mutex);
        if (!run.abort && !run.fallback) {
          std::erase(rangeTransports_, owned.get());
          run.fallback = std::move(owned);
          run.fallbackJudgement = j;
          t = nullptr;
          run.abort = true;
          run.changed.notify_all();
        }
        break;
      }
      if (j.verdict != Verdict::Accept) {
        if (!retry(Refusal(j))) break;
        continue;
      }
      floor.Restart();
      // An answer that covers less than was asked is progress all the same:
      // the next request goes on from where it ends.
      requestEnd = std::min(requestEnd, j.end);
    }
    std::uint32_t avail = 0, read = 0;
    if (!t->QueryDataAvailable(avail) ||
        (avail > 0 && !t->ReadData(buffer.get(), std::min(avail, kRangeBufferBytes), read))) {
      if (!retry(BodyFailure(*t))) break;
      continue;
    }
    if (read > 0 && floor.Starved(read)) {
      // A trickle: what this connection has not written goes back to the
      // queue for an idle connection, however small.
      {
        std::lock_guard<std::mutex> lock(run.mutex);
        run.plan.Release(slot);
        holding = false;
      }
      platform::Log("download " + platform::AddressForLog(url_) + ": a connection slower than " + std::to_string(minRate_) + " bytes/s");
      Attempt slow;
      slow.reason = FailReason::Stall;
      if (!retry(slow)) break;
      std::lock_guard<std::mutex> lock(run.mutex);
      std::optional<int> next = run.plan.Take();
      if (!next) break;
      holding = true;
      slot = *next;
      continue;
    }
    if (read == 0) {
      // The answer ended before the bytes it was asked for.
      Attempt broken;
      broken.reason = FailReason::Broken;
      if (!retry(broken)) break;
      continue;
    }
    std::int64_t n = 0;
    {
      std::lock_guard<std::mutex> lock(run.mutex);
      n = run.plan.Claim(slot, std::min<std::int64_t>(read, requestEnd - at));
    }
    if (n > 0 && !file.WriteAt(at, buffer.get(), static_cast<std::size_t>(n))) {
      Attempt w;
      w.reason = file.diskFull() ? FailReason::DiskFull : FailReason::WriteError;
      fault(w);
      break;
    }
    wrote = wrote || n > 0;
    progress += n;
    bool save = false;
    {
      std::lock_guard<std::mutex> lock(run.mutex);
      run.plan.Commit(slot);
      run.unsaved += n;
      if (run.unsaved >= kResumeSaveBytes) save = true, run.unsaved = 0;
    }
    AddDone(static_cast<std::uint32_t>(n));
    // The request's end, or the rest of the piece went to another connection.
    if (at + n >= requestEnd || n < read) dropTransport();
    if (save) {
      // A killed launcher resumes from about here.
      std::lock_guard<std::mutex> saving(run.saveMutex);
      std::vector<ByteRange> done;
      {
        std::lock_guard<std::mutex> lock(run.mutex);
        done = run.plan.Done();
      }
      // Every connection's committed bytes are on disk before a state lists
      // them: the flush covers the whole file, whichever handle asks.
      if (file.Flush()) SaveResumeRanges(done);
    }
  }
  dropTransport();
  const bool closed = !file.IsOpen() || file.Close();
  std::lock_guard<std::mutex> lock(run.mutex);
  if (holding) run.plan.Release(slot);
  if (!closed && wrote && !run.failure) {
    Attempt w;
    w.reason = file.diskFull() ? FailReason::DiskFull : FailReason::WriteError;
    run.failure = w;
    run.abort = true;
  }
  --run.live;
  run.changed.notify_all();
}

DownloadTask::Attempt DownloadTask::TransferRanges(platform::HttpTransport* first, std::int64_t from,
                                                   const std::vector<ByteRange>& done, std::int64_t firstEnd, bool& fileCreated) {
  Attempt fail;
  const std::int64_t total = totalBytes_.load();
  const std::int64_t have = RangeBytes(done);
  if (std::optional<Attempt> full = NoRoomFor(total - have)) return *full;
  if (done.empty()) {
    platform::FileWriter part;
    if (!part.Create(tempPath_)) {
      fail.reason = FailReason::WriteError;
      return fail;
    }
    fileCreated = true;
    (void)platform::DeleteFileAt(ResumeStatePath(tempPath_));
    // Written far ahead of its end, a part that is not sparse is first filled
    // with zeros up to each write, on that connection's thread.
    const platform::SparseResult sparse = part.SetSparse(true);
    platform::Log("download " + platform::AddressForLog(url_) + ": sparse part " +
                  (sparse == platform::SparseResult::Done           ? "allowed"
                   : sparse == platform::SparseResult::NotSupported ? "not supported by the volume"
                                                                    : "refused"));
    if (sparse != platform::SparseResult::Done) part.Reserve(total);
    if (!part.Close()) {
      fail.reason = part.diskFull() ? FailReason::DiskFull : FailReason::WriteError;
      return fail;
    }
  } else {
    fileCreated = true;
    platform::Log("download " + platform::AddressForLog(url_) + ": resuming " + std::to_string(have) + " of " + std::to_string(total) +
                  " bytes in " + std::to_string(done.size()) + " range(s)");
  }
  SaveResumeRanges(done);
  BeginCounting(have);

  ConnectionBudget& budget = *options_.budget;
  RangeRun run(total, done, budget.limit());
  run.firstEnd = firstEnd;
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(run.mutex);
    std::optional<int> slot = run.plan.Take();  // begins at `from`, where the first answer does
    if (!slot || run.plan.slot(*slot).first != from) {
      fail.startOver = true;
      return fail;
    }
    run.live = 1;
    run.peak = 1;
    run.requests = 1;
  }
  {
    std::lock_guard<std::mutex> guard(transportMutex_);
    activeRun_ = &run;
  }
  try {
    threads.emplace_back([this, &run, first] { RangeConnection(run, 0, first); });
  } catch (const std::system_error&) {
    RangeConnection(run, 0, first);  // no thread: one connection, on this one
  }
  auto launch = [&](int slot) {
    try {
      threads.emplace_back([this, &run, &budget, slot] {
        RangeConnection(run, slot, nullptr);
        budget.RemoveConnection();
        std::lock_guard<std::mutex> lock(run.mutex);
        --run.extras;
        run.changed.notify_all();
      });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  };
  std::unique_lock<std::mutex> lock(run.mutex);
  bool cancelled = false;
  bool tryNow = true;  // the first extra connections start at once
  while (run.live > 0 || run.extras > 0) {
    if (!tryNow) run.changed.wait_for(lock, std::chrono::milliseconds(kConnectionCheckMs));
    tryNow = false;
    if (run.live == 0 && run.extras == 0) break;
    if ((run.abort || stop_.Signalled()) && !cancelled) {
      // Every connection ends at once: the attempt is over.
      run.abort = true;
      cancelled = true;
      lock.unlock();
      {
        std::lock_guard<std::mutex> guard(transportMutex_);
        if (transport_) transport_->Cancel();
        for (platform::HttpTransport* r : rangeTransports_) r->Cancel();
      }
      lock.lock();
      continue;
    }
    if (run.abort) continue;
    // Room for one more connection (the other file may have ended), and
    // work for it.
    const int extras = run.extras;
    lock.unlock();
    const bool room = budget.TryAddConnection(extras);
    lock.lock();
    if (!room) continue;
    std::optional<int> slot = run.abort ? std::nullopt : run.plan.Take();
    if (!slot) {
      budget.RemoveConnection();
      continue;
    }
    ++run.live;
    ++run.extras;
    run.peak = std::max(run.peak, run.live);
    if (!launch(*slot)) {
      --run.live;
      --run.extras;
      run.plan.Release(*slot);
      budget.RemoveConnection();
    } else {
      tryNow = true;
    }
  }
  lock.unlock();
  for (std::thread& th : threads) th.join();
  {
    std::lock_guard<std::mutex> guard(transportMutex_);
    activeRun_ = nullptr;
  }

  const std::vector<ByteRange> now = run.plan.Done();
  written_ = RangeBytes(now);
  platform::Log("download " + platform::AddressForLog(url_) + ": " + std::to_string(run.requests) + " range request(s), up to " +
                std::to_string(run.peak) + " connection(s), " + std::to_string(run.plan.steals()) + " split(s)");
  if (run.fallback && !run.failure && !stop_.Signalled()) {
    platform::Log("download " + platform::AddressForLog(url_) + ": ranges answered with the whole file; one stream from here");
    platform::HttpTransport* t = run.fallback.get();
    {
      std::lock_guard<std::mutex> guard(transportMutex_);
      if (transport_) transport_->Close();
      transport_ = std::move(run.fallback);
    }
    validator_ = run.fallbackJudgement.validator;
    totalBytes_ = std::max<std::int64_t>(run.fallbackJudgement.total, 0);
    return ReceiveBody(*t, run.fallbackJudgement, 0, fileCreated);
  }
  if (run.failure) {
    if (!run.failure->startOver) SaveResumeRanges(now);
    return *run.failure;
  }
  if (stop_.Signalled() || !run.plan.Complete()) {
    SaveResumeRanges(now);
    Attempt c;
    c.reason = stop_.Signalled() ? FailReason::Cancelled : FailReason::Broken;
    return c;
  }
  {
    // Whole now: an ordinary file again.
    platform::FileWriter whole;
    if (whole.OpenForUpdate(tempPath_)) {
      (void)whole.SetSparse(false);
      (void)whole.Close();
    }
  }
  // A kept part may be longer than the file: it ends at the last byte.
  std::optional<std::uint64_t> size = platform::FileSizeOf(tempPath_);
  if (!size || *size != static_cast<std::uint64_t>(total)) {
    platform::FileWriter cut;
    if (!cut.OpenAt(tempPath_, total) || !cut.Close()) {
      fail.reason = FailReason::WriteError;
      return fail;
    }
  }
  // Kept with its state until verified and published.
  SaveResumeRanges(now);
  Attempt ok;
  ok.outcome = Outcome::Complete;
  return ok;
}

}  // namespace download
