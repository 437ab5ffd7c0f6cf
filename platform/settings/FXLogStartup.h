// Start-up of the process-wide log writer from the settings store.
//
// The log writer (platform/errors) reads only the environment; this layer,
// which itself logs through the writer, adds the settings values
// "FileSystemAgent" / "ProxyLogLevel", "ProxyLogMask", "ProxyLogFile", each
// overridden by the environment ("PROXY_LOG_LEVEL", "PROXY_LOG_MASK",
// "PROXY_LOG_FILE"). FXConfigureLogWriter runs once when the library is
// loaded; a process may run it again after changing its settings.
#pragma once

#include <boost/shared_ptr.hpp>

#include "FXLogWriter.h"

// A writer configured from the settings store, then the environment.
boost::shared_ptr<FXLogWriter> FXLogWriterFromSettings();

// Installs FXLogWriterFromSettings() as g_ptrLogWriter.
void FXConfigureLogWriter();
