#include "DedupeAnswerStore.h"

void DedupeAnswerStore::Add(const _SignatureRespParam& answer) {
  uint32_t slot = m_free;
  if (slot != kNone) {
    m_free = m_slots[slot].next;
  } else {
    slot = static_cast<uint32_t>(m_slots.size());
    m_slots.emplace_back();
  }
  m_slots[slot].answer = answer;
  m_slots[slot].next = kNone;
  auto placed = m_byId.emplace(answer.response.uUniqueId, Queue{slot, slot});
  if (!placed.second) {
    Queue& queue = placed.first->second;
    m_slots[queue.tail].next = slot;
    queue.tail = slot;
  }
  ++m_size;
}

bool DedupeAnswerStore::Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer) {
  auto found = m_byId.find(uniqueId);
  if (found == m_byId.end()) return false;
  Queue& queue = found->second;
  const uint32_t slot = queue.head;
  answer = m_slots[slot].answer.response;
  const uint32_t next = m_slots[slot].next;
  if (next == kNone) m_byId.erase(found);
  else queue.head = next;
  m_slots[slot].next = m_free;
  m_free = slot;
  --m_size;
  // A burst of answers, now all taken: its memory goes back.
  if (m_size == 0 && m_slots.capacity() > kKeptSlots) Clear();
  return true;
}

void DedupeAnswerStore::Clear() {
  std::vector<Slot>().swap(m_slots);
  m_free = kNone;
  std::unordered_map<uint32_t, Queue>().swap(m_byId);
  m_size = 0;
}
