// Connections shared by the files of one install: while both files run each
// may use about half, and when one ends the other may take the rest. Every
// running file keeps one connection whatever the limit.
#pragma once
#include <algorithm>
#include <mutex>

namespace download {

class ConnectionBudget {
 public:
  // limit connections in all for `files` downloads that share them.
  ConnectionBudget(int limit, int files) : limit_(std::max(1, limit)), files_(std::max(1, files)) {}
  ConnectionBudget(const ConnectionBudget&) = delete;
  ConnectionBudget& operator=(const ConnectionBudget&) = delete;

  // A file's own first connection, held from its start to its end.
  void FileStarted() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++held_;
    peak_ = std::max(peak_, held_);
  }
  void FileEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    --held_;
    files_ = std::max(0, files_ - 1);
  }
  // A file that will not run after all: the others may have its share.
  void FileDropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    files_ = std::max(0, files_ - 1);
  }
  // One more connection for a file that has `extras` beside its first.
  [[nodiscard]] bool TryAddConnection(int extras) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int share = (limit_ + std::max(1, files_) - 1) / std::max(1, files_);
    if (held_ >= limit_ || 1 + extras >= share) return false;
    ++held_;
    peak_ = std::max(peak_, held_);
    return true;
  }
  void RemoveConnection() {
    std::lock_guard<std::mutex> lock(mutex_);
    --held_;
  }
  [[nodiscard]] int limit() const { return limit_; }
  // The most connections held at once, for the log and tests.
  [[nodiscard]] int peak() {
    std::lock_guard<std::mutex> lock(mutex_);
    return peak_;
  }

 private:
  std::mutex mutex_;
  const int limit_;
  int files_;
  int held_ = 0;
  int peak_ = 0;
};

}  // namespace download
