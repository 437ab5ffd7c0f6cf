// ClProxySrvConnection: a message link opened by listening. initServer binds
// (and listens); acceptClient takes one peer into the connection socket, over
// which messages then flow like on any ClProxyConnection. The listening
// socket stays open until the object goes.
//
// Port 0 means a random free port of the range "ProxyClients" /
// "dynamicPortRange" ("<from>-<to>", the upper bound excluded, each port
// tried at most once), or a port the system chooses when no valid range is
// configured. An empty host means all interfaces, as does a host that does
// not resolve. Backlog 0 binds without listening. Only a fixed port is bound
// with SO_REUSEADDR.
#pragma once

#include <cstdint>
#include <string>

#include "CWqError.h"
#include "CWqSocket.h"
#include "ClProxyConnection.h"

class ClProxySrvConnection : public ClProxyConnection {
 public:
  ClProxySrvConnection();
  ~ClProxySrvConnection() override;

  virtual CWqError initServer(uint16_t port);
  virtual CWqError initServer(const std::string& host, uint16_t port);
  virtual CWqError initServer(uint16_t backlog, uint16_t port);
  // The full form; the three short ones call it through the virtual table.
  virtual CWqError initServer(const std::string& host, uint16_t backlog, uint16_t port);
  // Waits up to `seconds` (below 1: without limit) for one peer. No peer in
  // time: errno 62. A connection accepted before is replaced.
  virtual CWqError acceptClient(int seconds);

  // The listening socket, so that the owner can read the bound port.
  CWqSocket& getProxySocket() { return proxyListenSocket; }

 private:
  CWqSocket proxyListenSocket;
};
