#include "DedupeAnswerStore.h"

void DedupeAnswerStore::Add(const _SignatureRespParam& answer) {
  m_byId[answer.response.uUniqueId].push_back(answer);
  ++m_size;
}

bool DedupeAnswerStore::Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer) {
  auto found = m_byId.find(uniqueId);
  if (found == m_byId.end()) return false;
  answer = found->second.front().response;
  found->second.pop_front();
  if (found->second.empty()) m_byId.erase(found);
  --m_size;
  return true;
}

void DedupeAnswerStore::Clear() {
  m_byId.clear();
  m_size = 0;
}
