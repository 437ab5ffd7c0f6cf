// WQSLEEP_InTeRnAl: the platform's pause, on the platform clock (FXClock.h),
// so that a test's virtual clock makes it return at once. `file` and `line`
// name the caller for the platform's own tracing.
#pragma once

#include <cstdint>

void WQSLEEP_InTeRnAl(uint32_t milliseconds, const char* file, int line);
