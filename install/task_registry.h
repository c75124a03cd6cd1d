// The running download tasks of the install job: one record per task, each
// task on a thread of its own that waits for the download's end and then
// unregisters it.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "download/completion_event.h"
#include "download/critical_lock.h"
#include "download/download_status.h"
#include "download/download_task.h"

namespace install {

struct TaskRecord {
  std::int32_t taskNumber = 0;  // 0: no number
  std::shared_ptr<download::CompletionEvent> completion;
  std::string filePath;
  std::thread thread;
  std::uint64_t id = 0;  // tells records with the same number apart
};

enum TaskStartResult : int {
  kTaskStarted = 1,
  kTaskNoThread = 0,    // no thread could be created; nothing registered
  kTaskDuplicate = -1,  // a task with this non-zero number is registered
};

class TaskRegistry {
 public:
  // Creates a thread running body into out; false when none was created.
  using ThreadLauncher = std::function<bool(std::thread& out, std::function<void()> body)>;

  // How long the registry's end waits for the task threads.
  static constexpr int kCloseWaitMs = 2500;

  TaskRegistry();
  // Cuts running downloads short and waits (bounded) for their threads. The
  // threads share the registry's state, so one that outlives the wait still
  // touches nothing that is gone.
  ~TaskRegistry();
  TaskRegistry(const TaskRegistry&) = delete;
  TaskRegistry& operator=(const TaskRegistry&) = delete;

  // Registers a task and starts its thread. onEnded runs on that thread once
  // the task is unregistered and every report of it has been delivered.
  // options, when given, replace those of SetTaskOptions for this task.
  [[nodiscard]] int StartDownloadTask(const std::string& url, const std::string& filePath,
                                      download::ProgressCallback callback, std::int32_t taskNumber,
                                      std::function<void()> onEnded = {},
                                      std::optional<download::TaskOptions> options = {});

  [[nodiscard]] std::size_t Count();
  // Cuts every running download short; each ends as a failure and is
  // unregistered as usual. Returns at once.
  void StopAll();
  // True when no task is registered, waiting up to ms for the last to go.
  [[nodiscard]] bool WaitUntilEmpty(int ms);

  // For the tasks started after this call.
  void SetTaskOptions(const download::TaskOptions& options);

  // Test seam: how threads are created.
  void SetThreadLauncher(ThreadLauncher launcher);
  static bool LaunchStdThread(std::thread& out, std::function<void()> body);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

// The body of a task's thread: run the download, wait for its end, stop it,
// unregister it, destroy it.
void DownloadTaskThread(std::shared_ptr<TaskRegistry::Shared> shared, std::uint64_t recordId, std::string url,
                        std::string filePath, download::ProgressCallback callback, std::int32_t taskNumber,
                        std::shared_ptr<download::CompletionEvent> completion, std::function<void()> onEnded,
                        std::optional<download::TaskOptions> options = {});

}  // namespace install
