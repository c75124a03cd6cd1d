#include "download/ticker_thread.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace download {

TickerThread::~TickerThread() {
  {
    std::lock_guard<std::mutex> lock(state_);
    stop_ = true;
    paused_ = false;
  }
  wake_.notify_all();
  std::lock_guard<std::mutex> control(control_);
  if (thread_.joinable()) thread_.join();
  ticks_.WaitIdle();
}

std::thread::id TickerThread::Start(Callback callback, int periodMs, int firstDelayMs, std::intptr_t arg,
                                    bool inlineTicks) {
  std::lock_guard<std::mutex> control(control_);
  {
    std::lock_guard<std::mutex> lock(state_);
    if (!idle_ && thread_.joinable()) return thread_.get_id();
  }
  // A loop told to stop earlier must be gone before a new one starts.
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard<std::mutex> lock(state_);
    stop_ = false;
    paused_ = false;
    ended_ = false;
    idle_ = false;
    period_ = periodMs;
  }
  try {
    thread_ = std::thread([this, callback = std::move(callback), firstDelayMs, arg, inlineTicks] {
      if (!StoppableWait(firstDelayMs)) Loop(callback, arg, inlineTicks);
      std::lock_guard<std::mutex> lock(state_);
      ended_ = true;
      wake_.notify_all();
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(state_);
    ended_ = true;
    idle_ = true;
    return {};
  }
  return thread_.get_id();
}

bool TickerThread::StoppableWait(int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  std::unique_lock<std::mutex> lock(state_);
  while (true) {
    if (stop_) return true;
    if (paused_) {
      wake_.wait(lock);
      continue;
    }
    if (wake_.wait_until(lock, deadline) == std::cv_status::timeout) return stop_;
  }
}

void TickerThread::Tick(const Callback& callback, std::intptr_t arg, bool inlineTicks) {
  if (!callback) return;
  if (inlineTicks) {
    callback(arg);
    return;
  }
  // A tick thread that cannot be created loses that tick only.
  (void)ticks_.Start([callback, arg] { callback(arg); });
}

void TickerThread::Loop(Callback callback, std::intptr_t arg, bool inlineTicks) {
  while (true) {
    Tick(callback, arg, inlineTicks);
    int period;
    {
      std::lock_guard<std::mutex> lock(state_);
      period = period_;
    }
    if (StoppableWait(period)) return;
  }
}

int TickerThread::Stop(int waitMs, bool noWait) {
  std::lock_guard<std::mutex> control(control_);
  std::unique_lock<std::mutex> lock(state_);
  if (idle_ || !thread_.joinable()) return -1;
  stop_ = true;
  paused_ = false;  // a paused loop could not see the stop
  wake_.notify_all();
  if (noWait) {
    idle_ = true;
    return 0;
  }
  bool ended = wake_.wait_for(lock, std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs), [this] { return ended_; });
  if (!ended) return kWaitTimeout;
  idle_ = true;
  lock.unlock();
  thread_.join();
  return 0;
}

bool TickerThread::Pause() {
  std::lock_guard<std::mutex> control(control_);
  std::lock_guard<std::mutex> lock(state_);
  if (idle_ || paused_ || ended_) return false;
  paused_ = true;
  return true;
}

bool TickerThread::Resume() {
  std::lock_guard<std::mutex> control(control_);
  std::lock_guard<std::mutex> lock(state_);
  if (idle_ || !paused_) return false;
  paused_ = false;
  wake_.notify_all();
  return true;
}

bool TickerThread::Kill() {
  std::lock_guard<std::mutex> control(control_);
  std::lock_guard<std::mutex> lock(state_);
  if (idle_ || !thread_.joinable()) return false;
  stop_ = true;
  paused_ = false;
  idle_ = true;
  wake_.notify_all();
  return true;
}

void TickerThread::SetPeriod(int periodMs) {
  std::lock_guard<std::mutex> lock(state_);
  period_ = periodMs;
}

bool TickerThread::Running() {
  std::lock_guard<std::mutex> lock(state_);
  return !idle_ && !ended_;
}

}  // namespace download
