#include "FXClock.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

int PollOne(int descriptor, short events, int milliseconds) {
  pollfd entry;
  entry.fd = descriptor;
  entry.events = events;
  entry.revents = 0;
  return poll(&entry, 1, milliseconds);
}

// How often a wait under a virtual clock looks whether a test moved it.
const int kVirtualLookMs = 2;

}  // namespace

int FXClock::WaitForDescriptor(int descriptor, short events, int milliseconds) {
  return PollOne(descriptor, events, milliseconds < 0 ? -1 : milliseconds);
}

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

int FXVirtualClock::WaitForDescriptor(int descriptor, short events, int milliseconds) {
  if (milliseconds < 0) return PollOne(descriptor, events, -1);
  int64_t deadlineMs;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    deadlineMs = m_iNowMs + milliseconds;
    ++m_iDescriptorWaits;
    ++m_iDescriptorWaitsUnderWay;
  }
  // A test moves this clock and tells nobody: look at it often. The span in
  // real time still ends the wait, for tests that never move the clock.
  const auto realEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  int ready;
  for (;;) {
    // Rounded up, so that the wait lasts no less than its span.
    const int64_t realLeftMs =
        (std::chrono::duration_cast<std::chrono::microseconds>(realEnd - std::chrono::steady_clock::now()).count() +
         999) / 1000;
    const int look = realLeftMs < kVirtualLookMs ? (realLeftMs > 0 ? static_cast<int>(realLeftMs) : 0) : kVirtualLookMs;
    ready = PollOne(descriptor, events, look);
    if (ready != 0 || look < kVirtualLookMs) break;
    if (MonotonicMs() >= deadlineMs) {
      // What arrived before the clock passed the limit still counts.
      ready = PollOne(descriptor, events, 0);
      break;
    }
  }
  const int errNo = errno;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_iDescriptorWaitsUnderWay;
  }
  errno = errNo;
  return ready;
}

size_t FXVirtualClock::DescriptorWaits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iDescriptorWaits;
}

size_t FXVirtualClock::DescriptorWaitsUnderWay() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iDescriptorWaitsUnderWay;
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
