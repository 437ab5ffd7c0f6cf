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

// At load time, after g_ptrLogWriter itself (built first, see FXLogWriter.cpp).
const bool g_logWriterConfigured = (FXConfigureLogWriter(), true);

}  // namespace
