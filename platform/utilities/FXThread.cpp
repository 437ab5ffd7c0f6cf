#include "FXThread.h"

#include "FXClock.h"

void FXThread::Sleep(uint32_t milliseconds) { FXGetClock().SleepMs(milliseconds); }

int64_t FXTime() { return FXGetClock().UnixTime(); }
