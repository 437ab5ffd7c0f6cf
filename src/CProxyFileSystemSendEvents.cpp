#include "CProxyFileSystemSendEvents.h"

#include <new>
#include <vector>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXJobTypes.h"
#include "KXPI_Focus.h"
#include "KXPlatformInfo.h"

namespace {

// Platform type with which the proxy announces itself to the job manager.
const KXS_PLATFORMTYPE kProxyPlatformType = 4;
// Room for the central server's client name.
const int kClientNameSize = 256;

}  // namespace

CProxyFileSystemSendEvents::CProxyFileSystemSendEvents(long long jobId, EvEvent* event)
    // A sender is often made with a non-throwing allocation (the scan phase
    // does), so its own event object is too; without one, events are dropped.
    : m_pEvent(event ? event : new (std::nothrow) EvEvent, EventOwnership(event == nullptr)),
      m_jobId(jobId) {
  if (!m_pEvent) FX_LOG(-1, "No event object for job %lld: its events will be dropped", jobId);
}

CProxyFileSystemSendEvents::~CProxyFileSystemSendEvents() {}

EvEvent* CProxyFileSystemSendEvents::EventLocked(const CWqError& error) {
  if (!m_pEvent) {
    FX_LOG(-1, "No event object, event 0x%08x of job %lld dropped",
           static_cast<unsigned>(FXErrorUtil::GetEventMessage(error)), m_jobId);
  }
  return m_pEvent.get();
}

void CProxyFileSystemSendEvents::SendEvent(const CWqError& error, int severity, long long,
                                           int value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (EvEvent* event = EventLocked(error))
    event->SendEvent(static_cast<unsigned>(severity), error, m_jobId,
                     static_cast<unsigned>(value));
}

void CProxyFileSystemSendEvents::SendInfoEvent(const CWqError& error, long long, int value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (EvEvent* event = EventLocked(error)) event->InfoEvent(error, m_jobId, value);
}

void CProxyFileSystemSendEvents::SendMinorEvent(const CWqError& error, long long, int value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (EvEvent* event = EventLocked(error)) event->MinorEvent(error, m_jobId, value);
}

void CProxyFileSystemSendEvents::SendMajorEvent(const CWqError& error, long long, int value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (EvEvent* event = EventLocked(error)) event->MajorEvent(error, m_jobId, value);
}

void CProxyFileSystemSendEvents::SendCriticalEvent(const CWqError& error, long long, int value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (EvEvent* event = EventLocked(error)) event->CriticalEvent(error, m_jobId, value);
}

KXJobClient* CProxyFileSystemSendEvents::getJobCLient() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return JobClientLocked();
}

KXJobClient* CProxyFileSystemSendEvents::JobClientLocked() {
  if (m_pJobClient) return m_pJobClient.get();

  KXPlatformInfo settings;
  settings.setFocus(KXPI_Focus::getFocus());
  char name[kClientNameSize];
  if (settings.getZentraverClientName(name, sizeof name) == 0) {
    // Nothing is held, so the next pending cause asks again.
    FX_LOG(-1, "getZentraverClientName return NULL");
    return nullptr;
  }

  m_pJobClient = std::make_unique<KXJobClient>();
  // The client is kept even when it cannot attach: its own calls then fail
  // and say so, and the job manager is not asked again for every cause.
  if (!m_pJobClient->init(name, kProxyPlatformType, m_jobId))
    FX_LOG(-1, "Job client of job %lld could not attach to [%s]", m_jobId, name);
  return m_pJobClient.get();
}

void CProxyFileSystemSendEvents::SetPendingCause(const CWqError& error, long long) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (KXJobClient* client = JobClientLocked()) {
      std::vector<KXJobID> jobs(1, m_jobId);
      client->setPendingCause(error, jobs, false, PENDING_CAUSE_MESSAGE_TYPE, 0, 0, 0, false,
                              0 /* JMGUIAlertColorLevel */, 0 /* JMPendingCauseFlags */, 0, 0);
      return;
    }
  }
  // Raised like every other event of the family: value 0.
  SendMajorEvent(error, m_jobId, 0);
}

void CProxyFileSystemSendEvents::SetPendingCauseAndEvent(const CWqError& error, int severity,
                                                         int value) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (KXJobClient* client = JobClientLocked()) {
      client->setPendingCauseAndEvent(error, severity, value, false, PENDING_CAUSE_MESSAGE_TYPE,
                                      false, 0, 0, 0, 0);
      return;
    }
  }
  SendEvent(error, severity, m_jobId, value);
}

void CProxyFileSystemSendEvents::SetPendingCauseAndCriticalEvent(const CWqError& error,
                                                                 int value) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (KXJobClient* client = JobClientLocked()) {
      client->setPendingCauseAndCriticalEvent(error, value, false, PENDING_CAUSE_MESSAGE_TYPE,
                                              false, 0, 0, 0, 0);
      return;
    }
  }
  SendCriticalEvent(error, m_jobId, 0);
}
