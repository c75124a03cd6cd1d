// The stoppable wait: a thread that must be stoppable sleeps only through
// WaitFor, and another thread ends that sleep with Signal. It replaces the
// queued wake-up call of the platform; a pending signal costs one atomic load
// to notice.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace download {

class StopSignal {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_.store(false, std::memory_order_release);
  }
  // The zero-length yield: true once a stop was signalled.
  [[nodiscard]] bool Signalled() const { return stop_.load(std::memory_order_acquire); }
  // Sleeps up to ms; true when woken by Signal (now or earlier).
  [[nodiscard]] bool WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                        [this] { return stop_.load(std::memory_order_relaxed); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
};

}  // namespace download
