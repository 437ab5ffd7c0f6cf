#include "ClProxyClientConnection.h"

#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "ClClientManager.h"
#include "EvEvent.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXThread.h"
#include "KXPlatformInfo.h"

std::atomic<int32_t> ClProxyClientConnection::iTimeOutSeconds(-1);

ClProxyClientConnection::ClProxyClientConnection() {}

ClProxyClientConnection::~ClProxyClientConnection() {}

int32_t ClProxyClientConnection::PauseSeconds() {
  int32_t seconds = iTimeOutSeconds.load();
  if (seconds != -1) return seconds;
  unsigned long configured = 0;
  KXPlatformInfo settings;
  if (!settings.getNumber("FileSystemAgent", "nTimeOutSecondsBetweenClientConnectCheck", &configured) ||
      configured == 0)
    seconds = 2;
  else if (configured > static_cast<unsigned long>(kMaxPauseSeconds))
    seconds = kMaxPauseSeconds;
  else
    seconds = static_cast<int32_t>(configured);
  // Threads racing here read the same setting; the first value stored wins.
  int32_t expected = -1;
  if (!iTimeOutSeconds.compare_exchange_strong(expected, seconds)) seconds = expected;
  return seconds;
}

void ClProxyClientConnection::ResetPauseSeconds() { iTimeOutSeconds.store(-1); }

CWqError ClProxyClientConnection::connectOnce(const CWqIPAddr& address) {
  CWqSocket& socket = getConnectionSocket();
  socket.Clear();
  CWqError result = socket.Create(AF_INET);
  if (!result.IsError()) result = socket.Connect(address);
  if (result.IsError()) socket.Clear();
  return result;
}

CWqError ClProxyClientConnection::connectToClient(const std::string& host, uint16_t port, int32_t velliconId,
                                                  int32_t appId, int32_t clientId, bool noManage) {
  if (remoteHost() == host && getConnectionSocket().IsValid()) return CWqError::Success();
  // A link to another host is not kept: it would pass for a link to this one.
  getConnectionSocket().Clear();
  setRemoteHost(host);

  std::unique_ptr<ClClientManager> manager;
  if (clientId != 0) {
    FX_LOG_CAT(4, FX_LOG_CATEGORY_CONNECTION, "using ClClientManager( %s, %d, %d )", host.c_str(),
               static_cast<int>(port), static_cast<int>(clientId));
    manager.reset(new ClClientManager(host, port, clientId));
  } else if (velliconId != 0 && appId != 0) {
    FX_LOG_CAT(4, FX_LOG_CATEGORY_CONNECTION, "using ClClientManager( %s, %d, %d, %d )", host.c_str(),
               static_cast<int>(port), static_cast<int>(velliconId), static_cast<int>(appId));
    manager.reset(new ClClientManager(host, port, velliconId, appId));
  }

  if (manager && !noManage) {
    EvEvent event;
    CWqError checked = manager->checkAndStart(&event, 0);
    if (checked.IsError()) {
      checked.Push(FX_HERE);
      return checked;
    }
  }

  FX_LOG_CAT(2, FX_LOG_CATEGORY_CONNECTION, "Will connect to client host [%s] port %u", host.c_str(),
             static_cast<unsigned>(port));

  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName(host, address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(port);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }

  int retries = 1;
  int starts = 2;
  for (;;) {
    result = connectOnce(address);
    if (result.IsError())
      FX_LOG(-1, "Failed to connect to (%s, %u), error='%s'", host.c_str(), static_cast<unsigned>(port),
             result.AsString().c_str());
    if (!result.IsError() || !FXErrorUtil::IsErrNo(result, ECONNREFUSED) || retries-- == 0 || noManage) break;
    if (manager && retries == 0 && starts-- > 0) {
      CWqError started = manager->startClient();
      if (started.IsError()) {
        started.Push(FX_HERE);
        return started;
      }
      retries = 3;
    }
    if (!manager || retries == 0) break;
    FXThread::Sleep(static_cast<uint32_t>(PauseSeconds()) * 1000u);
  }

  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to connect to server");
    return result;
  }
  FX_LOG_CAT(4, FX_LOG_CATEGORY_CONNECTION, "Connected to server, serverHost=%s, serverPort=%d, connFd=%s\n",
             host.c_str(), static_cast<int>(port), getConnectionSocket().GetSocketDescriptor().AsString().c_str());
  return CWqError::Success();
}
