#include "DedupeAnswerStore.h"

#include <sys/mman.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <random>

namespace {

const size_t kFirstIndexSize = 64;
const unsigned kRunBits = 4;
// Below this an array comes from the heap; from it on, from a mapping of
// its own that may use huge pages.
const size_t kMappedBytes = size_t(2) << 20;

uint64_t Mix(uint64_t value) {
  value ^= value >> 33;
  value *= 0xFF51AFD7ED558CCDull;
  value ^= value >> 33;
  value *= 0xC4CEB9FE1A85EC53ull;
  value ^= value >> 33;
  return value;
}

}  // namespace

template <typename T>
T* DedupeAnswerStore::HugePageAllocator<T>::allocate(size_t count) {
  const size_t bytes = count * sizeof(T);
  if (bytes < kMappedBytes) {
    void* memory = std::malloc(bytes);
    if (!memory) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  (void)::madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
  return static_cast<T*>(memory);
}

template <typename T>
void DedupeAnswerStore::HugePageAllocator<T>::deallocate(T* items, size_t count) {
  const size_t bytes = count * sizeof(T);
  if (bytes < kMappedBytes) std::free(items);
  else ::munmap(items, bytes);
}

DedupeAnswerStore::DedupeAnswerStore() {
  std::random_device device;
  m_key = (static_cast<uint64_t>(device()) << 32) ^ device() ^
          static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

size_t DedupeAnswerStore::Home(uint32_t id) const {
  // Runs of 16 consecutive ids keep their order side by side (the client
  // program numbers its blocks one after the other, and their signature
  // records come in that order); where a run goes is hashed.
  const uint64_t run = Mix((id >> kRunBits) ^ m_key) << kRunBits;
  return static_cast<size_t>(run | (id & ((1u << kRunBits) - 1))) & (m_index.size() - 1);
}

size_t DedupeAnswerStore::Probe(uint32_t id) const {
  const size_t mask = m_index.size() - 1;
  size_t at = Home(id);
  while (m_index[at].head != kNone && m_index[at].id != id) at = (at + 1) & mask;
  return at;
}

void DedupeAnswerStore::Grow() {
  decltype(m_index) old;
  old.swap(m_index);
  m_index.assign(old.empty() ? kFirstIndexSize : old.size() * 2, Entry{0, kNone});
  for (const Entry& entry : old)
    if (entry.head != kNone) m_index[Probe(entry.id)] = entry;
}

void DedupeAnswerStore::EraseAt(size_t at) {
  const size_t mask = m_index.size() - 1;
  size_t hole = at;
  for (size_t next = (hole + 1) & mask; m_index[next].head != kNone; next = (next + 1) & mask) {
    const size_t home = Home(m_index[next].id);
    // The entry may move back into the hole unless its home lies after the
    // hole (cyclically) and at or before the entry itself.
    const bool stays = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (stays) continue;
    m_index[hole] = m_index[next];
    hole = next;
  }
  m_index[hole].head = kNone;
}

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
  ++m_size;
  if ((m_ids + 1) * 2 > m_index.size()) Grow();
  const uint32_t id = answer.response.uUniqueId;
  Entry& entry = m_index[Probe(id)];
  if (entry.head == kNone) {
    entry.id = id;
    entry.head = slot;
    ++m_ids;
    return;
  }
  // An id stored again (rare): behind the answers it already has.
  uint32_t last = entry.head;
  while (m_slots[last].next != kNone) last = m_slots[last].next;
  m_slots[last].next = slot;
}

bool DedupeAnswerStore::Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer) {
  if (m_ids == 0) return false;
  const size_t at = Probe(uniqueId);
  if (m_index[at].head == kNone) return false;
  const uint32_t slot = m_index[at].head;
  answer = m_slots[slot].answer.response;
  const uint32_t next = m_slots[slot].next;
  if (next == kNone) {
    EraseAt(at);
    --m_ids;
  } else {
    m_index[at].head = next;
  }
  m_slots[slot].next = m_free;
  m_free = slot;
  --m_size;
  // A burst of answers, now all taken: its memory goes back.
  if (m_size == 0 && m_slots.capacity() > kKeptSlots) Clear();
  return true;
}

void DedupeAnswerStore::Clear() {
  decltype(m_slots)().swap(m_slots);
  m_free = kNone;
  decltype(m_index)().swap(m_index);
  m_ids = 0;
  m_size = 0;
}

template struct DedupeAnswerStore::HugePageAllocator<DedupeAnswerStore::Slot>;
template struct DedupeAnswerStore::HugePageAllocator<DedupeAnswerStore::Entry>;
