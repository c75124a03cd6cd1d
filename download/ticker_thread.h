// A periodic ticker on its own thread. Each tick either runs the callback on
// the ticker thread (inline) or on a fresh thread of its own, so that a slow
// callback never delays the next tick. Stopping is a stoppable wait, never a
// forced end.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "download/thread_start.h"

namespace download {

class TickerThread {
 public:
  using Callback = std::function<void(std::intptr_t)>;
  static constexpr int kWaitTimeout = 258;

  TickerThread() = default;
  // Ends the loop and joins it, then waits for tick threads still running.
  ~TickerThread();
  TickerThread(const TickerThread&) = delete;
  TickerThread& operator=(const TickerThread&) = delete;

  // Starts ticking: the first tick after firstDelayMs, then every periodMs.
  // On a running ticker it changes nothing and returns the running thread's
  // id. Returns a default id when no thread could be created.
  std::thread::id Start(Callback callback, int periodMs, int firstDelayMs, std::intptr_t arg,
                        bool inlineTicks = false);
  // -1 when idle, 0 when told not to wait, otherwise 0 when the loop ended
  // within waitMs and kWaitTimeout when it did not.
  int Stop(int waitMs = 1000, bool noWait = false);
  // No ticks while paused. False when idle or already paused / not paused.
  bool Pause();
  bool Resume();
  // Ends the loop without waiting for it; the ticker is idle at once.
  bool Kill();
  // Takes effect at the next wait.
  void SetPeriod(int periodMs);
  // Blocks until every tick thread started so far has returned.
  void WaitTicks() { ticks_.WaitIdle(); }
  [[nodiscard]] bool Running();

 private:
  void Loop(Callback callback, std::intptr_t arg, bool inlineTicks);
  // Waits ms unless stopped; a pause holds the loop. True when stopped.
  bool StoppableWait(int ms);
  void Tick(const Callback& callback, std::intptr_t arg, bool inlineTicks);

  std::mutex control_;  // serialises Start/Stop/Kill/Pause/Resume and the join

  std::mutex state_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool paused_ = false;
  bool ended_ = true;
  bool idle_ = true;  // what Stop and Pause see: no ticker (never started, stopped or killed)
  int period_ = 0;
  std::thread thread_;
  ThreadGroup ticks_;
};

}  // namespace download
