#include "ISendEventInterface.h"

#include <mutex>

#include "EventJournal.h"

namespace {

struct InstanceSlot {
  std::mutex mutex;
  boost::shared_ptr<ISendEventInterface> instance;
};

InstanceSlot& Slot() {
  static InstanceSlot slot;
  return slot;
}

}  // namespace

ISendEventInterface::~ISendEventInterface() {}

void ISendEventInterface::SendSkipFSEvent(const std::string& path, const std::string& reason) {
  EventJournalEntry entry;
  entry.kind = EV_JOURNAL_SKIP_FS_EVENT;
  entry.operation = "ISendEventInterface::SendSkipFSEvent";
  entry.arguments.push_back(path);
  entry.arguments.push_back(reason);
  EventJournal::Instance().Record(entry);
}

boost::shared_ptr<ISendEventInterface> ISendEventInterface::GetInstance() {
  InstanceSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  return slot.instance;
}

void ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface> instance) {
  InstanceSlot& slot = Slot();
  boost::shared_ptr<ISendEventInterface> previous;
  {
    std::lock_guard<std::mutex> lock(slot.mutex);
    previous.swap(slot.instance);
    slot.instance = instance;
  }
  // `previous` may be the last owner: it goes here, outside the lock.
}
