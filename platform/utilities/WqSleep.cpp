#include "WqSleep.h"

#include "FXClock.h"

void WQSLEEP_InTeRnAl(uint32_t milliseconds, const char* file, int line) {
  (void)file;
  (void)line;
  FXGetClock().SleepMs(milliseconds);
}
