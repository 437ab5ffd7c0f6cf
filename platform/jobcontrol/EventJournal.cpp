#include "EventJournal.h"

#include <cstdio>

namespace {

const char* KindName(EvJournalKind kind) {
  switch (kind) {
    case EV_JOURNAL_EVENT:
      return "event";
    case EV_JOURNAL_PENDING_CAUSE:
      return "pending-cause";
    case EV_JOURNAL_PENDING_CAUSE_AND_EVENT:
      return "pending-cause+event";
    case EV_JOURNAL_PENDING_CAUSE_AND_CRITICAL_EVENT:
      return "pending-cause+critical-event";
    case EV_JOURNAL_JOB_CLIENT_INIT:
      return "job-client-init";
    case EV_JOURNAL_SKIP_FS_EVENT:
      break;
  }
  return "skip-fs-event";
}

}  // namespace

EventJournal& EventJournal::Instance() {
  static EventJournal journal;
  return journal;
}

void EventJournal::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_entries.clear();
  m_failures.clear();
}

int EventJournal::Record(EventJournalEntry entry) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto failure = m_failures.find(entry.operation);
  if (entry.result == 0 && failure != m_failures.end()) entry.result = failure->second;
  m_entries.push_back(entry);
  return entry.result;
}

std::vector<EventJournalEntry> EventJournal::Entries() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries;
}

void EventJournal::FailOperation(const std::string& operation, int result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failures[operation] = result;
}

void EventJournal::ClearFailure(const std::string& operation) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failures.erase(operation);
}

std::string EventJournal::Format(const EventJournalEntry& entry) {
  char head[160];
  std::snprintf(head, sizeof head, "%s job=%lld id=0x%08x severity=%d value=%d",
                KindName(entry.kind), entry.jobId, static_cast<unsigned>(entry.eventId), entry.severity, entry.value);
  std::string line = head;
  if (entry.messageType != 0) line += " type=" + std::to_string(entry.messageType);
  if (entry.kind == EV_JOURNAL_JOB_CLIENT_INIT)
    line += " platform=" + std::to_string(entry.platformType);
  if (!entry.arguments.empty()) {
    line += " args=[";
    for (size_t i = 0; i < entry.arguments.size(); ++i) {
      if (i) line += ", ";
      line += entry.arguments[i];
    }
    line += "]";
  }
  if (!entry.text.empty()) line += " text=\"" + entry.text + "\"";
  if (entry.result != 0) line += " FAILED(" + std::to_string(entry.result) + ")";
  return line;
}

std::string EventJournal::FormatAll() const {
  std::string out;
  for (const EventJournalEntry& entry : Entries()) out += Format(entry) + "\n";
  return out;
}
