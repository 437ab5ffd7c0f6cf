// DedupeAnswerStore: the signature-query answers kept until the backup
// phase's signature record for their block takes them out.
//
// Answers are found by unique id in constant time; answers that share an id
// are handed out earlier first. The answers themselves live in one slab
// whose free slots are reused, so that storing one costs no allocation of
// its own once the slab has grown; a slab grown past kKeptSlots is given
// back when its last answer is taken. Not locked: its owner holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "ClSignatureRecords.h"

class DedupeAnswerStore {
 public:
  void Add(const _SignatureRespParam& answer);
  // Takes the earliest answer of `uniqueId` out; false when there is none.
  bool Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer);
  size_t Size() const { return m_size; }
  // Drops every answer and gives the memory back.
  void Clear();

 private:
  static const uint32_t kNone = 0xFFFFFFFFu;
  static const size_t kKeptSlots = 4096;

  struct Slot {
    _SignatureRespParam answer;
    uint32_t next = kNone;  // the next answer of the same id, or the next free slot
  };
  // The queue of one id: its first and last slot.
  struct Queue {
    uint32_t head;
    uint32_t tail;
  };

  std::vector<Slot> m_slots;
  uint32_t m_free = kNone;
  std::unordered_map<uint32_t, Queue> m_byId;
  size_t m_size = 0;
};
