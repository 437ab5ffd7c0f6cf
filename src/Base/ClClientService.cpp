// The daemon's "SERVICE" connection: the version query, the stored
// operating-system version and a fresh daemon link for hosts.
#include <list>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "ClientProperties.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ISendEventInterface.h"
#include "KXPlatformInfo.h"

CWqError ClClientManager::quickVersionCheck(const std::string& expectedVersion, bool& reached, bool& equal,
                                            std::string& clientVersion) {
  reached = false;
  equal = false;
  clientVersion.clear();

  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  link->setDisconnectOnDelete(true);
  CWqError result = link->connectToClient(host, port, velliconId, appId, clientId, true);
  if (result.IsError()) return result.Push(FX_HERE);
  reached = true;

  ClLaunchCmdMsg launch(0, "SERVICE");
  result = link->sendMessage(&launch);
  if (result.IsError()) return result.Push(FX_HERE);
  ClEmptyMsg request(VERSION_REQUEST_MSG);
  result = link->sendMessage(&request);
  if (result.IsError()) return result.Push(FX_HERE);

  ClProxyMsg* received = nullptr;
  result = link->recvMessage(received, {CLIENT_VERSION_MSG, BAD_EOF_MSG}, getTimeOutValue(TIMEOUT_VERSION_REPLY));
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) return result.Push(FX_HERE);
  if (!reply) return FXErrorUtil::ErrorInt(FX_HERE, 1, "Empty message");

  if (reply->getMsgType() == CLIENT_VERSION_MSG) {
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(reply.get());
    const std::string text = blob && blob->getBlob()
                                 ? std::string(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize())
                                 : std::string();
    std::list<std::string> fields;
    FXString::Split(text, ":", fields, 0);
    // A version needs both of its numbers: an empty one would pass for a
    // version that no package ever has.
    if (fields.size() < 2 || fields.front().empty() || std::next(fields.begin())->empty())
      return FXErrorUtil::ErrorWin32(FX_HERE, 13, "Unexpected data [%s]", text.c_str());
    auto field = fields.begin();
    clientVersion = *field++;
    clientVersion += ":" + *field++ + ":";
    bool osReported = false;
    for (; field != fields.end(); ++field) {
      const size_t eq = field->find('=');
      const std::string key = eq == std::string::npos ? *field : field->substr(0, eq);
      const std::string value = eq == std::string::npos ? *field : field->substr(eq + 1);
      if (key != "OSVERSION") continue;
      osReported = true;
      CWqError stored = updateOSVersion(value);
      if (stored.IsError()) FX_LOG(-1, "Unable to update OS Version: %s", stored.AsString().c_str());
    }
    if (!osReported) FX_LOG(0, "Client is hiding OS Version from us [%s].", text.c_str());
    FX_LOG(1, "Client version [%s] Latest package [%s]", clientVersion.c_str(), expectedVersion.c_str());
    equal = clientVersion == expectedVersion;
  }
  reply.reset();
  ClEmptyMsg disconnect(DISCONNECT_MSG);
  link->sendMessage(&disconnect);  // the link closes anyway
  return CWqError::Success();
}

CWqError ClClientManager::updateOSVersion(const std::string& osVersion) {
  const std::string section = "ProxyClients/" + clientName;
  KXPlatformInfo settings;
  std::string stored;
  if (!settings.getString(section, "OSVersion", &stored)) {
    FX_LOG(2, "no information about client OS version");
  } else if (stored == osVersion) {
    return CWqError::Success();
  }
  FX_LOG(0, "Setting OS to '%s'", osVersion.c_str());
  ClientProperties properties(clientId);
  ApplProperty property("Operating System Name", 1, osVersion, 0);
  const int rc = properties.setProperty(property, nullptr, nullptr);
  if (rc != 0) {
    FX_LOG(-1, "setProperty(): rc = %d", rc);
    return CWqError::Success();
  }
  settings.setString(section, "OSVersion", osVersion.data(), osVersion.size());
  FX_LOG(0, "Client %s OS Version update with '%s'", clientName.c_str(), osVersion.c_str());
  return CWqError::Success();
}

CWqError ClClientManager::getNewClientConnection(ClProxyClientConnectionPtr& connection) {
  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  CWqError result = link->connectToClient(host, port, velliconId, appId, clientId, true);
  if (result.IsError())
    return result.Push(FX_HERE,
                       "Can't connect to the remote client using host name '%s' and port '%d'. Services down or "
                       "network error. %s",
                       host.c_str(), static_cast<int>(port), result.AsString().c_str());
  connection = link;
  return CWqError::Success();
}

void ClClientManager::raiseInfoEvent(uint32_t eventId, long long jobId) const {
  CWqError event = FXErrorUtil::ErrorEventMessage(FX_HERE, eventId);
  event << host.c_str();
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (!sender) {
    FX_LOG(-1, "No event sender: event 0x%08x for client %s dropped", eventId, host.c_str());
    return;
  }
  sender->SendInfoEvent(event, jobId, 0);
}
