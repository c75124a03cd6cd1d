// The threading kit: lock, events, thread groups, the ticker and the averager.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/completion_event.h"
#include "download/critical_lock.h"
#include "download/speed_averager.h"
#include "download/stop_signal.h"
#include "download/thread_start.h"
#include "download/ticker_thread.h"

namespace download {
namespace {

using Clock = std::chrono::steady_clock;
int MsSince(Clock::time_point t) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

TEST(CriticalLock, TryEnterOnALockHeldByAnotherThreadReturnsZeroAtOnce) {
  CriticalLock lock;
  CompletionEvent held, release;
  std::thread owner([&] {
    lock.Enter();
    held.Set();
    release.Wait();
    lock.Leave();
  });
  held.Wait();
  auto t0 = Clock::now();
  EXPECT_EQ(lock.TryEnter(), 0);
  EXPECT_LT(MsSince(t0), 100);
  release.Set();
  owner.join();
  EXPECT_NE(lock.TryEnter(), 0);
  lock.Leave();
}

TEST(CompletionEvent, WaitForTimesOutUntilSetAndStaysSetUntilReset) {
  CompletionEvent e;
  EXPECT_FALSE(e.WaitFor(20));
  std::thread t([&] { e.Set(); });
  EXPECT_TRUE(e.WaitFor(5000));
  t.join();
  EXPECT_TRUE(e.WaitFor(0));
  e.Reset();
  EXPECT_FALSE(e.WaitFor(0));
}

TEST(StopSignal, WaitEndsEarlyOnSignalAndRunsFullOtherwise) {
  StopSignal s;
  auto t0 = Clock::now();
  EXPECT_FALSE(s.WaitFor(50));
  EXPECT_GE(MsSince(t0), 45);
  std::thread t([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    s.Signal();
  });
  t0 = Clock::now();
  EXPECT_TRUE(s.WaitFor(10000));
  EXPECT_LT(MsSince(t0), 5000);
  t.join();
  EXPECT_TRUE(s.Signalled());
}

TEST(ThreadGroup, WaitIdleReturnsOnlyAfterEveryStartedThreadHasReturned) {
  std::atomic<int> finished{0};
  {
    ThreadGroup group;
    for (int i = 0; i < 8; ++i)
      ASSERT_TRUE(group.Start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++finished;
      }));
    group.WaitIdle();
    EXPECT_EQ(finished.load(), 8);
    EXPECT_EQ(group.Running(), 0);
  }
}

struct TickCounter {
  std::atomic<int> ticks{0};
  TickerThread::Callback Callback() {
    return [this](std::intptr_t) { ++ticks; };
  }
};

TEST(TickerThread, StopOnIdleTickerReturnsMinusOneWithoutWaiting) {
  TickerThread t;
  auto t0 = Clock::now();
  EXPECT_EQ(t.Stop(), -1);
  EXPECT_LT(MsSince(t0), 100);
  EXPECT_FALSE(t.Pause());
  EXPECT_FALSE(t.Resume());
  EXPECT_FALSE(t.Kill());
}

TEST(TickerThread, StopDuringFirstDelayEndsBeforeAnyTick) {
  TickCounter c;
  TickerThread t;
  EXPECT_NE(t.Start(c.Callback(), 10, 300, 2), std::thread::id());
  auto t0 = Clock::now();
  EXPECT_EQ(t.Stop(), 0);
  EXPECT_LT(MsSince(t0), 250);
  t.WaitTicks();
  EXPECT_EQ(c.ticks.load(), 0);
  EXPECT_EQ(t.Stop(), -1);
}

TEST(TickerThread, StartOnRunningTickerKeepsTheFirstCallbackAndThread) {
  TickCounter first, second;
  TickerThread t;
  auto id = t.Start(first.Callback(), 10, 0, 7);
  EXPECT_EQ(t.Start(second.Callback(), 10, 0, 7), id);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(t.Stop(), 0);
  t.WaitTicks();
  EXPECT_GT(first.ticks.load(), 0);
  EXPECT_EQ(second.ticks.load(), 0);
}

TEST(TickerThread, SpawnedTicksCarryTheArgumentAndDoNotDelayEachOther) {
  std::atomic<int> ticks{0};
  std::atomic<std::intptr_t> seen{0};
  TickerThread t;
  // Each tick sleeps far longer than the period: inline ticking would manage
  // about one.
  t.Start([&](std::intptr_t arg) {
    seen = arg;
    ++ticks;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }, 20, 0, 42);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(t.Stop(), 0);
  t.WaitTicks();
  EXPECT_GE(ticks.load(), 4);
  EXPECT_EQ(seen.load(), 42);
}

TEST(TickerThread, StopTimesOutWhileAnInlineTickRuns) {
  CompletionEvent inTick, release;
  TickerThread t;
  t.Start([&](std::intptr_t) {
    inTick.Set();
    release.Wait();
  }, 10, 0, 0, /*inlineTicks=*/true);
  ASSERT_TRUE(inTick.WaitFor(5000));
  EXPECT_EQ(t.Stop(50), TickerThread::kWaitTimeout);
  release.Set();
  EXPECT_EQ(t.Stop(5000), 0);
}

TEST(TickerThread, StopWithNoWaitReturnsZeroAndTheTickerEndsOnItsOwn) {
  TickCounter c;
  TickerThread t;
  t.Start(c.Callback(), 10, 0, 0);
  EXPECT_EQ(t.Stop(1000, /*noWait=*/true), 0);
  EXPECT_EQ(t.Stop(), -1);
  // A new start after the old loop has gone works.
  EXPECT_NE(t.Start(c.Callback(), 10, 0, 0), std::thread::id());
  EXPECT_EQ(t.Stop(), 0);
}

TEST(TickerThread, PausedTickerDoesNotTickAndStopResumesIt) {
  TickCounter c;
  TickerThread t;
  t.Start(c.Callback(), 10, 0, 0, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  ASSERT_TRUE(t.Pause());
  EXPECT_FALSE(t.Pause());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  int atPause = c.ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(c.ticks.load(), atPause);
  ASSERT_TRUE(t.Resume());
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_GT(c.ticks.load(), atPause);
  ASSERT_TRUE(t.Pause());
  auto t0 = Clock::now();
  EXPECT_EQ(t.Stop(), 0);
  EXPECT_LT(MsSince(t0), 500);
}

TEST(TickerThread, SetPeriodTakesEffectAtTheNextWait) {
  TickCounter c;
  TickerThread t;
  t.Start(c.Callback(), 10000, 0, 0, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(c.ticks.load(), 1);  // first tick at once, then a long wait
  t.SetPeriod(5);
  // The pending 10 s wait is not cut short; the kill ends it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(c.ticks.load(), 1);
  EXPECT_TRUE(t.Kill());
  EXPECT_EQ(t.Stop(), -1);

  // After the wait under way, ticks come at the new period: a 20 ms period
  // set during a 300 ms wait gives many ticks in the following 700 ms.
  TickCounter fast;
  TickerThread u;
  u.Start(fast.Callback(), 300, 0, 0, true);
  u.SetPeriod(20);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(u.Stop(), 0);
  EXPECT_GE(fast.ticks.load(), 8);  // the old period would give 4 at most
}

TEST(SpeedAverager, AveragesTheLastSixtySamplesOnly) {
  SpeedAverager s;
  EXPECT_EQ(s.Average(), 0.0f);
  s.AddSample(3.0f);
  EXPECT_FLOAT_EQ(s.Average(), 3.0f);
  s.AddSample(5.0f);
  EXPECT_FLOAT_EQ(s.Average(), 4.0f);
  for (int i = 0; i < 58; ++i) s.AddSample(4.0f);
  EXPECT_FLOAT_EQ(s.Average(), 4.0f);
  // Sixty more samples push every old one out.
  for (int i = 0; i < 60; ++i) s.AddSample(10.0f);
  EXPECT_FLOAT_EQ(s.Average(), 10.0f);
  s.AddSample(70.0f);  // replaces one 10
  EXPECT_FLOAT_EQ(s.Average(), 11.0f);
}

}  // namespace
}  // namespace download
