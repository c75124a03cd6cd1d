// Background work gets a thread of its own. Fire-and-forget threads are
// detached; a ThreadGroup counts the ones whose work touches an object, so
// that the object can wait for them before it goes away.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>

namespace download {

// Starts fn on a new detached thread. False when no thread could be created
// (fn is then not run).
[[nodiscard]] bool StartDetachedThread(std::function<void()> fn);

class ThreadGroup {
 public:
  ThreadGroup() = default;
  ~ThreadGroup() { WaitIdle(); }
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  // Like StartDetachedThread, but counted until fn has returned and has been
  // destroyed.
  [[nodiscard]] bool Start(std::function<void()> fn);
  // Blocks until every thread started through this group has returned.
  void WaitIdle();
  [[nodiscard]] int Running();

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
};

}  // namespace download
