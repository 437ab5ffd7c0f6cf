#include "ClClientManager.h"

#include <cstring>
#include <mutex>

#include "ApplicationId.h"
#include "ClientProperties.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "KXClient.h"
#include "KXPI_PlatformBase.h"
#include "KXPassword.h"
#include "KXPlatformInfo.h"
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

const uint16_t kDefaultDaemonPort = 9401;
const int kPasswordBufferSize = 128;

}  // namespace

void ClClientManager::SetHooks(std::shared_ptr<ClClientManagerHooks> hooks) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  HooksSlot() = std::move(hooks);
}

ClClientManager::ClClientManager(const std::string& host, uint16_t port, int velliconId, int appId)
    : osId(0), platform(new PlatformDefine), host(host), port(port), velliconId(velliconId), appId(appId),
      clientId(0), proxyClientId(0), initialized(false), updateBlocked(false), jobPriority(0), runPriority(0),
      createJobQueue(false), m_hooks(CurrentHooks()) {
  if (m_hooks) m_hooks->created(*this);
}

ClClientManager::ClClientManager(const std::string& host, uint16_t port, int clientId)
    : osId(0), platform(new PlatformDefine), host(host), port(port), velliconId(0), appId(0), clientId(clientId),
      proxyClientId(0), initialized(false), updateBlocked(false), jobPriority(0), runPriority(0),
      createJobQueue(false), m_hooks(CurrentHooks()) {
  if (m_hooks) m_hooks->created(*this);
}

ClClientManager::~ClClientManager() {}

std::string ClClientManager::client_platform() const {
  if (osId == CLIENT_OS_OPENVMS) return "OpenVMS";
  if (osId == CLIENT_OS_IBMI) return "iSeries";
  return "Unknown";
}

namespace {

// A property getter's failure: logged with the getter's text, returned with
// its code.
CWqError PropertyFailure(const FXCodeLocation& location, const char* getter, int rc, const std::string& text) {
  FX_LOG(-1, "%s failed: %s", getter, text.c_str());
  return FXErrorUtil::ErrorErrNo(location, -1, "%s failed (%d)", getter, rc);
}

}  // namespace

#define READ_PROPERTY(getter, out)                                                   \
  do {                                                                               \
    std::string text_;                                                               \
    int rc_ = properties.getter(out, &text_);                                        \
    if (rc_ != 0) return PropertyFailure(FX_HERE, #getter, rc_, text_);              \
  } while (0)

CWqError ClClientManager::loadProperties(ClientProperties& properties) {
  std::string storedPassword;
  if (osId == CLIENT_OS_OPENVMS) {
    READ_PROPERTY(getOpenVMSUserName, user);
    READ_PROPERTY(getOpenVMSUserPassword, storedPassword);
    READ_PROPERTY(getBaseInstallFolder, clientBaseFolder);
  } else if (osId == CLIENT_OS_IBMI) {
    READ_PROPERTY(getIBMiUserProfile, user);
    ibmiUserProfile = user;
    READ_PROPERTY(getIBMiUserPassword, storedPassword);
    READ_PROPERTY(getIBMiDataFolder, clientBaseFolder);
    READ_PROPERTY(getSubsystemDesc, subsystemDesc);
    READ_PROPERTY(getCreateJobQueue, createJobQueue);
    if (!createJobQueue)
      READ_PROPERTY(getJobQueue, jobQueue);
    else
      jobQueue = "*CREATE";
    READ_PROPERTY(getJobPriority, jobPriority);
    READ_PROPERTY(getRunPriority, runPriority);
  }
  READ_PROPERTY(getOpenVMSProxyClientId, proxyClientId);

  updateBlocked = false;
  std::string text;
  bool blocked = false;
  int rc = properties.getIsUpdateInstallBlocked(blocked, &text);
  if (rc != 0) {
    FX_LOG(-1, "getIsUpdateInstallBlocked failed: %s", text.c_str());
    blocked = false;
  }
  updateBlocked = blocked;
  const std::string section = "ProxyClients/" + clientName;
  if (!updateBlocked) {
    unsigned long value = 0;
    if (KXPlatformInfo().getNumber(section, "blockUpdate", &value)) {
      updateBlocked = value != 0;
      if (updateBlocked)
        FX_LOG(0, "Update installation for client %s is blocked through registry key ~%s/%s.", clientName.c_str(),
               section.c_str(), "blockUpdate");
    }
  } else {
    FX_LOG(0, "Update installation for client %s is blocked.", clientName.c_str());
  }

  // The password stays as it is: command lines quote it as one word. Only
  // the decryption's buffer is read, and only what it says it wrote.
  password.clear();
  if (!storedPassword.empty()) {
    char buffer[kPasswordBufferSize];
    int length = kPasswordBufferSize;
    const int decrypted = KXPassword::decrypt(storedPassword, buffer, length);
    if (decrypted != 0 || length < 0 || length >= kPasswordBufferSize ||
        std::memchr(buffer, '\0', static_cast<size_t>(length) + 1) == nullptr) {
      FX_LOG(-1, "Cannot decrypt the password of client %s (%d): no password is used", clientName.c_str(),
             decrypted);
    } else {
      password.assign(buffer, std::strlen(buffer));
    }
    std::memset(buffer, 0, sizeof(buffer));
  }
  return CWqError::Success();
}

#undef READ_PROPERTY

CWqError ClClientManager::initData() {
  if (initialized) return CWqError::Success();

  KXPI_PlatformBase paths(4);
  localBaseHome = paths.getBaseHomeDirectory();

  ApplicationId application(velliconId, appId);
  if (clientId == 0) {
    std::string text;
    KXClient* found = application.getClient(&text);
    if (!found)
      return FXErrorUtil::ErrorErrNo(FX_HERE, -1,
                                     "Failed to get client information [getClient] for Application ID [%d] Error [%d]",
                                     appId, application.getLastError());
    uint64_t id = 0;
    found->getClientId(id);
    clientId = static_cast<int>(id);
    FX_LOG(0, "Client id %d for %d:%d", clientId, velliconId, appId);
  } else {
    FX_LOG(3, "Client id %d", clientId);
  }

  std::unique_ptr<KXClient> record(new KXClient(velliconId, clientId));
  std::string text;
  if (record->lookup(&text) != 0) {
    FX_LOG(-1, "Failed to lookup client information from the Zentraver: %s", text.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, 2, "Failed to get client information from the Zentraver");
  }
  if (record->getName(clientName, &text) != 0) {
    FX_LOG(-1, "Failed to get client information (getName) from the Zentraver: %s", text.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, 2, "Failed to get client information (getName) from the Zentraver");
  }
  if (record->getOperatingSystemId(osId, &text) != 0) {
    FX_LOG(-1, "Failed to get client information (getOperatingSystemId) from the Zentraver: %s", text.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, 2,
                                   "Failed to get client information (getOperatingSystemId) from the Zentraver");
  }
  CWqError result = platform->setOSType(osId);
  if (result.IsError()) return result.Push(FX_HERE);
  if (host.empty() && record->getNetworkHostname(host, &text) != 0) {
    FX_LOG(-1, "Failed to get client information (getNetworkHostname) from the Zentraver: %s", text.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, 2,
                                   "Failed to get client information (getNetworkHostname) from the Zentraver");
  }
  ClientProperties* properties = record->getClientProperties(&text);
  if (!properties) {
    FX_LOG(-1, "Failed create instance of client's properties");
    return FXErrorUtil::ErrorErrNo(FX_HERE, -1,
                                   "Failed to get client information (getName) [getClientProperties] for client ID [%d]",
                                   clientId);
  }
  result = loadProperties(*properties);
  if (result.IsError()) return result;

  port = kDefaultDaemonPort;
  uint64_t recordPort = kDefaultDaemonPort;
  if (record->getKXDPort(recordPort, &text) == 0) {
    if (recordPort == 0)
      FX_LOG(-1, "Port set to 0. Using default value %d", kDefaultDaemonPort);
    else if (recordPort > 65535)
      // Cut to 16 bits it would name some other port.
      FX_LOG(-1, "Port set to %llu, beyond the port range. Using default value %d",
             static_cast<unsigned long long>(recordPort), kDefaultDaemonPort);
    else
      port = static_cast<uint16_t>(recordPort);
  } else {
    FX_LOG(-1, "Failed to get client information (getKXDPort) from the Zentraver: %s\nUsing default value %d",
           text.c_str(), kDefaultDaemonPort);
  }

  FX_LOG(2, "Client %s(%d) %s:%d clientBaseFolder [%s]", clientName.c_str(), clientId, host.c_str(),
         static_cast<int>(port), clientBaseFolder.c_str());
  localPackageFolder = FXPath::Append(FXPath::Append(paths.getHomeDirectory(), "ProxyPackage", 0), client_platform(), 0);

  result = platform->setClientBaseFolder(clientBaseFolder);
  if (result.IsError()) return result.Push(FX_HERE);
  initialized = true;
  return CWqError::Success();
}
