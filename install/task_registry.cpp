#include "install/task_registry.h"

#include <chrono>
#include <mutex>
#include <system_error>

#include "download/download_task.h"

namespace install {

struct TaskRegistry::Shared {
  download::CriticalLock lock;  // guards every field below
  std::condition_variable_any changed;
  std::list<TaskRecord> records;
  std::uint64_t nextId = 1;
  int running = 0;  // task threads that have not yet returned
  ThreadLauncher launcher = &TaskRegistry::LaunchStdThread;
  download::TaskOptions options;
};

bool TaskRegistry::LaunchStdThread(std::thread& out, std::function<void()> body) {
  try {
    out = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

TaskRegistry::TaskRegistry() : shared_(std::make_shared<Shared>()) {}

TaskRegistry::~TaskRegistry() {
  // Waking a task's thread early makes it stop the download, which then ends
  // as a failure within the engine's bounded stop.
  std::unique_lock<download::CriticalLock> guard(shared_->lock);
  for (TaskRecord& r : shared_->records) r.completion->Set();
  // Bounded, so that a closing launcher ends in time; threads that outlive
  // this wait share the state and touch nothing that goes away.
  shared_->changed.wait_for(guard, std::chrono::milliseconds(kCloseWaitMs), [this] { return shared_->running == 0; });
}

void TaskRegistry::SetTaskOptions(const download::TaskOptions& options) {
  std::lock_guard<download::CriticalLock> guard(shared_->lock);
  shared_->options = options;
}

void TaskRegistry::SetThreadLauncher(ThreadLauncher launcher) {
  std::lock_guard<download::CriticalLock> guard(shared_->lock);
  shared_->launcher = std::move(launcher);
}

int TaskRegistry::StartDownloadTask(const std::string& url, const std::string& filePath,
                                    download::ProgressCallback callback, std::int32_t taskNumber,
                                    std::function<void()> onEnded, std::optional<download::TaskOptions> options) {
  // Held across the thread's creation and the append, so the thread, which
  // unregisters under the same lock, always finds its record.
  std::lock_guard<download::CriticalLock> guard(shared_->lock);
  if (taskNumber != 0) {
    for (const TaskRecord& r : shared_->records)
      if (r.taskNumber == taskNumber) return kTaskDuplicate;
  }
  TaskRecord record;
  record.taskNumber = taskNumber;
  record.completion = std::make_shared<download::CompletionEvent>();
  record.filePath = filePath;
  record.id = shared_->nextId++;
  // The thread gets its own copies of every argument.
  auto body = [shared = shared_, id = record.id, url, filePath, callback = std::move(callback), taskNumber,
               completion = record.completion, onEnded = std::move(onEnded),
               options = std::move(options)]() mutable {
    DownloadTaskThread(std::move(shared), id, std::move(url), std::move(filePath), std::move(callback), taskNumber,
                       std::move(completion), std::move(onEnded), std::move(options));
  };
  // A record without a thread would never be removed: keep none.
  if (!shared_->launcher(record.thread, std::move(body))) return kTaskNoThread;
  ++shared_->running;
  shared_->records.push_back(std::move(record));
  return kTaskStarted;
}

std::size_t TaskRegistry::Count() {
  std::lock_guard<download::CriticalLock> guard(shared_->lock);
  return shared_->records.size();
}

void TaskRegistry::StopAll() {
  // Waking a task's thread makes it stop its download.
  std::lock_guard<download::CriticalLock> guard(shared_->lock);
  for (TaskRecord& r : shared_->records) r.completion->Set();
}

bool TaskRegistry::WaitUntilEmpty(int ms) {
  std::unique_lock<download::CriticalLock> guard(shared_->lock);
  return shared_->changed.wait_for(guard, std::chrono::milliseconds(ms), [this] { return shared_->records.empty(); });
}

void DownloadTaskThread(std::shared_ptr<TaskRegistry::Shared> shared, std::uint64_t recordId, std::string url,
                        std::string filePath, download::ProgressCallback callback, std::int32_t taskNumber,
                        std::shared_ptr<download::CompletionEvent> completion, std::function<void()> onEnded,
                        std::optional<download::TaskOptions> options) {
  auto task = std::make_unique<download::DownloadTask>();
  if (options) {
    task->SetOptions(*options);
  } else {
    std::lock_guard<download::CriticalLock> guard(shared->lock);
    task->SetOptions(shared->options);
  }
  task->Start(url, filePath, std::move(callback), taskNumber, completion);
  completion->Wait();
  // A worker stuck past the bounded stop keeps its task: leaked on purpose,
  // as destroying it would pull its state from under the worker.
  if (!task->Stop()) (void)task.release();

  std::thread self;
  {
    std::lock_guard<download::CriticalLock> guard(shared->lock);
    for (auto it = shared->records.begin(); it != shared->records.end(); ++it) {
      if (it->id == recordId) {
        self = std::move(it->thread);
        shared->records.erase(it);
        break;
      }
    }
    shared->changed.notify_all();
  }
  // Nobody joins a task thread: it lets go of its own handle.
  if (self.joinable()) self.detach();

  // Destroying the task waits for its report threads, so every report has
  // reached the callback before onEnded runs.
  task.reset();
  if (onEnded) onEnded();
  onEnded = nullptr;

  std::lock_guard<download::CriticalLock> guard(shared->lock);
  --shared->running;
  shared->changed.notify_all();
}

}  // namespace install
