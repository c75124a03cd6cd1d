// A manual-reset event the owner of a download waits on.
#pragma once
#include <condition_variable>
#include <mutex>

namespace download {

class CompletionEvent {
 public:
  void Set();
  void Wait();
  // True when the event was set within ms milliseconds.
  [[nodiscard]] bool WaitFor(int ms);
  void Reset();
  [[nodiscard]] bool IsSet();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace download
