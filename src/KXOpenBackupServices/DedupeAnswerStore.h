// DedupeAnswerStore: the signature-query answers kept until the backup
// phase's signature record for their block takes them out.
//
// Answers are found by unique id in constant time; answers that share an id
// are handed out earlier first. The answers themselves live in one slab
// whose free slots are reused, so that storing one costs no allocation of
// its own once the slab has grown; the index is a compact open-addressing
// table (8 bytes an id) that keeps runs of consecutive ids together, so that
// answers taken in the order they came touch little more than the answers
// themselves. The ids come from the client program: where a run goes is
// hashed with a key of each store's own, so chosen ids cannot pile up in one
// place. A slab grown past kKeptSlots is given back when its last answer is
// taken. Not locked: its owner holds its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ClSignatureRecords.h"

class DedupeAnswerStore {
 public:
  DedupeAnswerStore();
  void Add(const _SignatureRespParam& answer);
  // Takes the earliest answer of `uniqueId` out; false when there is none.
  bool Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer);
  size_t Size() const { return m_size; }
  // Drops every answer and gives the memory back.
  void Clear();

 private:
  static const uint32_t kNone = 0xFFFFFFFFu;
  static const uint32_t kGone = 0xFFFFFFFEu;  // an index entry whose id was taken out
  static const size_t kNoPlace = ~size_t(0);
  static const size_t kKeptSlots = 4096;

  struct Slot {
    _SignatureRespParam answer;
    uint32_t next = kNone;  // the next answer of the same id, or the next free slot
  };
  // One id of the index: its earliest slot (kNone: the entry is empty,
  // kGone: removed; lookups pass it, a new id may take it).
  struct Entry {
    uint32_t id;
    uint32_t head;
  };

  size_t Home(uint32_t id) const;
  // The index entry of `id`, or kNoPlace; `freeAt` (when given) receives
  // the first entry where `id` could go.
  size_t Probe(uint32_t id, size_t* freeAt) const;
  // Makes the index anew, larger when it is filling up, without removed
  // entries.
  void Rebuild();

  // Large arrays on huge pages where the system allows: a lookup among a
  // million answers then costs no page-table walk of its own.
  template <typename T>
  struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) {}
    T* allocate(size_t count);
    void deallocate(T* items, size_t count);
    bool operator==(const HugePageAllocator&) const { return true; }
    bool operator!=(const HugePageAllocator&) const { return false; }
  };

  std::vector<Slot, HugePageAllocator<Slot>> m_slots;
  uint32_t m_free = kNone;
  std::vector<Entry, HugePageAllocator<Entry>> m_index;  // a power of two long, at most half full
  size_t m_ids = 0;            // entries in use
  size_t m_gone = 0;           // entries removed
  size_t m_size = 0;           // answers stored
  uint64_t m_key;
};
