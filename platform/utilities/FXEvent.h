// FXEvent: an auto-reset event on the platform clock.
//
// Set wakes one wait in progress, or the next wait to begin when none is in
// progress; the wait that a Set ends consumes it, so a thread that waits in
// a loop cannot spin on one Set. WaitForSet waits on the clock in force when
// it begins: on the real clock it blocks for real time; on a virtual clock
// (FXClock.h) it blocks until Set or until a test moves that clock past its
// deadline, and a test can wait until a thread is parked in it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class FXEvent {
 public:
  // `initiallySet` non-zero: the first wait returns at once.
  explicit FXEvent(int initiallySet = 0);
  FXEvent(const FXEvent&) = delete;
  FXEvent& operator=(const FXEvent&) = delete;

  void Set();
  // Forgets a Set that no wait has taken.
  void Reset();
  // True when a Set ended the wait, false when `milliseconds` passed first
  // (negative counts as 0).
  bool WaitForSet(int64_t milliseconds);

  // For tests. Every wait begun, in order, with its limit in milliseconds.
  std::vector<int64_t> Waits() const;
  // Waits in real time, at most `realSeconds`, until at least `count` waits
  // have begun and one of them is still in progress; false when not by then.
  bool WaitUntilParked(size_t count, int realSeconds) const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_bSet;
  int m_iParked;
  std::vector<int64_t> m_waits;
};
