#include "IxaRecords.h"

#include <atomic>

namespace {
std::atomic<int> g_registered(0);
}  // namespace

namespace Ixa {

void RegisterSubsystem() { ++g_registered; }
int RegisteredCount() { return g_registered.load(); }

}  // namespace Ixa

int IxaSetString(CNMessageBase& record, int position, int field, const std::string& value,
                 uint32_t tagId, uint32_t nameHash) {
  std::vector<std::string>* list = record.getliststring(position, field, tagId, nameHash, true);
  list->assign(1, value);
  return 0;
}

bool IxaGetString(CNMessageBase& record, int position, int field, uint32_t tagId,
                  uint32_t nameHash, std::string& value) {
  std::vector<std::string>* list = record.getliststring(position, field, tagId, nameHash, false);
  if (!list || list->size() != 1) return false;
  value = list->front();
  return true;
}
