// KXJobPerfManager: the job performance manager's interface for counters.
//
// A host owns a _JobPerfCounterCollection and hands it to whoever publishes
// counters; UpdateCounter appends the counter as given (already in network
// order), so the collection records every update in order for the host (and
// for tests) to read back. ConvertToNBO turns a counter built in the host's
// byte order into network (big-endian) order in place.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "ClSignatureRecords.h"

struct _JobPerfCounterCollection {
  // Every counter added, in order. Guarded by `mutex`: the host thread and
  // a signature-query module may publish at once.
  std::vector<_JobPerfCounter> counters;
  mutable std::mutex mutex;

  std::vector<_JobPerfCounter> Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex);
    return counters;
  }
};

class KXJobPerfManager {
 public:
  static void ConvertToNBO(_JobPerfCounter& counter);
  // 0 when added; -1 for a null collection or counter.
  static int UpdateCounter(_JobPerfCounterCollection* collection, const _JobPerfCounter* counter);
};
