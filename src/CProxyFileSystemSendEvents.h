// CProxyFileSystemSendEvents: the library's event sender, the implementation
// of the platform's process-wide ISendEventInterface.
//
// Every event and pending cause belongs to the one job the sender was made
// for: the job-id arguments of the calls are ignored. Events are raised
// through an EvEvent (given to the constructor, and then its giver's, or
// made by the sender, and then destroyed with it). Pending causes go through
// a job-manager client that the sender makes on first need; while no
// central-server client name is configured no client is made, the pending
// cause is raised as an event instead, and the next call tries again.
//
// One object serves several threads at once: the job client is made exactly
// once, and calls into the event object and the job client (which are not
// thread-safe themselves) are serialised. Nothing is reported back: a raise
// that fails inside the platform is the platform's to report.
#pragma once

#include <memory>
#include <mutex>

#include "CWqError.h"
#include "EvEvent.h"
#include "ISendEventInterface.h"
#include "KXJobClient.h"

class CProxyFileSystemSendEvents : public ISendEventInterface {
 public:
  // Keeps `event` when not null, else makes an event object of its own.
  CProxyFileSystemSendEvents(long long jobId, EvEvent* event);
  ~CProxyFileSystemSendEvents() override;
  CProxyFileSystemSendEvents(const CProxyFileSystemSendEvents&) = delete;
  CProxyFileSystemSendEvents& operator=(const CProxyFileSystemSendEvents&) = delete;

  // The event family: raised for the sender's job; `jobId` is not used.
  void SendEvent(const CWqError& error, int severity, long long jobId, int value) override;
  void SendInfoEvent(const CWqError& error, long long jobId, int value) override;
  void SendMinorEvent(const CWqError& error, long long jobId, int value) override;
  void SendMajorEvent(const CWqError& error, long long jobId, int value) override;
  void SendCriticalEvent(const CWqError& error, long long jobId, int value) override;

  // The pending-cause family. Without a job client: SetPendingCause raises a
  // major event (value 0), SetPendingCauseAndEvent the event of that
  // severity and value, SetPendingCauseAndCriticalEvent a critical event
  // (value 0). `jobId` is not used.
  void SetPendingCause(const CWqError& error, long long jobId) override;
  void SetPendingCauseAndEvent(const CWqError& error, int severity, int value) override;
  void SetPendingCauseAndCriticalEvent(const CWqError& error, int value) override;

  // The job client, made (and initialised for the sender's job) on first
  // need; null while the central server's client name is not configured.
  // The result of its initialisation is not a reason to make another.
  KXJobClient* getJobCLient();

 private:
  // Destroys only an event object the sender made itself.
  struct EventOwnership {
    explicit EventOwnership(bool owns = false) : owned(owns) {}
    bool owned;
    void operator()(EvEvent* event) const {
      if (owned) std::default_delete<EvEvent>()(event);
    }
  };

  // getJobCLient with m_mutex held.
  KXJobClient* JobClientLocked();
  // The event object, or null (logged) when it could not be made.
  EvEvent* EventLocked(const CWqError& error);

  std::unique_ptr<EvEvent, EventOwnership> m_pEvent;
  std::unique_ptr<KXJobClient> m_pJobClient;
  const long long m_jobId;
  // Guards the making of the job client and every call into it and into
  // the event object.
  std::mutex m_mutex;
};
