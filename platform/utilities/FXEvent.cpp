#include "FXEvent.h"

#include <chrono>

#include "FXClock.h"

FXEvent::FXEvent(int initiallySet) : m_bSet(initiallySet != 0), m_iParked(0) {}

void FXEvent::Set() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSet = true;
  m_changed.notify_all();
}

void FXEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bSet = false;
}

bool FXEvent::WaitForSet(int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  FXClock& clock = FXGetClock();
  FXVirtualClock* virtualClock = dynamic_cast<FXVirtualClock*>(&clock);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_waits.push_back(milliseconds);
  ++m_iParked;
  m_changed.notify_all();
  bool set;
  if (!virtualClock) {
    set = m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bSet; });
  } else {
    // A virtual clock moves only when a test moves it and tells nobody:
    // look at it often. The clock is never freed (FXSetClock keeps it).
    const int64_t deadlineMs = virtualClock->MonotonicMs() + milliseconds;
    for (;;) {
      set = m_bSet;
      if (set || virtualClock->MonotonicMs() >= deadlineMs) break;
      m_changed.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
  if (set) m_bSet = false;
  --m_iParked;
  m_changed.notify_all();
  return set;
}

std::vector<int64_t> FXEvent::Waits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waits;
}

bool FXEvent::WaitUntilParked(size_t count, int realSeconds) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(realSeconds),
                            [&] { return m_waits.size() >= count && m_iParked > 0; });
}
