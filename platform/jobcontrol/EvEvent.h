// EvEvent: raises job events to the job manager.
//
// An event carries the error's event id (an event-message error's id, else
// 0), a severity, the job id, a value, and as arguments the error's
// parameters followed by those added to this object (addArgument,
// operator<<) since its last event. Raising an event hands the added
// arguments over and clears them. Each raise returns 0 when delivered, else
// the failure a test set (EventJournal.h), and lands in the EventJournal
// either way. Not thread-safe: one object belongs to one thread.
#pragma once

#include <string>
#include <vector>

#include <boost/any.hpp>

#include "CWqError.h"
#include "EventJournal.h"

enum EvSeverity {
  EV_SEVERITY_INFO = 1,
  EV_SEVERITY_MINOR = 2,
  EV_SEVERITY_MAJOR = 3,
  EV_SEVERITY_CRITICAL = 4,
};

// Argument types of addArgument.
enum EvArgumentType {
  EV_ARGUMENT_STRING = 11,  // a C string or std::string
};

class EvEvent {
 public:
  EvEvent();
  virtual ~EvEvent();

  int InfoEvent(const CWqError& error, long long jobId, int value);
  int MinorEvent(const CWqError& error, long long jobId, int value);
  int MajorEvent(const CWqError& error, long long jobId, int value);
  int CriticalEvent(const CWqError& error, long long jobId, int value);
  int SendEvent(unsigned severity, const CWqError& error, long long jobId, unsigned value);

  // Adds one argument to the next event. The value is taken at once (a
  // const char* may go away after the call): a const char* or std::string,
  // or an integer, kept as its text.
  void addArgument(const boost::any& value, int type);
  // addArgument(text, EV_ARGUMENT_STRING); a null text adds "".
  EvEvent& operator<<(const char* text) {
    addArgument(boost::any(text ? text : ""), EV_ARGUMENT_STRING);
    return *this;
  }

 protected:
  // A journal entry for `error`, carrying the added arguments, which are
  // cleared (used by every raise, the job client's included).
  EventJournalEntry TakeEntry(EvJournalKind kind, const char* operation, const CWqError& error,
                              long long jobId);

 private:
  int Raise(const char* operation, int severity, const CWqError& error, long long jobId,
            int value);

  std::vector<std::string> m_arguments;
};
