// A plain lock object with explicit Enter/Leave, for code that cannot use a
// scoped guard. Never nested, never held across a callback.
#pragma once
#include <mutex>

namespace download {

class CriticalLock {
 public:
  CriticalLock() = default;
  CriticalLock(const CriticalLock&) = delete;
  CriticalLock& operator=(const CriticalLock&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  // Non-zero when entered; never blocks.
  [[nodiscard]] int TryEnter() { return mutex_.try_lock() ? 1 : 0; }

  // Lets std::lock_guard / std::unique_lock hold it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter() != 0; }

 private:
  std::mutex mutex_;
};

}  // namespace download
