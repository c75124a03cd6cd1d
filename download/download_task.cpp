#include "download/download_task.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>

#include "platform/names.h"
#include "platform/file_writer.h"
#include "platform/fs.h"

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
  CommonEnd(Outcome::Failed, false);
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
  transport_ = transports_ ? transports_() : platform::CreateHttpTransport();
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
    // The worker looks once per chunk; a read blocked on a silent server is
    // ended through the transport instead of by force.
    if (!workerEnded_.WaitFor(kStopWaitMs)) {
      if (transport_) transport_->Cancel();
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
  callback_(r);
}

void DownloadTask::Run() {
  bool fileCreated = false;
  Outcome outcome = Outcome::Failed;
  // An empty address or path, or a name that is not a plain file name in its
  // folder, fails before anything touches the disk.
  if (!url_.empty() && !filePath_.empty() && platform::IsSafePath(filePath_)) outcome = Transfer(fileCreated);
  CommonEnd(outcome, fileCreated);
}

DownloadTask::Outcome DownloadTask::Transfer(bool& fileCreated) {
  platform::HttpGetRequest request;
  request.url = url_;
  request.stallLimitMs = stallLimitMs_;
  if (!transport_) return Outcome::Failed;
  if (!transport_->Send(request) || stop_.Signalled()) return Outcome::Failed;
  // An error page is not the file.
  int status = transport_->StatusCode();
  if (status < 200 || status >= 300) return Outcome::Failed;
  std::int64_t announced = transport_->ContentLength();
  totalBytes_ = announced > 0 ? announced : 0;

  std::uint32_t avail = 0;
  if (!transport_->QueryDataAvailable(avail) || avail == 0) return Outcome::Failed;

  std::uint32_t capacity = std::max(kStagingBufferSize, avail);
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[capacity]);
  if (!buffer) return Outcome::Failed;

  platform::FileWriter file;
  if (!file.Create(tempPath_)) return Outcome::Failed;
  // Only a temporary file of our own is removed on failure; one left by
  // someone else before our Create stays.
  fileCreated = true;
  file.Reserve(totalBytes_.load());

  if (callback_) {
    ticker_.Start([this](std::intptr_t s) { Report(static_cast<std::int32_t>(s)); }, reportPeriodMs_,
                  firstReportDelayMs_, kProgress);
    startTick_ = clock_.TickCount();
    ReportOnFreshThread(kStarted);
  }

  std::uint32_t read = 0;
  if (!transport_->ReadData(buffer.get(), avail, read)) return Outcome::Failed;
  if (!file.Write(buffer.get(), read)) return Outcome::Failed;
  AddDone(read);

  std::uint32_t fill = 0;
  bool complete = false;
  while (true) {
    if (!transport_->QueryDataAvailable(avail)) break;
    if (stop_.Signalled()) break;
    if (avail == 0) {
      complete = fill == 0 || file.Write(buffer.get(), fill);
      break;
    }
    if (fill + static_cast<std::uint64_t>(avail) > capacity) {
      if (!file.Write(buffer.get(), fill)) break;
      fill = 0;
      if (avail > capacity) {
        // Grow only for a larger chunk; nothing pending to carry over.
        buffer.reset(new (std::nothrow) std::uint8_t[avail]);
        if (!buffer) break;
        capacity = avail;
      }
    }
    if (!transport_->ReadData(buffer.get() + fill, avail, read)) break;
    if (read == 0) {  // end of body found by the read itself
      complete = fill == 0 || file.Write(buffer.get(), fill);
      break;
    }
    fill += read;
    AddDone(read);
  }
  if (!file.Close()) complete = false;
  if (!complete) return Outcome::Failed;
  // A body shorter (or longer) than announced is a broken transfer.
  std::int64_t done;
  {
    std::lock_guard<CriticalLock> guard(lock_);
    done = doneBytes_;
  }
  if (totalBytes_.load() > 0 && done != totalBytes_.load()) return Outcome::Failed;
  if (!platform::MoveFileReplace(tempPath_, filePath_)) return Outcome::Failed;
  return Outcome::Complete;
}

void DownloadTask::CommonEnd(Outcome outcome, bool fileCreated) {
  if (callback_) {
    ticker_.Stop();
    ticker_.WaitTicks();
  }
  if (outcome != Outcome::Complete && fileCreated) (void)platform::DeleteFileAt(tempPath_);
  if (transport_) transport_->Close();
  if (outcome != Outcome::Complete) {
    reports_.WaitIdle();  // Started before Failed
    ReportOnFreshThread(kFailed);
  }
  // Finished is the last report: earlier ones have returned by now.
  reports_.WaitIdle();
  Report(kFinished);
  ended_ = true;
  workerEnded_.Set();
  if (doneEvent_) doneEvent_->Set();
}

}  // namespace download
