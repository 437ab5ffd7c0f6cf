#include "ClClientManager.h"

#include <mutex>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyEventIds.h"

namespace {

std::mutex g_hooksMutex;
std::shared_ptr<ClClientManagerHooks>& HooksSlot() {
  static std::shared_ptr<ClClientManagerHooks> hooks;
  return hooks;
}

std::shared_ptr<ClClientManagerHooks> CurrentHooks() {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  return HooksSlot();
}

}  // namespace

void ClClientManager::SetHooks(std::shared_ptr<ClClientManagerHooks> hooks) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  HooksSlot() = std::move(hooks);
}

ClClientManager::ClClientManager(const std::string& host, uint16_t port, int velliconId, int appId)
    : host(host), port(port), velliconId(velliconId), appId(appId), clientId(0),
      m_hooks(CurrentHooks()) {
  if (m_hooks) m_hooks->created(*this);
}

ClClientManager::ClClientManager(const std::string& host, uint16_t port, int clientId)
    : host(host), port(port), velliconId(0), appId(0), clientId(clientId),
      m_hooks(CurrentHooks()) {
  if (m_hooks) m_hooks->created(*this);
}

ClClientManager::~ClClientManager() {}

CWqError ClClientManager::checkAndStart(EvEvent* event, long long jobId) {
  if (m_hooks) return m_hooks->checkAndStart(*this, jobId);
  // The installation check is not there yet: nothing is checked, installed
  // or updated on the client, and the connect goes ahead.
  return CWqError::Success();
}

CWqError ClClientManager::startClient() {
  if (m_hooks) return m_hooks->startClient(*this);
  // Starting the client daemon from the proxy host is not there yet.
  return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_CONNECT_FAILED, "Start/Stop not supported");
}

CWqError ClClientManager::stopClient() {
  if (m_hooks) return m_hooks->stopClient(*this);
  // Stopping the client daemon from the proxy host is not there yet.
  return FXErrorUtil::ErrorEventMessage(FX_HERE, 0x060000a6, "Can't stop launch daemon on remote client");
}
