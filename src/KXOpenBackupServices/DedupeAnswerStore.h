// DedupeAnswerStore: the signature-query answers kept until the backup
// phase's signature record for their block takes them out.
//
// Answers are found by unique id in constant time; answers that share an id
// are handed out earlier first. Not locked: its owner holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>

#include "ClSignatureRecords.h"

class DedupeAnswerStore {
 public:
  void Add(const _SignatureRespParam& answer);
  // Takes the earliest answer of `uniqueId` out; false when there is none.
  bool Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer);
  size_t Size() const { return m_size; }
  void Clear();

 private:
  std::unordered_map<uint32_t, std::deque<_SignatureRespParam>> m_byId;
  size_t m_size = 0;
};
