// A point in time as a signed 64-bit count of 100-nanosecond ticks since
// 1601-01-01.
#pragma once

#include <cstdint>
#include <limits>

class CTimeStamp {
 public:
  // Ticks from 1601-01-01 to 1970-01-01.
  static constexpr int64_t kUnixEpochTicks = 0x019DB1DED53E8000LL;
  static constexpr int64_t kTicksPerSecond = 10000000LL;

  explicit CTimeStamp(int64_t ticks = 0) : m_iTicks(ticks) {}

  // Unix time 0 stays 0 (an unset time), not the 1970 tick count. A time
  // whose tick count does not fit in 64 bits saturates at the nearest end.
  static int64_t FromUnixTime(int64_t t) {
    if (t == 0) return 0;
    const int64_t kMax = std::numeric_limits<int64_t>::max();
    const int64_t kMin = std::numeric_limits<int64_t>::min();
    if (t > (kMax - kUnixEpochTicks) / kTicksPerSecond) return kMax;
    if (t < kMin / kTicksPerSecond) return kMin;
    return t * kTicksPerSecond + kUnixEpochTicks;
  }

  int64_t Ticks() const { return m_iTicks; }

 private:
  int64_t m_iTicks;
};
