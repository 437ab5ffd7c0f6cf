// ClClientManager: the deployment manager of one IBM i or OpenVMS client.
// The connector to the client daemon builds one for each managed connect and
// asks it to make the client software present and current (checkAndStart)
// and, when the client host refuses the connection, to start the daemon
// (startClient).
//
// The deployment work itself (installation check, installation, update,
// daemon start over ssh) is not there yet: a manager makes no remote action.
// checkAndStart lets every connect go ahead, so the client software must
// already run; startClient fails, so a refused connect fails at once.
//
// Test seam: while hooks are installed (SetHooks), each new manager reports
// itself to them and its two operations answer what the hooks say.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CWqError.h"
#include "EvEvent.h"

class ClClientManager;

class ClClientManagerHooks {
 public:
  virtual ~ClClientManagerHooks() {}
  virtual void created(const ClClientManager& manager) {}
  virtual CWqError checkAndStart(const ClClientManager& manager, long long jobId) = 0;
  virtual CWqError startClient(const ClClientManager& manager) = 0;
  virtual CWqError stopClient(const ClClientManager& manager) { return CWqError::Success(); }
};

class ClClientManager {
 public:
  // A manager found through the subclient (client id resolved later).
  ClClientManager(const std::string& host, uint16_t port, int velliconId, int appId);
  // A manager of a known client.
  ClClientManager(const std::string& host, uint16_t port, int clientId);
  virtual ~ClClientManager();
  ClClientManager(const ClClientManager&) = delete;
  ClClientManager& operator=(const ClClientManager&) = delete;

  // Success lets the connect go ahead; a failure ends it.
  CWqError checkAndStart(EvEvent* event, long long jobId);
  // Success means a new connect may succeed; a failure ends the connect.
  CWqError startClient();
  // Stops the client software on the client.
  CWqError stopClient();

  const std::string& getHost() const { return host; }
  uint16_t getPort() const { return port; }
  int getVelliconId() const { return velliconId; }
  int getAppId() const { return appId; }
  int getClientId() const { return clientId; }

  // Installs hooks for the managers built from now on; null removes them.
  static void SetHooks(std::shared_ptr<ClClientManagerHooks> hooks);

 private:
  std::string host;
  uint16_t port;
  int velliconId;
  int appId;
  int clientId;
  std::shared_ptr<ClClientManagerHooks> m_hooks;  // those in force when built
};
