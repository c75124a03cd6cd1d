// The install job: a click on a version's install button downloads the
// version's data file and program file at the same time into its folder,
// shows progress, and ends with the start button or a failure text.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/versions.h"
#include "download/download_status.h"
#include "download/download_task.h"
#include "install/task_registry.h"
#include "ui/ui.h"

namespace install {

inline constexpr std::int32_t kDataTaskId = 1;
inline constexpr std::int32_t kProgramTaskId = 2;

inline constexpr char kTextConnecting[] = "正在连接服务器...";
inline constexpr char kTextFailed[] = "下载失败，请重试！";
inline constexpr char kTextInstalled[] = "安装完成";
inline constexpr char kTextNoFolder[] = "该版本未配置文件夹名！";

// The job's counters. All byte counts are 64-bit.
struct InstallJobState {
  std::string selectedVersionName;  // the version being installed
  std::string dataUrl, programUrl;
  std::string dataFilePath, programFilePath;
  std::int32_t dataTaskId = 0, programTaskId = 0;
  std::int32_t dataFinished = 0, programFinished = 0;  // Finished or Failed seen
  std::int64_t dataTotal = 0, programTotal = 0;
  std::int64_t dataDone = 0, programDone = 0;
  std::int64_t sumTotal = 0, sumDone = 0;
  // A Failed report came: the file is not complete, whatever its byte count.
  bool dataFailed = false, programFailed = false;
  // Why, as the player reads it; empty when no reason came.
  std::string dataReason, programReason;
  // The task is over and every report of it has been handled.
  bool dataEnded = false, programEnded = false;
  // The file under its final name already is the stated one (size, and
  // SHA-256 when stated): not fetched, not published again.
  bool dataIntact = false, programIntact = false;
  // A hash pass over the whole file runs: its line stays until it ends
  // (verifiedAt: the byte count it started at).
  bool dataVerifying = false, programVerifying = false;
  std::int64_t dataVerifiedAt = 0, programVerifiedAt = 0;
  // The volume cannot hold what both files still need: the failure text.
  std::string noRoom;
};

// What the kept "<filePath>.part" may keep of the file: the bytes its resume
// state lists, no more than the part holds. Credit never goes beyond what
// may be kept: a part without a state, which the next attempt cuts, earns none.
std::int64_t KeptPartBytes(const std::string& filePath);

class InstallJob {
 public:
  enum class Phase { Idle, Preparing, Downloading };

  // The job selects the version it installs and marks it installed at the
  // end, through versions.
  InstallJob(ui::Ui& ui, config::Versions& versions);
  // Stops running downloads and waits for their threads.
  ~InstallJob();
  InstallJob(const InstallJob&) = delete;
  InstallJob& operator=(const InstallJob&) = delete;

  // Window thread. Returns at once; the engine's reports drive the rest.
  void InstallVersion(const std::string& displayName);

  // Window thread: one report of the engine, counted and displayed. Reports
  // reach it through the window's dispatcher, one at a time.
  void OnInstallProgress(const download::ProgressReport& report);

  // The four install buttons and the four version buttons, in that order.
  void SetInstallControlsDisabled(int disabled);

  const InstallJobState& state() const { return job_; }
  Phase phase() const { return phase_; }
  TaskRegistry& registry() { return *registry_; }
  // Attempts per file and the first retry's wait (tests shorten them).
  void SetRetryPolicy(int maxAttempts, int retryBaseMs);
  // Connections the two files of the next job share (1 to 8); the options
  // of its tasks otherwise (tests lower the size for ranges).
  void SetDownloadConnections(int connections);
  void SetTaskOptions(const download::TaskOptions& options) { taskOptions_ = options; }
  // The budget of the latest job, for tests.
  const std::shared_ptr<download::ConnectionBudget>& budget() const { return budget_; }

  // How long a new job waits for the previous job's tasks to unregister.
  void SetRegistryWaitLimitMs(int ms) { registryWaitLimitMs_ = ms; }
  // Test seam: the free bytes of the install folder's volume.
  using FreeSpaceSource = std::function<std::optional<std::int64_t>(const std::string& folder)>;
  void SetFreeSpaceSource(FreeSpaceSource source) { freeSpace_ = std::move(source); }

 private:
  void Deliver(std::uint64_t generation, const download::ProgressReport& report);
  void TaskEnded(std::uint64_t generation, std::int32_t taskNumber);
  void MarkFailedAtOnce(std::int32_t taskNumber);
  void CheckCompletion();
  void EndJob(bool success);
  bool WaitForIdleRegistry();
  // False when the window went away meanwhile (the job with it).
  bool CheckIntact(std::int32_t taskNumber, const std::string& path, const config::FileIntegrity& stated,
                   bool& intact);
  // Both files' needs against the free space seen before they started;
  // false (and the job failing) when they do not fit together.
  bool CheckRoom(std::int32_t lastKnown);

  ui::Ui& ui_;
  config::Versions& versions_;
  InstallJobState job_;
  Phase phase_ = Phase::Idle;
  std::uint64_t generation_ = 0;  // tells a late post of an earlier job apart
  int registryWaitLimitMs_ = 5000;
  // Posted work checks this on the window thread: gone means the job is.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::unique_ptr<TaskRegistry> registry_ = std::make_unique<TaskRegistry>();
  download::TaskOptions taskOptions_;  // the retry policy; each file adds what the operator states about it
  std::shared_ptr<download::ConnectionBudget> budget_;
  FreeSpaceSource freeSpace_;
  std::optional<std::int64_t> freeAtStart_;
  // What each file's kept part held when the job began, credited against
  // its size; the free space is of the same moment.
  std::int64_t dataKept_ = 0, programKept_ = 0;
  std::int64_t dataStatedSize_ = 0, programStatedSize_ = 0;
};

}  // namespace install
