// EvDebug: the debug-log facility of the deduplication managers. Each line
// goes into the process-wide log writer (FXLogWriter.h) with the level it is
// given (-1 always written) and the function name it is given, prefixed by
// the job id once one is set. Nothing is written to a file of its own: the
// file instance is accepted for the callers' sake and not used.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

class EvDebug {
 public:
  explicit EvDebug(void* fileInstance = nullptr) : m_ullJobId(0) { (void)fileInstance; }

  void setJobId(uint64_t jobId) { m_ullJobId.store(jobId, std::memory_order_relaxed); }
  uint64_t getJobId() const { return m_ullJobId.load(std::memory_order_relaxed); }

  void DebugLvl(const char* function, int level, const char* format, ...) __attribute__((format(printf, 4, 5)));

 private:
  std::atomic<uint64_t> m_ullJobId;  // set by the host thread, read by a listener
};
