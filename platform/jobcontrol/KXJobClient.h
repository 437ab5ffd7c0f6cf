// KXJobClient: a client of the job manager, through which a job reports its
// pending causes. It is also an EvEvent: arguments appended to it
// (operator<<) travel with its next event or pending cause.
//
// init must succeed before a pending cause can be set; a pending-cause call
// on a client that is not initialised returns KXJC_NOT_INITIALIZED. Every
// call lands in the EventJournal; a test can make any of them fail there
// (EventJournal::FailOperation).
#pragma once

#include <string>
#include <vector>

#include "EvEvent.h"
#include "KXJobTypes.h"

enum KXJobClientResult {
  KXJC_SUCCESS = 0,
  KXJC_NOT_INITIALIZED = 1,
};

class KXJobClient : public EvEvent {
 public:
  KXJobClient();
  ~KXJobClient() override;

  // Attaches to the job manager of the central server known under
  // `serverClientName`, for job `jobId`. True on success.
  bool init(const std::string& serverClientName, KXS_PLATFORMTYPE platformType, KXJobID jobId);

  // Sets the error as the pending cause of each listed job. The flags and
  // numbers after the message type are passed to the job manager as given;
  // the proxy passes false and 0.
  int setPendingCause(const CWqError& error, const std::vector<KXJobID>& jobIds, bool flag1,
                      int messageType, int number1, int number2, int number3, bool flag2,
                      JMGUIAlertColorLevel colorLevel, JMPendingCauseFlags flags, int number4,
                      int number5);
  // Sets the pending cause of the client's job and raises an event of that
  // severity and value with it.
  int setPendingCauseAndEvent(const CWqError& error, int severity, int value, bool flag1,
                              int messageType, bool flag2, JMGUIAlertColorLevel colorLevel,
                              JMPendingCauseFlags flags, int number1, int number2);
  // Sets the pending cause of the client's job and raises a critical event
  // with that value.
  int setPendingCauseAndCriticalEvent(const CWqError& error, int value, bool flag1,
                                      int messageType, bool flag2,
                                      JMGUIAlertColorLevel colorLevel, JMPendingCauseFlags flags,
                                      int number1, int number2);

 private:
  // Records one pending-cause entry; KXJC_NOT_INITIALIZED before init.
  int Record(EventJournalEntry entry);

  bool m_bInitialized;
  KXJobID m_jobId;
};
