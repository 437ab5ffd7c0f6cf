#include "FXClock.h"

#include <chrono>
#include <thread>

int64_t FXRealClock::MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t FXRealClock::UnixTime() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void FXRealClock::SleepMs(int64_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

FXVirtualClock::FXVirtualClock(int64_t unixTime) : m_iNowMs(0), m_iUnixStartMs(unixTime * 1000) {}

int64_t FXVirtualClock::MonotonicMs() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iNowMs;
}

int64_t FXVirtualClock::UnixTime() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return (m_iUnixStartMs + m_iNowMs) / 1000;
}

void FXVirtualClock::SleepMs(int64_t milliseconds) {
  int64_t target;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sleeps.push_back(milliseconds);
    target = m_iNowMs + (milliseconds > 0 ? milliseconds : 0);
  }
  MoveTo(target);
}

void FXVirtualClock::Advance(int64_t milliseconds) {
  int64_t target;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (milliseconds < 0) {  // going back runs nothing
      m_iNowMs += milliseconds;
      return;
    }
    target = m_iNowMs + milliseconds;
  }
  MoveTo(target);
}

void FXVirtualClock::At(int64_t atMs, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_actions.emplace(atMs, std::move(action));
}

void FXVirtualClock::MoveTo(int64_t targetMs) {
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto due = m_actions.begin();
      if (due == m_actions.end() || due->first > targetMs) {
        if (targetMs > m_iNowMs) m_iNowMs = targetMs;
        return;
      }
      if (due->first > m_iNowMs) m_iNowMs = due->first;
      action = std::move(due->second);
      m_actions.erase(due);
    }
    action();
  }
}

std::vector<int64_t> FXVirtualClock::Sleeps() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sleeps;
}

void FXVirtualClock::ClearSleeps() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sleeps.clear();
}

namespace {

std::mutex& ClockMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<FXClock>& InstalledClock() {
  static std::shared_ptr<FXClock> clock = std::make_shared<FXRealClock>();
  return clock;
}

}  // namespace

FXClock& FXGetClock() {
  std::lock_guard<std::mutex> lock(ClockMutex());
  return *InstalledClock();
}

void FXSetClock(std::shared_ptr<FXClock> clock) {
  std::lock_guard<std::mutex> lock(ClockMutex());
  // The old clock is kept alive: a thread may still be inside one of its
  // calls. Clocks are few and small, so they are never freed.
  static std::vector<std::shared_ptr<FXClock>> retired;
  retired.push_back(InstalledClock());
  InstalledClock() = clock ? clock : std::make_shared<FXRealClock>();
}

FXScopedVirtualClock::FXScopedVirtualClock() : m_clock(std::make_shared<FXVirtualClock>()) {
  FXSetClock(m_clock);
}

FXScopedVirtualClock::~FXScopedVirtualClock() { FXSetClock(nullptr); }
