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

#include "ClClientManager.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "ISendEventInterface.h"
#include "KXPlatformInfo.h"

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

// What every installation test runs under: fresh version-check state, the
// virtual clock with its hook, an event sender that keeps what it gets, and
// a one-second version reply time-out in the settings store in force. All
// of it is undone when the object goes.
class CheckSurroundings {
 public:
  CheckSurroundings() : clock(std::make_shared<HookClock>()), sender(new KeepingSender) {
    ClClientManager::ResetVersionCheckState();
    FXSetClock(clock);
    ISendEventInterface::SetInstance(sender);
    KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_VERSION_REPLY", 1);
  }
  ~CheckSurroundings() {
    FXSetClock(nullptr);
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    ClClientManager::ResetVersionCheckState();
  }
  CheckSurroundings(const CheckSurroundings&) = delete;
  CheckSurroundings& operator=(const CheckSurroundings&) = delete;

  std::shared_ptr<HookClock> clock;
  boost::shared_ptr<KeepingSender> sender;
};

// The commands of an IBM i first installation as the client receives them,
// each as its step gives it (one blank before and after the CL span), for
// the test clients' subsystem, job queue and data folder.
inline std::vector<std::string> IbmiInstallCommands(const std::string& profile, uint16_t port) {
  return {
      "system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"",
      " system \"CHKOBJ OBJ(KXSBS) OBJTYPE(*SBSD)\"  ",
      " system \"CHKOBJ OBJ(KXLIB/KXJOBQ) OBJTYPE(*JOBQ)\"  ",
      " system \"DLTF FILE(QGPL/KXINSTPKG)\"  ",
      "  mkdir /kxdata  ",
      " system \"CPYFRMSTMF FROMSTMF('/kxdata/KXINSTPKG.savf') TOMBR('/QSYS.LIB/QGPL.LIB/KXINSTPKG.FILE') \"  ",
      " system \"RSTLIB SAVLIB(KXSTAGE) DEV(*SAVF) SAVF(QGPL/KXINSTPKG) MBROPT(*ALL) ALWOBJDIF(*ALL) "
      "RSTLIB(KXINST) \"  ",
      " system \"SNDMSG MSG('Zorvanta installation is starting now...') TOUSR(*SYSOPR)\"  ",
      " system \"KXINST/INSKXTEL CLIENT('ibmi1') USRPRF(" + profile + ") SBSD(KXSBS) JOBQ(KXLIB/KXJOBQ) PORT(" +
          std::to_string(port) + ") DATADIR('/kxdata') JOBPTY(5) RUNPTY(20) START(*YES)\"  ",
      " system \"RMVLNK OBJLNK('/kxdata/KXINSTPKG.savf')\"  ",
  };
}

}  // namespace deploytest
