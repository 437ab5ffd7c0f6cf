// The process-wide clock behind every time read and sleep of the platform.
//
// The real clock reads the system clocks and sleeps. A test installs an
// FXVirtualClock, on which a sleep returns at once and moves time forward,
// so that waits of minutes take microseconds and are recorded. A wait on a
// descriptor under a virtual clock ends when the test moves the clock past
// its limit (or, as on the real clock, when its span of real time passes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class FXClock {
 public:
  virtual ~FXClock() {}
  // Milliseconds on a clock that never goes back.
  virtual int64_t MonotonicMs() = 0;
  // Seconds since 1970-01-01 UTC, what time() gives.
  virtual int64_t UnixTime() = 0;
  virtual void SleepMs(int64_t milliseconds) = 0;
  // Waits until `descriptor` has one of `events` or `milliseconds` pass on
  // this clock (negative: no limit). poll's result; errno is kept.
  virtual int WaitForDescriptor(int descriptor, short events, int milliseconds);
};

class FXRealClock : public FXClock {
 public:
  int64_t MonotonicMs() override;
  int64_t UnixTime() override;
  void SleepMs(int64_t milliseconds) override;
};

class FXVirtualClock : public FXClock {
 public:
  explicit FXVirtualClock(int64_t unixTime = 1767225600 /* 2026-01-01 */);

  int64_t MonotonicMs() override;
  int64_t UnixTime() override;
  // Returns at once; time moves forward by the pause, which is recorded.
  void SleepMs(int64_t milliseconds) override;
  // Also ends when time is moved past the limit; the clock is not moved.
  int WaitForDescriptor(int descriptor, short events, int milliseconds) override;
  // How many limited descriptor waits have begun, and how many are under
  // way: a test moves time once the wait it means has begun.
  size_t DescriptorWaits() const;
  size_t DescriptorWaitsUnderWay() const;

  void Advance(int64_t milliseconds);
  // Runs `action` when a sleep or Advance passes `atMs` on MonotonicMs (at
  // once from the next sleep or Advance when already passed). Due actions run
  // in time order on the thread that moves time, with the clock set to their
  // time, outside the clock's lock (they may read or schedule).
  void At(int64_t atMs, std::function<void()> action);
  std::vector<int64_t> Sleeps() const;
  void ClearSleeps();

 private:
  mutable std::mutex m_mutex;
  int64_t m_iNowMs;
  int64_t m_iUnixStartMs;
  std::vector<int64_t> m_sleeps;
  size_t m_iDescriptorWaits = 0;
  size_t m_iDescriptorWaitsUnderWay = 0;
  std::multimap<int64_t, std::function<void()>> m_actions;

  // Moves time forward to `targetMs`, running the actions due on the way.
  void MoveTo(int64_t targetMs);
};

// The clock in force; the real one until a test installs another.
FXClock& FXGetClock();
// Installs a clock (null brings back the real one).
void FXSetClock(std::shared_ptr<FXClock> clock);

// Installs a virtual clock for a scope, then brings back the real one.
class FXScopedVirtualClock {
 public:
  FXScopedVirtualClock();
  ~FXScopedVirtualClock();
  FXVirtualClock& clock() { return *m_clock; }

 private:
  std::shared_ptr<FXVirtualClock> m_clock;
};
