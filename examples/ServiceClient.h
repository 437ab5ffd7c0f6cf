// ServiceClient: what the service modes of the example host share. A
// temporary settings store, the run's output folder, the simulated client daemon's
// service side over a folder that stands for the client's file system
// (<output>/client), and the client's record pointing at it. The cached
// service instances and their release thread go when it does, before the
// daemon.
#pragma once

#include <string>

#include "CWqError.h"
#include "ExampleOptions.h"
#include "ExampleFiles.h"
#include "SimServiceDaemon.h"

class ServiceClient {
 public:
  ServiceClient() = default;
  ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  // Settings, output folder, client folder; then the daemon, configured by
  // the caller between Prepare and Start.
  CWqError Prepare(const ExampleOptions& options);
  CWqError Start();

  SimServiceDaemon& daemon() { return m_daemon; }
  const std::string& outputDir() const { return m_sOutputDir; }
  const std::string& clientFolder() const { return m_sClientFolder; }

 private:
  ExampleSettingsStore m_settingsRoot;
  std::string m_sOutputDir;
  std::string m_sClientFolder;
  SimServiceDaemon m_daemon;
  bool m_bStarted = false;
};
