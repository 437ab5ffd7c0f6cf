// EventJournal: the process-wide record of what the job-control stand-ins
// raise: events, pending causes, job-client set-ups. Tests read it; the
// example host prints it. Every attempt is recorded, with result 0 when it
// was delivered or the failure a test set for its operation
// (FailOperation("KXJobClient::init", 5)). Operation names are
// "<Class>::<method>": "EvEvent::InfoEvent", "EvEvent::MinorEvent",
// "EvEvent::MajorEvent", "EvEvent::CriticalEvent", "EvEvent::SendEvent",
// "KXJobClient::init", "KXJobClient::setPendingCause",
// "KXJobClient::setPendingCauseAndEvent",
// "KXJobClient::setPendingCauseAndCriticalEvent",
// "ISendEventInterface::SendSkipFSEvent".
//
// Thread-safe; Reset() empties the entries and the failure switches.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

enum EvJournalKind {
  EV_JOURNAL_EVENT,
  EV_JOURNAL_PENDING_CAUSE,
  EV_JOURNAL_PENDING_CAUSE_AND_EVENT,
  EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT,
  EV_JOURNAL_JOB_CLIENT_INIT,
  EV_JOURNAL_SKIP_FS_EVENT,
};

struct EventJournalEntry {
  EvJournalKind kind = EV_JOURNAL_EVENT;
  std::string operation;            // "EvEvent::InfoEvent", ...
  long long jobId = 0;
  uint32_t eventId = 0;             // the error's event id; 0 for another kind of error
  int severity = 0;                 // EvSeverity of an event; 0 for a bare pending cause
  int value = 0;
  int messageType = 0;              // PENDING_CAUSE_MESSAGE_TYPE for pending causes
  std::vector<std::string> arguments;  // the error's parameters, then the added ones
  std::string text;                 // the error's message; the server name for an init
  int platformType = 0;             // of an init
  int result = 0;                   // 0 delivered, else the failure set by a test
};

class EventJournal {
 public:
  static EventJournal& Instance();

  void Reset();

  // Appends the entry and returns its result: the one it carries when not 0
  // (a failure its raiser met), else the failure switch of entry.operation.
  int Record(EventJournalEntry entry);
  std::vector<EventJournalEntry> Entries() const;

  void FailOperation(const std::string& operation, int result);
  void ClearFailure(const std::string& operation);

  // One line per entry, for the example host and failing tests.
  static std::string Format(const EventJournalEntry& entry);
  std::string FormatAll() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<EventJournalEntry> m_entries;
  std::map<std::string, int> m_failures;
};
