#include "KXJobPerfManager.h"

#include <cstring>

#include "ClProxyWire.h"

namespace {

template <typename T>
void ToNetwork(T& value) {
  uint8_t bytes[sizeof(T)];
  if (sizeof(T) == 4)
    ClProxyWire::PutU32(bytes, static_cast<uint32_t>(value));
  else
    ClProxyWire::PutU64(bytes, static_cast<uint64_t>(value));
  std::memcpy(&value, bytes, sizeof(T));
}

}  // namespace

void KXJobPerfManager::ConvertToNBO(_JobPerfCounter& counter) {
  for (uint32_t* field : {&counter.uKind, &counter.uGroup, &counter.uTimeStamp, &counter.uValue, &counter.uZero16,
                          &counter.uValue2, &counter.uZero24, &counter.uZero28})
    ToNetwork(*field);
  ToNetwork(counter.ullValue);
  ToNetwork(counter.ullZero104);
}

int KXJobPerfManager::UpdateCounter(_JobPerfCounterCollection* collection, const _JobPerfCounter* counter) {
  if (!collection || !counter) return -1;
  std::lock_guard<std::mutex> lock(collection->mutex);
  collection->counters.push_back(*counter);
  return 0;
}
