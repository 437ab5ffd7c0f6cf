// Fixtures of the installation tests: an event sender that keeps what it
// gets, and the virtual clock with a hook before each sleep, so the tests
// move the simulated client side at the manager's own pauses.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/any.hpp>

#include "FXClock.h"
#include "FXErrorUtil.h"
#include "ISendEventInterface.h"

namespace deploytest {

struct SentEvent {
  uint32_t id;
  bool critical;
  std::vector<std::string> texts;  // the string parameters
  std::string error;               // the error's text
};

class KeepingSender : public ISendEventInterface {
 public:
  void SendEvent(const CWqError&, int, long long, int) override {}
  void SendInfoEvent(const CWqError& error, long long, int) override { Keep(error, false); }
  void SendMinorEvent(const CWqError&, long long, int) override {}
  void SendMajorEvent(const CWqError&, long long, int) override {}
  void SendCriticalEvent(const CWqError& error, long long, int) override { Keep(error, true); }
  void SetPendingCause(const CWqError&, long long) override {}
  void SetPendingCauseAndEvent(const CWqError&, int, int) override {}
  void SetPendingCauseAndCriticalEvent(const CWqError&, int) override {}

  std::vector<SentEvent> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }
  std::vector<uint32_t> Ids() {
    std::vector<uint32_t> ids;
    for (const SentEvent& e : Events()) ids.push_back(e.id);
    return ids;
  }

 private:
  void Keep(const CWqError& error, bool critical) {
    SentEvent event{FXErrorUtil::GetEventMessage(error), critical, {}, error.AsString()};
    for (const boost::any& p : error.GetParameters()) {
      if (p.type() == typeid(std::string))
        event.texts.push_back(boost::any_cast<std::string>(p));
      else if (p.type() == typeid(uint16_t))
        event.texts.push_back(std::to_string(boost::any_cast<uint16_t>(p)));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event);
  }
  std::mutex m_mutex;
  std::vector<SentEvent> m_events;
};

class HookClock : public FXClock {
 public:
  int64_t MonotonicMs() override { return m_clock.MonotonicMs(); }
  int64_t UnixTime() override { return m_clock.UnixTime(); }
  void SleepMs(int64_t milliseconds) override {
    int seen;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      seen = ++m_counts[milliseconds];
    }
    if (onSleep) onSleep(milliseconds, seen);
    m_clock.SleepMs(milliseconds);
  }
  std::vector<int64_t> Sleeps() const { return m_clock.Sleeps(); }
  void Advance(int64_t ms) { m_clock.Advance(ms); }

  // (pause, pauses of that length so far with this one)
  std::function<void(int64_t, int)> onSleep;

 private:
  FXVirtualClock m_clock;
  std::mutex m_mutex;
  std::map<int64_t, int> m_counts;
};

}  // namespace deploytest
