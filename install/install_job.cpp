#include "install/install_job.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>

#include "download/download_task.h"
#include "download/resume_state.h"
#include "install/progress_display.h"
#include "platform/disk.h"
#include "platform/log.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "platform/runtime.h"
#include "platform/system.h"
#include "ui/main_controls.h"

namespace install {
namespace {

constexpr ui::WindowId kMain = ui::WindowId::Main;
constexpr std::array<std::string_view, 3> kAnnouncementLabels = {"公告标签1", "公告标签2", "公告标签3"};
constexpr std::array<std::string_view, 8> kInstallControls = {
    "安装游戏按钮_Ravik", "安装游戏按钮_Solen", "安装游戏按钮_Nuvik", "安装游戏按钮_Tavor",
    "版本一按钮",         "版本二按钮",         "版本三按钮",         "版本四按钮",
};

}  // namespace

InstallJob::InstallJob(ui::Ui& ui, config::Versions& versions) : ui_(ui), versions_(versions) {
  SetRetryPolicy(download::TaskOptions{}.maxAttempts, download::TaskOptions{}.retryBaseMs);
}

void InstallJob::SetRetryPolicy(int maxAttempts, int retryBaseMs) {
  taskOptions_.maxAttempts = maxAttempts;
  taskOptions_.retryBaseMs = retryBaseMs;
}

void InstallJob::SetDownloadConnections(int connections) {
  taskOptions_.connections = std::clamp(connections, 1, download::kMaxConnections);
}

namespace {

download::TaskOptions WithIntegrity(download::TaskOptions options, const config::FileIntegrity& stated) {
  if (stated.size) options.expectedSize = static_cast<std::int64_t>(*stated.size);
  options.expectedSha256 = stated.sha256;
  options.mirrors = stated.mirrors;
  return options;
}

}  // namespace

std::int64_t KeptPartBytes(const std::string& filePath) {
  const std::string part = filePath + download::DownloadTask::kTempSuffix;
  std::optional<std::uint64_t> size = platform::FileSizeOf(part);
  if (!size) return 0;
  std::optional<download::ResumeState> state = download::ReadResumeState(download::ResumeStatePath(part));
  if (!state) return 0;
  return std::min<std::int64_t>(download::RangeBytes(state->done), static_cast<std::int64_t>(*size));
}

InstallJob::~InstallJob() {
  // Work already posted for this job finds it gone; then the running
  // downloads are cut short and their threads waited for.
  alive_.reset();
  registry_.reset();
}

void InstallJob::SetInstallControlsDisabled(int disabled) {
  for (std::string_view name : kInstallControls) ui_.SetDisabled(kMain, name, disabled != 0);
}

void InstallJob::InstallVersion(const std::string& displayName) {
  // The buttons that lead here are disabled while a job runs; a call that
  // comes anyway must not reset the running job's counters.
  if (phase_ != Phase::Idle) return;
  for (std::string_view label : kAnnouncementLabels) ui_.SetVisible(kMain, label, false);
  versions_.Select(displayName);

  const int slot = versions_.FindByName(displayName);
  if (slot == 0) return;
  const config::VersionSlot& version = versions_.Slot(slot);
  const config::VersionPaths& paths = versions_.Paths(slot);
  // A folder name that the name check refuses is treated like a missing one.
  if (!versions_.HasValidFolder(slot)) {
    platform::ShowMessage(kTextNoFolder, platform::kMbOk, "错误");
    return;
  }
  (void)platform::CreateFolder(paths.folder);  // an existing folder is fine; a missing one fails the downloads

  InstallJobState fresh;
  fresh.selectedVersionName = displayName;
  // Copied: the window keeps running events before the tasks start.
  const config::FileIntegrity dataStated = version.dataIntegrity, programStated = version.programIntegrity;
  fresh.dataUrl = version.dataDownloadUrl;
  fresh.programUrl = version.programDownloadUrl;
  fresh.dataFilePath = paths.dataPath;
  fresh.programFilePath = paths.programPath;
  job_ = std::move(fresh);
  ++generation_;
  phase_ = Phase::Preparing;

  ui_.SetPosition(kMain, ui::kProgressBar, 0);
  ui_.SetMaximum(kMain, ui::kProgressBar, kBarMaximum);
  ui_.SetTaskbarProgress(kMain, {ui::TaskbarState::Normal, 0, kBarMaximum});
  ui_.SetVisible(kMain, ui::kProgressBar, true);
  ui_.SetText(kMain, ui::kProgressLine, kTextConnecting);
  ui_.SetVisible(kMain, ui::kProgressLine, true);
  SetInstallControlsDisabled(1);
  ui_.ProcessEvents();  // drawn before the threads start

  job_.dataTaskId = kDataTaskId;
  job_.programTaskId = kProgramTaskId;
  if (!WaitForIdleRegistry()) {
    // The previous job's tasks did not go away in time: the new ones could
    // not be registered under their numbers.
    phase_ = Phase::Downloading;
    MarkFailedAtOnce(kDataTaskId);
    MarkFailedAtOnce(kProgramTaskId);
    CheckCompletion();
    return;
  }
  phase_ = Phase::Downloading;

  // A file already there as stated is not fetched again (a data file
  // published before its program file failed, say).
  if (!CheckIntact(kDataTaskId, job_.dataFilePath, dataStated, job_.dataIntact)) return;
  if (!CheckIntact(kProgramTaskId, job_.programFilePath, programStated, job_.programIntact)) return;
  ui_.SetText(kMain, ui::kProgressLine, kTextConnecting);  // after a hash pass's line

  // The room both files need together, against the free space of this
  // moment and what their kept parts hold now.
  dataStatedSize_ = dataStated.size ? static_cast<std::int64_t>(*dataStated.size) : 0;
  programStatedSize_ = programStated.size ? static_cast<std::int64_t>(*programStated.size) : 0;
  dataKept_ = job_.dataIntact ? 0 : KeptPartBytes(job_.dataFilePath);
  programKept_ = job_.programIntact ? 0 : KeptPartBytes(job_.programFilePath);
  freeAtStart_ = freeSpace_ ? freeSpace_(paths.folder) : platform::FreeBytesAt(paths.folder);
  if (!CheckRoom(programStatedSize_ > 0 && !job_.programIntact ? kProgramTaskId : kDataTaskId)) {
    MarkFailedAtOnce(kDataTaskId);
    MarkFailedAtOnce(kProgramTaskId);
    CheckCompletion();
    return;
  }

  // Both files stay ".part" until both are whole: the program file is
  // published last, so an interrupted install never looks installed. The
  // two share one budget of connections.
  download::TaskOptions options = taskOptions_;
  options.publish = false;
  budget_ = std::make_shared<download::ConnectionBudget>(
      options.connections, static_cast<int>(!job_.dataUrl.empty() && !job_.dataIntact) +
                               static_cast<int>(!job_.programUrl.empty() && !job_.programIntact));
  options.budget = budget_;
  registry_->SetTaskOptions(options);

  const std::uint64_t generation = generation_;
  std::shared_ptr<ui::Dispatcher> dispatcher = ui_.dispatcher();
  std::weak_ptr<int> alive = alive_;
  auto start = [&](std::int32_t taskId, const std::string& url, const std::string& path,
                   const config::FileIntegrity& stated) {
    if (taskId == kDataTaskId ? job_.dataIntact : job_.programIntact) return;
    // An empty address would never report: that file has failed already.
    if (url.empty()) {
      MarkFailedAtOnce(taskId);
      return;
    }
    download::ProgressCallback callback = [dispatcher, alive, this, generation](const download::ProgressReport& r) {
      dispatcher->Post([alive, this, generation, r] {
        if (alive.lock()) Deliver(generation, r);
      });
    };
    auto ended = [dispatcher, alive, this, generation, taskId] {
      dispatcher->Post([alive, this, generation, taskId] {
        if (alive.lock()) TaskEnded(generation, taskId);
      });
    };
    if (registry_->StartDownloadTask(url, path, std::move(callback), taskId, std::move(ended),
                                     WithIntegrity(options, stated)) != kTaskStarted) {
      budget_->FileDropped();
      MarkFailedAtOnce(taskId);
    }
  };
  start(kDataTaskId, job_.dataUrl, job_.dataFilePath, dataStated);
  start(kProgramTaskId, job_.programUrl, job_.programFilePath, programStated);
  CheckCompletion();
}

bool InstallJob::CheckIntact(std::int32_t taskNumber, const std::string& path, const config::FileIntegrity& stated,
                             bool& intact) {
  intact = false;
  // Without a stated key nothing tells an intact file from a stale one.
  if (!stated.size && !stated.sha256) return true;
  std::optional<std::uint64_t> size = platform::FileSizeOf(path);
  if (!size || (stated.size && *size != *stated.size)) return true;
  if (stated.sha256) {
    // A long pass on the window thread: the window keeps drawing, and a
    // window closed meanwhile ends it.
    const std::weak_ptr<int> alive = alive_;
    ui_.SetText(kMain, ui::kProgressLine, "文件" + std::to_string(taskNumber) + " 校验中...");
    auto last = std::chrono::steady_clock::time_point{};  // drawn at the first read
    platform::Sha256Digest digest{};
    platform::HashFileResult r = platform::HashFile(path, digest, [&](std::uint64_t) {
      if (std::chrono::steady_clock::now() - last >= std::chrono::milliseconds(50)) {
        ui_.ProcessEvents();
        last = std::chrono::steady_clock::now();
      }
      return !alive.expired();
    });
    if (alive.expired()) return false;
    if (r != platform::HashFileResult::Ok || digest != *stated.sha256) return true;
  }
  intact = true;
  const std::int64_t bytes = static_cast<std::int64_t>(*size);
  if (taskNumber == kDataTaskId) {
    job_.dataTotal = job_.dataDone = bytes, job_.dataFinished = 1, job_.dataEnded = true;
  } else {
    job_.programTotal = job_.programDone = bytes, job_.programFinished = 1, job_.programEnded = true;
  }
  job_.sumTotal = job_.dataTotal + job_.programTotal;
  job_.sumDone = job_.dataDone + job_.programDone;
  // A part of an earlier try is of no more use.
  const std::string part = path + download::DownloadTask::kTempSuffix;
  (void)platform::DeleteFileAt(download::ResumeStatePath(part));
  (void)platform::DeleteFileAt(part);
  platform::Log("install: " + path + " is already the stated file");
  return true;
}

bool InstallJob::CheckRoom(std::int32_t lastKnown) {
  if (!job_.noRoom.empty()) return false;
  if (!freeAtStart_) return true;
  // A size not yet known counts nothing: the check comes again with it.
  auto need = [](bool intact, std::int64_t known, std::int64_t stated, std::int64_t kept) -> std::int64_t {
    const std::int64_t total = known > 0 ? known : stated;
    return intact || total <= 0 ? 0 : std::max<std::int64_t>(0, total - kept);
  };
  const std::int64_t needed = need(job_.dataIntact, job_.dataTotal, dataStatedSize_, dataKept_) +
                              need(job_.programIntact, job_.programTotal, programStatedSize_, programKept_);
  if (needed == 0) return true;
  const std::int64_t withMargin = needed + download::DownloadTask::kFreeSpaceMargin;
  if (*freeAtStart_ >= withMargin) return true;
  job_.noRoom = "文件" + std::to_string(lastKnown) + "：" +
                download::ReasonText(download::FailReason::DiskFull, 0, withMargin - *freeAtStart_);
  platform::Log("install of " + job_.selectedVersionName + ": both files need " + std::to_string(withMargin) +
                " bytes, " + std::to_string(*freeAtStart_) + " free");
  return false;
}

bool InstallJob::WaitForIdleRegistry() {
  // Short by nature (the previous tasks are past their end), but bounded,
  // and the window keeps drawing meanwhile.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(registryWaitLimitMs_);
  while (!registry_->WaitUntilEmpty(0)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ui_.ProcessEvents();
    (void)registry_->WaitUntilEmpty(10);
  }
  return true;
}

void InstallJob::Deliver(std::uint64_t generation, const download::ProgressReport& report) {
  if (generation != generation_ || phase_ != Phase::Downloading) return;
  OnInstallProgress(report);
}

void InstallJob::OnInstallProgress(const download::ProgressReport& r) {
  std::int64_t* total = nullptr;
  std::int64_t* done = nullptr;
  std::int32_t* finished = nullptr;
  bool* failed = nullptr;
  std::string* reason = nullptr;
  if (r.userData == kDataTaskId) {
    total = &job_.dataTotal, done = &job_.dataDone, finished = &job_.dataFinished, failed = &job_.dataFailed,
    reason = &job_.dataReason;
  } else if (r.userData == kProgramTaskId) {
    total = &job_.programTotal, done = &job_.programDone, finished = &job_.programFinished,
    failed = &job_.programFailed, reason = &job_.programReason;
  }
  if (total) {
    switch (r.status) {
      case download::kStarted:
        *total = r.total;
        job_.sumTotal = job_.dataTotal + job_.programTotal;
        if (!CheckRoom(r.userData)) {
          // Both stop; their parts stay for a try with more room.
          registry_->StopAll();
        }
        break;
      case download::kProgress:
        *done = r.done;
        break;
      case download::kFinished:
        *done = r.done;
        *finished = 1;
        break;
      case download::kFailed:
        *finished = 1;
        *failed = true;
        *reason = download::ReasonText(r.reason, r.httpStatus, r.neededBytes);
        break;
      default:
        break;
    }
  }
  job_.sumDone = job_.dataDone + job_.programDone;

  // A hash pass ends with the file's end, a retry, or bytes moving again
  // (a wrong file fetched once more); until then its line stays.
  if (total) {
    bool& verifying = r.userData == kDataTaskId ? job_.dataVerifying : job_.programVerifying;
    std::int64_t& at = r.userData == kDataTaskId ? job_.dataVerifiedAt : job_.programVerifiedAt;
    if (r.status == download::kVerifying) {
      verifying = true, at = r.done;
    } else if (r.status != download::kProgress || r.done != at) {
      verifying = false;
    }
  }

  if (r.status == download::kRetrying && total) {
    // Overwritten by the next Progress line.
    const int seconds = (r.retryInMs + 999) / 1000;
    ui_.SetText(kMain, ui::kProgressLine,
                "文件" + std::to_string(r.userData) + " " + download::ReasonText(r.reason, r.httpStatus) + "，" +
                    std::to_string(seconds) + " 秒后重试（第 " + std::to_string(r.attempt) + " 次）");
    ui_.SetTaskbarProgress(kMain, {ui::TaskbarState::Paused, ui_.Taskbar(kMain).done, kBarMaximum});
    return;
  }
  if (r.status == download::kVerifying && total) {
    ui_.SetText(kMain, ui::kProgressLine, "文件" + std::to_string(r.userData) + " 校验中...");
    return;
  }
  DisplayUpdate display = ComputeDisplay(r.userData, r.status, r.speed, job_.sumDone, job_.sumTotal);
  ui_.SetPosition(kMain, ui::kProgressBar, display.barPosition);
  ui_.SetTaskbarProgress(kMain, {ui::TaskbarState::Normal, display.barPosition, kBarMaximum});
  // The bar goes on with the other file; the line keeps saying which file
  // is being checked.
  const bool checking = job_.dataVerifying || job_.programVerifying;
  if (display.text && !(checking && r.status == download::kProgress)) ui_.SetText(kMain, ui::kProgressLine, *display.text);

  CheckCompletion();
}

void InstallJob::TaskEnded(std::uint64_t generation, std::int32_t taskNumber) {
  if (generation != generation_ || phase_ != Phase::Downloading) return;
  if (taskNumber == kDataTaskId) job_.dataEnded = true;
  if (taskNumber == kProgramTaskId) job_.programEnded = true;
  CheckCompletion();
}

void InstallJob::MarkFailedAtOnce(std::int32_t taskNumber) {
  if (taskNumber == kDataTaskId) {
    job_.dataFinished = 1, job_.dataFailed = true, job_.dataEnded = true;
  } else if (taskNumber == kProgramTaskId) {
    job_.programFinished = 1, job_.programFailed = true, job_.programEnded = true;
  }
}

void InstallJob::CheckCompletion() {
  // The end waits for both tasks to be over, not only for their Finished
  // reports: a Failed report may still be on its way after Finished.
  if (phase_ != Phase::Downloading || !job_.dataEnded || !job_.programEnded) return;
  const bool dataOk = job_.dataIntact || (job_.dataFinished == 1 && !job_.dataFailed && job_.dataDone > 0);
  const bool programOk =
      job_.programIntact || (job_.programFinished == 1 && !job_.programFailed && job_.programDone > 0);
  EndJob(dataOk && programOk);
}

void InstallJob::EndJob(bool success) {
  phase_ = Phase::Idle;
  std::string failure;
  if (!job_.noRoom.empty()) {
    success = false, failure = job_.noRoom;
  } else if (success) {
    // The data file first, the program file last: the start-up scan takes a
    // folder with the program in it for installed. A file that was already
    // there stays as it is.
    if (!job_.dataIntact && !download::DownloadTask::PublishPart(job_.dataFilePath)) {
      success = false, failure = "文件1：" + download::ReasonText(download::FailReason::WriteError);
    } else if (!job_.programIntact && !download::DownloadTask::PublishPart(job_.programFilePath)) {
      success = false, failure = "文件2：" + download::ReasonText(download::FailReason::WriteError);
    }
  } else if (!job_.dataReason.empty()) {
    failure = "文件1：" + job_.dataReason;
  } else if (!job_.programReason.empty()) {
    failure = "文件2：" + job_.programReason;
  }
  platform::Log(success ? "install of " + job_.selectedVersionName + " complete"
                        : "install of " + job_.selectedVersionName + " failed" + (failure.empty() ? "" : ": " + failure));
  if (success) {
    ui_.SetPosition(kMain, ui::kProgressBar, kBarMaximum);
    ui_.SetVisible(kMain, ui::kProgressBar, false);
    ui_.SetVisible(kMain, ui::kProgressLine, false);
    for (std::string_view label : kAnnouncementLabels) ui_.SetVisible(kMain, label, true);
    ui_.SetText(kMain, ui::kServerLabel, kTextInstalled);
    if (const int slot = versions_.FindByName(job_.selectedVersionName); slot != 0) {
      versions_.MarkInstalled(slot);
      ui_.SetVisible(kMain, ui::ControlsOfSlot(slot).startButton, true);
      ui_.SetVisible(kMain, ui::ControlsOfSlot(slot).installButton, false);
    }
  } else {
    ui_.SetPosition(kMain, ui::kProgressBar, 0);
    ui_.SetText(kMain, ui::kProgressLine, failure.empty() ? std::string(kTextFailed)
                                                          : std::string(kTextFailed) + "（" + failure + "）");
  }
  ui_.SetTaskbarProgress(kMain, {success ? ui::TaskbarState::None : ui::TaskbarState::Error, 0, kBarMaximum});
  SetInstallControlsDisabled(0);
}

}  // namespace install
