#include "KXJobClient.h"

#include "FXLogWriter.h"

KXJobClient::KXJobClient() : m_bInitialized(false), m_jobId(0) {}
KXJobClient::~KXJobClient() {}

bool KXJobClient::init(const std::string& serverClientName, KXS_PLATFORMTYPE platformType,
                       KXJobID jobId) {
  EventJournalEntry entry;
  entry.kind = EV_JOURNAL_JOB_CLIENT_INIT;
  entry.operation = "KXJobClient::init";
  entry.jobId = jobId;
  entry.text = serverClientName;
  entry.platformType = platformType;
  int result = EventJournal::Instance().Record(entry);
  if (result != 0) {
    FX_LOG(1, "Job client for job %lld not attached to [%s]: %d", jobId, serverClientName.c_str(),
           result);
    return false;
  }
  m_bInitialized = true;
  m_jobId = jobId;
  return true;
}

int KXJobClient::Record(EventJournalEntry entry) {
  if (!m_bInitialized) {
    entry.result = KXJC_NOT_INITIALIZED;
    FX_LOG(1, "%s on a job client that is not initialised", entry.operation.c_str());
  }
  return EventJournal::Instance().Record(entry);
}

int KXJobClient::setPendingCause(const CWqError& error, const std::vector<KXJobID>& jobIds, bool,
                                 int messageType, int, int, int, bool, JMGUIAlertColorLevel,
                                 JMPendingCauseFlags, int, int) {
  EventJournalEntry entry =
      TakeEntry(EV_JOURNAL_PENDING_CAUSE, "KXJobClient::setPendingCause", error, m_jobId);
  entry.messageType = messageType;
  // An empty job list must not hide a client that was never initialised.
  if (!m_bInitialized && jobIds.empty()) return Record(entry);
  int result = KXJC_SUCCESS;
  for (KXJobID jobId : jobIds) {
    entry.jobId = jobId;
    int one = Record(entry);
    if (one != KXJC_SUCCESS && result == KXJC_SUCCESS) result = one;
  }
  return result;
}

int KXJobClient::setPendingCauseAndEvent(const CWqError& error, int severity, int value, bool,
                                         int messageType, bool, JMGUIAlertColorLevel,
                                         JMPendingCauseFlags, int, int) {
  EventJournalEntry entry = TakeEntry(EV_JOURNAL_PENDING_CAUSE_AND_EVENT,
                                      "KXJobClient::setPendingCauseAndEvent", error, m_jobId);
  entry.messageType = messageType;
  entry.severity = severity;
  entry.value = value;
  return Record(entry);
}

int KXJobClient::setPendingCauseAndCriticalEvent(const CWqError& error, int value, bool,
                                                 int messageType, bool, JMGUIAlertColorLevel,
                                                 JMPendingCauseFlags, int, int) {
  EventJournalEntry entry =
      TakeEntry(EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT,
                "KXJobClient::setPendingCauseAndCriticalEvent", error, m_jobId);
  entry.messageType = messageType;
  entry.severity = EV_SEVERITY_CRITICAL;
  entry.value = value;
  return Record(entry);
}
