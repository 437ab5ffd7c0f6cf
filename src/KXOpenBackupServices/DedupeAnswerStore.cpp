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

size_t DedupeAnswerStore::Probe(uint32_t id, size_t* freeAt) const {
  const size_t mask = m_index.size() - 1;
  size_t at = Home(id);
  if (freeAt) *freeAt = kNoPlace;
  for (;; at = (at + 1) & mask) {
    const Entry& entry = m_index[at];
    if (entry.head == kNone) break;
    if (entry.head == kGone) {
      if (freeAt && *freeAt == kNoPlace) *freeAt = at;
      continue;
    }
    if (entry.id == id) return at;
  }
  if (freeAt && *freeAt == kNoPlace) *freeAt = at;
  return kNoPlace;
}

void DedupeAnswerStore::Rebuild() {
  // Twice the size when live ids fill a quarter, else the same size with
  // the removed entries dropped.
  const size_t size = m_index.empty() ? kFirstIndexSize
                      : (m_ids + 1) * 4 > m_index.size() ? m_index.size() * 2 : m_index.size();
  decltype(m_index) old;
  old.swap(m_index);
  m_index.assign(size, Entry{0, kNone});
  m_gone = 0;
  const size_t mask = size - 1;
  for (const Entry& entry : old) {
    if (entry.head == kNone || entry.head == kGone) continue;
    size_t at = Home(entry.id);
    while (m_index[at].head != kNone) at = (at + 1) & mask;
    m_index[at] = entry;
  }
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
  if ((m_ids + m_gone + 1) * 2 > m_index.size()) Rebuild();
  const uint32_t id = answer.response.uUniqueId;
  size_t freeAt = kNoPlace;
  const size_t at = Probe(id, &freeAt);
  if (at == kNoPlace) {
    Entry& entry = m_index[freeAt];
    if (entry.head == kGone) --m_gone;
    entry.id = id;
    entry.head = slot;
    ++m_ids;
    return;
  }
  // An id stored again (rare): behind the answers it already has.
  uint32_t last = m_index[at].head;
  while (m_slots[last].next != kNone) last = m_slots[last].next;
  m_slots[last].next = slot;
}

bool DedupeAnswerStore::Take(uint32_t uniqueId, SIDBQueryAndInsertSignaturesResponseParam& answer) {
  if (m_ids == 0) return false;
  const size_t at = Probe(uniqueId, nullptr);
  if (at == kNoPlace) return false;
  const uint32_t slot = m_index[at].head;
  answer = m_slots[slot].answer.response;
  const uint32_t next = m_slots[slot].next;
  if (next == kNone) {
    // Marked removed rather than closed up: taking answers in the order
    // they came would otherwise move the rest of their run each time.
    m_index[at].head = kGone;
    --m_ids;
    ++m_gone;
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
  m_gone = 0;
  m_size = 0;
}

template struct DedupeAnswerStore::HugePageAllocator<DedupeAnswerStore::Slot>;
template struct DedupeAnswerStore::HugePageAllocator<DedupeAnswerStore::Entry>;
