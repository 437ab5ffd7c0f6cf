// Thread utilities of the platform. Sleeps go through the process-wide clock
// (FXClock.h), so tests run them on a virtual clock.
#pragma once

#include <cstdint>

class FXThread {
 public:
  static void Sleep(uint32_t milliseconds);
};

// time() of the platform clock.
int64_t FXTime();
