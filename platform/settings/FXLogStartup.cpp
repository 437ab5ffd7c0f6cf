#include "FXLogStartup.h"

#include <string>

#include "KXPlatformInfo.h"

boost::shared_ptr<FXLogWriter> FXLogWriterFromSettings() {
  boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
  unsigned long level = 0, mask = 0;
  std::string file;
  KXPlatformInfo settings;
  if (settings.getNumber("FileSystemAgent", "ProxyLogLevel", &level)) writer->SetLevel(static_cast<int>(level));
  if (settings.getNumber("FileSystemAgent", "ProxyLogMask", &mask)) writer->SetCategoryMask(static_cast<uint32_t>(mask));
  if (settings.getString("FileSystemAgent", "ProxyLogFile", &file)) writer->SetDestination(file);
  writer->ApplyEnvironment();
  return writer;
}

void FXConfigureLogWriter() { g_ptrLogWriter = FXLogWriterFromSettings(); }

namespace {

// At load time, right after g_ptrLogWriter itself (priority 101, see
// FXLogWriter.cpp). A constructor function rather than a global's initialiser:
// both run in priority order, and only the latter counts as a dynamic
// initialiser that reads another file's global.
__attribute__((constructor(102))) void ConfigureLogWriterAtLoad() { FXConfigureLogWriter(); }

}  // namespace
