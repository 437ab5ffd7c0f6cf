#include "EvEvent.h"

#include <cstdint>

#include "FXErrorUtil.h"
#include "FXFormat.h"
#include "FXLogWriter.h"

namespace {

// The message the error was made with: its oldest frame that has a text.
std::string ErrorText(const CWqError& error) {
  for (const FXErrorFrame& frame : error.GetFrames())
    if (!frame.text.empty()) return frame.text;
  return std::string();
}

}  // namespace

EvEvent::EvEvent() {}
EvEvent::~EvEvent() {}

void EvEvent::addArgument(const boost::any& value, int type) {
  (void)type;  // every type is kept as its text
  m_arguments.push_back(FXAnyText(value));
}

EventJournalEntry EvEvent::TakeEntry(EvJournalKind kind, const char* operation,
                                     const CWqError& error, long long jobId) {
  EventJournalEntry entry;
  entry.kind = kind;
  entry.operation = operation;
  entry.jobId = jobId;
  entry.eventId = FXErrorUtil::IsEventMessage(error) ? FXErrorUtil::GetEventMessage(error) : 0;
  entry.text = ErrorText(error);
  for (const boost::any& parameter : error.GetParameters())
    entry.arguments.push_back(FXAnyText(parameter));
  entry.arguments.insert(entry.arguments.end(), m_arguments.begin(), m_arguments.end());
  m_arguments.clear();
  return entry;
}

int EvEvent::Raise(const char* operation, int severity, const CWqError& error, long long jobId,
                   int value) {
  EventJournalEntry entry = TakeEntry(EV_JOURNAL_EVENT, operation, error, jobId);
  entry.severity = severity;
  entry.value = value;
  FX_LOG(2, "Raising event 0x%08x severity %d for job %lld", static_cast<unsigned>(entry.eventId),
         severity, jobId);
  return EventJournal::Instance().Record(entry);
}

int EvEvent::InfoEvent(const CWqError& error, long long jobId, int value) {
  return Raise("EvEvent::InfoEvent", EV_SEVERITY_INFO, error, jobId, value);
}

int EvEvent::MinorEvent(const CWqError& error, long long jobId, int value) {
  return Raise("EvEvent::MinorEvent", EV_SEVERITY_MINOR, error, jobId, value);
}

int EvEvent::MajorEvent(const CWqError& error, long long jobId, int value) {
  return Raise("EvEvent::MajorEvent", EV_SEVERITY_MAJOR, error, jobId, value);
}

int EvEvent::CriticalEvent(const CWqError& error, long long jobId, int value) {
  return Raise("EvEvent::CriticalEvent", EV_SEVERITY_CRITICAL, error, jobId, value);
}

int EvEvent::SendEvent(unsigned severity, const CWqError& error, long long jobId, unsigned value) {
  return Raise("EvEvent::SendEvent", static_cast<int>(severity), error, jobId,
               static_cast<int>(value));
}
