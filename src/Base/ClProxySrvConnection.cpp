#include "ClProxySrvConnection.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "CWqSocketSelector.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"

namespace {

// The candidate ports of the configured range: from, from + 1, ..., to - 1.
// An empty table when no valid range is configured; errno 12 when the table
// cannot be allocated.
CWqError ReadPortRange(std::unique_ptr<uint16_t[]>& table, uint32_t& count) {
  table.reset();
  count = 0;
  std::string range;
  KXPlatformInfo settings;
  if (!settings.getString("ProxyClients", "dynamicPortRange", &range) || range.empty())
    return CWqError::Success();
  unsigned from = 0, to = 0;
  if (std::sscanf(range.c_str(), "%u-%u", &from, &to) < 2) {
    FX_LOG(-1, "Port range value for dynamicPortRange is invalid. Use <from>-<to>.");
    return CWqError::Success();
  }
  if (!(1 <= from && from < to && to <= 65535)) {
    FX_LOG(-1,
           "Port range value for dynamicPortRange is invalid. Use <from>-<to>. From minimal is 1, and To maximum "
           "is 65535.");
    return CWqError::Success();
  }
  const uint32_t size = to - from;
  table.reset(new (std::nothrow) uint16_t[size]);
  if (!table) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "Memory allocation error");
  for (uint32_t i = 0; i < size; ++i) table[i] = static_cast<uint16_t>(from + i);
  count = size;
  FX_LOG_CAT(2, FX_LOG_CATEGORY_CONNECTION, "Using ports %d-%d to establish connection from client.",
             static_cast<int>(from), static_cast<int>(to));
  return CWqError::Success();
}

}  // namespace

ClProxySrvConnection::ClProxySrvConnection() {}

ClProxySrvConnection::~ClProxySrvConnection() {
  if (proxyListenSocket.IsValid()) proxyListenSocket.Clear();
}

CWqError ClProxySrvConnection::initServer(uint16_t port) { return initServer("", 5, port); }

CWqError ClProxySrvConnection::initServer(const std::string& host, uint16_t port) {
  return initServer(host, 5, port);
}

CWqError ClProxySrvConnection::initServer(uint16_t backlog, uint16_t port) { return initServer("", backlog, port); }

CWqError ClProxySrvConnection::initServer(const std::string& host, uint16_t backlog, uint16_t port) {
  initUseRecvWithTimeout();

  std::unique_ptr<uint16_t[]> candidates;
  uint32_t candidateCount = 0;
  if (port == 0) {
    CWqError result = ReadPortRange(candidates, candidateCount);
    if (result.IsError()) {
      result.Push(FX_HERE);
      return result;
    }
  }

  CWqIPAddr listenAddress = CWqIPAddr::AnyAddress(AF_INET);
  if (!host.empty()) {
    CWqIPAddr resolved;
    CWqError result = CWqIPAddr::GetByName(host, resolved, AF_INET);
    if (result.IsError())
      FX_LOG(-1,
             "Failed resolve host name '%s'. Will use all interfaces to listed on incoming connection from proxy. "
             "(%s)",
             host.c_str(), result.AsString().c_str());
    else
      listenAddress = resolved;
  }
  const bool reuseAddress = port != 0;

  for (uint32_t attempt = 1;; ++attempt) {
    const bool lastAttempt = candidateCount == 0 || attempt >= candidateCount;
    uint16_t tryPort = port;
    if (candidateCount != 0) {
      uint32_t index;
      do {
        index = static_cast<uint32_t>(std::rand()) % candidateCount;
      } while (candidates[index] == 0);
      tryPort = candidates[index];
      FX_LOG_CAT(3, FX_LOG_CATEGORY_CONNECTION, "Peek port %d", static_cast<int>(tryPort));
      candidates[index] = 0;
    }

    CWqIPAddr address = listenAddress;
    CWqError result = address.SetPortNumber(tryPort);
    if (result.IsError()) {
      result.Push(FX_HERE);
      return result;
    }

    // A socket of a failed attempt is closed here before the next one.
    proxyListenSocket.Clear();
    result = proxyListenSocket.Create(address.GetAddressFamily());
    if (result.IsError()) {
      if (lastAttempt) {
        result.Push(FX_HERE, "Failed create socket");
        return result;
      }
      FX_LOG_CAT(3, FX_LOG_CATEGORY_CONNECTION, "failed to use port %d", static_cast<int>(tryPort));
      continue;
    }
    if (reuseAddress) {
      result = proxyListenSocket.SetSockOpt(SOL_SOCKET, SO_REUSEADDR, 1);
      if (result.IsError()) {
        result.Push(FX_HERE, "Failed to set socket option");
        return result;
      }
    }
    FX_LOG_CAT(3, FX_LOG_CATEGORY_CONNECTION, "Calling bind for port %d", static_cast<int>(tryPort));
    result = proxyListenSocket.Bind(address);
    if (result.IsError()) {
      if (lastAttempt) {
        result.Push(FX_HERE, "Failed to bind socket");
        return result;
      }
      proxyListenSocket.Clear();
      continue;
    }
    if (tryPort != 0)
      FX_LOG_CAT(2, FX_LOG_CATEGORY_CONNECTION, "Using port %d to establish connection.", static_cast<int>(tryPort));
    if (backlog != 0) {
      result = proxyListenSocket.Listen(backlog);
      if (result.IsError()) {
        result.Push(FX_HERE, "Listen() call failed");
        return result;
      }
    }
    return CWqError::Success();
  }
}

CWqError ClProxySrvConnection::acceptClient(int seconds) {
  FX_ASSUME(proxyListenSocket.GetSocketDescriptor() >= 0);
  if (proxyListenSocket.GetSocketDescriptor() < 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "No listening socket to accept a connection on");

  if (seconds >= 1) {
    CWqSocketSelector selector;
    selector.SetReadSocket(proxyListenSocket);
    selector.SetExceptionSocket(proxyListenSocket);
    for (;;) {
      bool timedOut = false;
      CWqError result = selector.Select(seconds, &timedOut);
      if (FXErrorUtil::IsErrNo(result, EINTR)) continue;
      if (result.IsError()) {
        result.Push(FX_HERE, "select call failed");
        return result;
      }
      if (timedOut)
        return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "no connection request received from the client");
      if (selector.IsExceptionSelected(proxyListenSocket))
        return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "exception detected on socket %s",
                                       proxyListenSocket.GetSocketDescriptor().AsString().c_str());
      break;
    }
  }

  CWqSocket& connection = getConnectionSocket();
  connection.Clear();
  CWqError result = proxyListenSocket.Accept(connection);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to accept connection on socket");
    return result;
  }
  CWqIPAddr peer, local;
  (void)connection.GetPeerAddress(peer);
  (void)proxyListenSocket.GetLocalAddress(local);
  FX_LOG_CAT(2, FX_LOG_CATEGORY_CONNECTION, "Connected from client:%s:%d on port %ld socket:%s", peer.AsString().c_str(),
             static_cast<int>(peer.GetPortNumber()), static_cast<long>(local.GetPortNumber()),
             connection.GetSocketDescriptor().AsString().c_str());
  return CWqError::Success();
}
