#include "EvDebug.h"

#include <cstdio>
#include <string>

#include "FXLogWriter.h"

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) {
  FXLogWriter* writer = g_ptrLogWriter.get();
  if (!writer || !writer->IsEnabled(level)) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const FXCodeLocation location(__FILE__, function ? function : "", 0);
  const uint64_t job = getJobId();
  if (job)
    writer->Write(level, location, "[job %llu] %s", static_cast<unsigned long long>(job), text);
  else
    writer->Write(level, location, "%s", text);
}
