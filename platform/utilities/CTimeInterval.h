// A span of time, passed by value to timed waits.
#pragma once

#include <cstdint>

class CTimeInterval {
 public:
  explicit CTimeInterval(int64_t milliseconds = 0) : m_iMilliseconds(milliseconds) {}
  ~CTimeInterval() {}
  int64_t Milliseconds() const { return m_iMilliseconds; }

 private:
  int64_t m_iMilliseconds;
};
