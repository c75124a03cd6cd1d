#include "download/thread_start.h"

#include <system_error>
#include <thread>
#include <utility>

namespace download {

bool StartDetachedThread(std::function<void()> fn) {
  // Thread creation reports failure by an exception; it stays inside here.
  try {
    std::thread(std::move(fn)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool ThreadGroup::Start(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
  }
  bool started = StartDetachedThread([this, fn = std::move(fn)]() mutable {
    fn();
    fn = nullptr;  // captured state goes before the group may be released
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) idle_.notify_all();
  });
  if (!started) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--running_ == 0) idle_.notify_all();
  }
  return started;
}

void ThreadGroup::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
}

int ThreadGroup::Running() {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

}  // namespace download
