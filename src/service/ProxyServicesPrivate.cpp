// A service instance's life and its connection to the client daemon.
#include "ProxyServicesPrivate.h"

#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "EvEvent.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXClient.h"
#include "KXPI_Focus.h"
#include "ProxyEventIds.h"

namespace {
std::atomic<int> g_createIndexSeconds(30);
std::atomic<int> g_drainSeconds(5);
}  // namespace

void ProxyServicesPrivate::SetFixedWaits(int createIndexSeconds, int drainSeconds) {
  g_createIndexSeconds.store(createIndexSeconds);
  g_drainSeconds.store(drainSeconds);
}

int ProxyServicesPrivate::CreateIndexSeconds() { return g_createIndexSeconds.load(); }

ProxyServicesPrivate::ProxyServicesPrivate(int32_t shareKey, int32_t clientId)
    : m_iShareKey(shareKey), m_iClientId(clientId), m_tReleaseTime(0), m_iHandles(0), m_bConnected(false) {}

ProxyServicesPrivate::~ProxyServicesPrivate() { disconnectFromClient(); }

bool ProxyServicesPrivate::linkOpen() { return m_pConnection && m_pConnection->getConnectionSocket().IsValid(); }

void ProxyServicesPrivate::syncConnected() { m_bConnected.store(linkOpen(), std::memory_order_release); }

void ProxyServicesPrivate::closeLink() {
  if (m_pConnection && m_pConnection->getConnectionSocket().IsValid()) {
    CWqSocket& socket = m_pConnection->getConnectionSocket();
    socket.Shutdown(SHUT_RDWR);
    socket.Close();
  }
  syncConnected();
}

void ProxyServicesPrivate::deleteLink() {
  m_pConnection.reset();
  syncConnected();
}

CWqError ProxyServicesPrivate::disconnectFromClient() {
  auto_lock lock(&m_mutex);
  if (m_pConnection) {
    CWqSocket& socket = m_pConnection->getConnectionSocket();
    if (socket.IsValid()) {
      socket.Shutdown(0);
      socket.Close();
    }
    deleteLink();
  }
  return CWqError::Success();
}

bool ProxyServicesPrivate::checkOpenLink(uint16_t port, CWqError& failure) {
  CWqSocket& socket = m_pConnection->getConnectionSocket();
  CWqIPAddr peer;
  CWqError result = socket.GetPeerAddress(peer);
  if (result.IsError()) {
    FX_LOG(3, "Closing connect due to error in GetPeerAddress:%s", result.AsString().c_str());
    closeLink();
    return false;
  }

  std::vector<CWqIPAddr> expected;
  result = CWqIPAddr::GetAllByName(m_sHostName, expected, peer.GetAddressFamily());
  if (result.IsError()) {
    failure = result;
    failure.Push(FX_HERE, "Failed to use client's host name '%s' of client ID [%d]:%s", m_sHostName.c_str(),
                 m_iClientId, result.AsString().c_str());
    return true;
  }
  // Any address of the host will do: a host with several addresses may
  // list them in another order each time.
  bool matched = false;
  for (CWqIPAddr& address : expected) {
    address.SetPortNumber(port);
    if (!(address != peer)) matched = true;
  }
  if (!matched) {
    FX_LOG(3, "Closing connect due to address mismatch: current connection to %s:%d, expected %s:%d",
           peer.AsString().c_str(), static_cast<int>(peer.GetPortNumber()), expected.front().AsString().c_str(),
           static_cast<int>(port));
    closeLink();
    // The daemon on the expected host is stopped; its result is not needed.
    ClClientManager manager(m_sHostName, port, m_iClientId);
    manager.stopClient();
    return false;
  }

  // Drain what the daemon sent while the link was idle, then probe it.
  for (int drained = 0; socket.IsValid(); ++drained) {
    ClProxyMsgHeader header;
    result = m_pConnection->peekMessageHeader(header, -1);
    if (result.IsError() && FXErrorUtil::IsInt(result, 1)) {
      FX_LOG(3, "message check failed:%s", result.AsString().c_str());
      closeLink();
      break;
    }
    if (result.IsError()) {
      ClEmptyMsg probe(SERVICE_CHECK_MSG);
      for (int sent = 0; sent < 2; ++sent) {
        CWqError sendResult = m_pConnection->sendMessage(&probe);
        if (sendResult.IsError()) {
          FX_LOG(3, "Service check message send failed:%s", sendResult.AsString().c_str());
          closeLink();
          break;
        }
      }
      break;
    }
    if (header.getMsgType() == DISCONNECT_MSG) {
      FX_LOG(0, "Received disconnect message. Will reconnect.");
      closeLink();
      break;
    }
    if (drained == kMaxDrained) {
      FX_LOG(-1, "More than %d messages waiting on the service connection. Will reconnect.", kMaxDrained);
      closeLink();
      break;
    }
    ClProxyMsg* waiting = nullptr;
    result = m_pConnection->recvMessage(waiting, g_drainSeconds.load());
    delete waiting;
    if (result.IsError() && FXErrorUtil::IsErrNo(result, ETIME)) {
      // Part of a message came and the rest did not: the link is out of step.
      FX_LOG(3, "Waiting message not received:%s. Will reconnect.", result.AsString().c_str());
      closeLink();
      break;
    }
  }
  syncConnected();
  return socket.IsValid();
}

CWqError ProxyServicesPrivate::connectToClient(KXJobID jobId, bool noManage, bool sendCriticalEvent) {
  auto_lock lock(&m_mutex);
  if (!m_pConnection) m_pConnection.reset(new ClProxyClientConnection());

  KXClient client(0, m_iClientId);
  if (!client.getClientProperties(nullptr)) {
    deleteLink();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Failed to get client properties. Client ID [%d]", m_iClientId);
  }
  uint16_t port = kDefaultDaemonPort;
  uint64_t recordPort = 0;
  if (client.getKXDPort(recordPort, nullptr) == 0 && recordPort != 0) {
    // Cut to 16 bits it would name some other port.
    if (recordPort > 65535)
      FX_LOG(-1, "Port set to %llu, beyond the port range. Using default value %d",
             static_cast<unsigned long long>(recordPort), static_cast<int>(kDefaultDaemonPort));
    else
      port = static_cast<uint16_t>(recordPort);
  }
  client.getDisplayName(m_sDisplayName, nullptr);
  std::string hostName;
  if (client.getNetworkHostname(hostName, nullptr) != 0) {
    deleteLink();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Failed to get proxy host name. Client ID [%d]", m_iClientId);
  }
  m_sHostName = hostName;
  FX_LOG(3, "For clientID:%d hostname is '%s'", m_iClientId, m_sHostName.c_str());

  if (m_pConnection->getConnectionSocket().IsValid()) {
    CWqError failure;
    const bool keep = checkOpenLink(port, failure);
    if (failure.IsError()) return failure;
    if (keep) return CWqError::Success();
  }

  CWqError result = m_pConnection->connectToClient(m_sHostName, port, 0, 0, m_iClientId, noManage);
  if (result.IsError()) {
    if (sendCriticalEvent) {
      EvEvent event;
      KXPI_Focus::setFocus(KXPI_Focus::getFocus());
      event << m_sHostName.c_str();
      event.CriticalEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_SERVICES_UNREACHABLE), jobId, 0);
    }
    FX_LOG(-1, "connectToClient failed. %s", result.AsString().c_str());
    deleteLink();
    result.Push(FX_HERE);
    return result;
  }
  ClLaunchCmdMsg launch(0, "SERVICE");
  result = m_pConnection->sendMessage(&launch);
  if (result.IsError()) {
    deleteLink();
    result.Push(FX_HERE);
    return result;
  }
  syncConnected();
  return CWqError::Success();
}
