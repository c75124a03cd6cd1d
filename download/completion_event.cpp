#include "download/completion_event.h"

#include <chrono>

namespace download {

void CompletionEvent::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = true;
  cv_.notify_all();
}

void CompletionEvent::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return set_; });
}

bool CompletionEvent::WaitFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [this] { return set_; });
}

void CompletionEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool CompletionEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

}  // namespace download
