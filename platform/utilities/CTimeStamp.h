// A point in time as a signed 64-bit count of 100-nanosecond ticks since
// 1601-01-01.
#pragma once

#include <cstdint>

class CTimeStamp {
 public:
  // Ticks from 1601-01-01 to 1970-01-01.
  static constexpr int64_t kUnixEpochTicks = 0x019DB1DED53E8000LL;

  explicit CTimeStamp(int64_t ticks = 0) : m_iTicks(ticks) {}

  // Unix time 0 stays 0 (an unset time), not the 1970 tick count.
  static int64_t FromUnixTime(int64_t t) { return t == 0 ? 0 : t * 10000000LL + kUnixEpochTicks; }

  int64_t Ticks() const { return m_iTicks; }

 private:
  int64_t m_iTicks;
};
