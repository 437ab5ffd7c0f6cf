#include "Proxy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "App_ExecuteSP.h"
#include "ApplicationId.h"
#include "ArMgrClientAPI.h"
#include "ClBasicMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXClient.h"
#include "KXPlatformInfo.h"
#include "ProxyEventIds.h"
#include "ProxyHookFile.h"

namespace {

const uint16_t kDefaultDaemonPort = 9401;

CWqError NotConnected(const FXCodeLocation& location, const char* link) {
  return FXErrorUtil::ErrorErrNo(location, ENOTCONN, "No %s: init has not set it up", link);
}

}  // namespace

Proxy::Proxy()
    : m_iVelliconId(2),
      m_iAppId(0),
      m_iClientId(0),
      m_ullJobId(0),
      m_eBackupLevel(1),
      m_llJobStartValue(0),
      m_iClientOSId(0),
      m_iSocket(-1),
      m_uListenPort(0),
      m_iClientProcessId(-1),
      m_iProcessStatus(-1) {}

Proxy::~Proxy() {
  m_pClientConnection.reset();
  m_pSrvConnection.reset();
  if (m_iSocket >= 0) {
    ::shutdown(m_iSocket, SHUT_RDWR);
    ::close(m_iSocket);
  }
}

CWqError Proxy::init(int32_t velliconId, int32_t appId, int32_t clientId, uint64_t jobId, KXBkpLevel level,
                     int64_t jobStartValue, const std::string& clientProgram, const std::string& host,
                     uint16_t port) {
  m_iVelliconId = velliconId;
  m_iAppId = appId;
  m_iClientId = clientId;
  m_ullJobId = jobId;
  m_sClientProgram = clientProgram;
  m_sClientHost = host;
  m_uListenPort = port;
  m_eBackupLevel = level;
  m_llJobStartValue = jobStartValue;
  m_sProxyClientName.clear();
  m_sListenInterface.clear();

  m_pClientConnection.reset(new ClProxyClientConnection());

  int32_t resolvedClientId = clientId;
  if (clientId == 0) {
    ApplicationId application(velliconId, appId);
    KXClient* client = application.getClient(NULL);
    if (!client)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT,
                                     "Failed to get client information [getClient] for Application ID [%d] Error [%d]",
                                     static_cast<int>(appId), application.getLastError());
    uint64_t id = 0;
    std::string text;
    int rc = client->getClientId(id, &text);
    if (rc != 0)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT,
                                     "Failed to get client information (getClientId) for Application ID [%d]: %s",
                                     static_cast<int>(appId), text.c_str());
    resolvedClientId = static_cast<int32_t>(static_cast<uint32_t>(id));
  }

  uint16_t daemonPort = kDefaultDaemonPort;
  int32_t proxyClientId = -1;
  CWqError result = readClientRecords(resolvedClientId, daemonPort, proxyClientId);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  if (proxyClientId > 0) {
    KXClient proxyClient(velliconId, proxyClientId);
    proxyClient.getName(m_sProxyClientName);
  }
  pickListenInterface();

  result = m_pClientConnection->connectToClient(host, daemonPort, velliconId, appId, resolvedClientId, false);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }

  m_pSrvConnection.reset(new ClProxySrvConnection());
  result = m_pSrvConnection->initServer(m_sListenInterface, 0);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  m_pSrvConnection->setRemoteHost(host);
  CWqIPAddr local;
  if (!m_pSrvConnection->getProxySocket().GetLocalAddress(local).IsError()) m_uListenPort = local.GetPortNumber();

  FX_LOG(4, "Launching cmd=%s on client=%s and listening on %s:%d", m_sClientProgram.c_str(), m_sClientHost.c_str(),
         m_sListenInterface.empty() ? "*" : m_sListenInterface.c_str(), static_cast<int>(m_uListenPort));
  return CWqError::Success();
}

CWqError Proxy::readClientRecords(int32_t clientId, uint16_t& daemonPort, int32_t& proxyClientId) {
  KXClient client(m_iVelliconId, clientId);
  uint64_t port = 0;
  daemonPort = kDefaultDaemonPort;
  if (client.getKXDPort(port) == 0 && port != 0) {
    // A value that does not fit a port would otherwise reach some other port.
    if (port > 65535)
      FX_LOG(-1, "Port set to %llu. Using default value %d", static_cast<unsigned long long>(port),
             static_cast<int>(kDefaultDaemonPort));
    else
      daemonPort = static_cast<uint16_t>(port);
  }
  m_sClientName.clear();
  client.getName(m_sClientName);

  std::string text;
  ClientProperties* properties = client.getClientProperties(&text);
  if (!properties)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT,
                                   "Failed to get client information [getClientProperties] for client ID [%d]: %s",
                                   static_cast<int>(clientId), text.c_str());
  proxyClientId = -1;
  if (properties->getOpenVMSProxyClientId(proxyClientId, NULL) != 0)
    FX_LOG(-1, "Failed to get proxy ID for client '%s'", m_sClientName.c_str());

  int osId = 0;
  int rc = client.getOperatingSystemId(osId, &text);
  if (rc != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT,
                                   "Failed to get client information (getOperatingSystemId) for client ID [%d]: %s",
                                   static_cast<int>(clientId), text.c_str());
  m_iClientOSId = osId;
  return CWqError::Success();
}

void Proxy::pickListenInterface() {
  GetMangledDIPListArgs_t args;
  args.selector = 0;
  args.clientName = m_sClientName;
  GetMangledDIPListRet_t pairs;
  int rc = ArMgrClientAPI::getMangledDIPList(&args, &pairs);
  if (rc == ARMGR_NO_DIPS) return;
  if (rc != ARMGR_SUCCESS) {
    FX_LOG(-1, "Failed to retrieve the list of Data Interface Pairs for client %s", m_sClientName.c_str());
    return;
  }
  FX_LOG(0, "Found %d DIPs for client %s", static_cast<int>(pairs.dipList.size()), m_sClientName.c_str());
  for (const DIP_t& pair : pairs.dipList) {
    std::string firstHost, firstName, secondHost, secondName;
    int number1 = 0, number2 = 0;
    DemangleHostName(pair.first, firstHost, firstName, number1, number2);
    DemangleHostName(pair.second, secondHost, secondName, number1, number2);
    // Without a proxy client no pair is ours, not even one naming no client.
    if (m_sProxyClientName.empty() || secondName != m_sProxyClientName) continue;
    m_sListenInterface = secondHost;
    FX_LOG(0, " Client will be using '%s' interface to connect to proxy", m_sListenInterface.c_str());
    break;
  }
}

CWqError Proxy::launchClientProcess() {
  if (!m_pClientConnection) return NotConnected(FX_HERE, "connection to the client daemon");
  std::unique_ptr<ClProxyMsg> request;
  if (!m_sListenInterface.empty())
    request.reset(new ClLaunchCmdDIPMsg(m_sListenInterface, m_uListenPort, m_sClientProgram));
  else
    request.reset(new ClLaunchCmdMsg(m_uListenPort, m_sClientProgram));
  CWqError result = m_pClientConnection->sendMessage(request.get());
  request.reset();
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }

  ClProxyMsg* raw = nullptr;
  result = m_pClientConnection->recvMessage(raw, LAUNCH_RESPONSE_MSG, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  std::unique_ptr<ClProxyMsg> reply(raw);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  const ClLaunchCmdResponseMsg* response = dynamic_cast<const ClLaunchCmdResponseMsg*>(reply.get());
  if (!response) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Launch reply of an unexpected class");
  int32_t processId = -1;
  response->get(processId);
  m_iClientProcessId = processId;
  reply.reset();

  if (processId < 1) {
    FX_LOG(-1, "Client return invalid process id [%ld]. Failing launch call.", static_cast<long>(processId));
    return FXErrorUtil::ErrorErrNo(FX_HERE, static_cast<int>(EV_CLIENT_PROCESS_FAILED),
                                   "Failed to launch client process");
  }
  return CWqError::Success();
}

CWqError Proxy::getClientProcessStatus(int& status) {
  status = -1;
  if (!m_pClientConnection) return NotConnected(FX_HERE, "connection to the client daemon");
  ClGetProcessStatusMsg request(m_iClientProcessId);
  CWqError result = m_pClientConnection->sendMessage(&request);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }

  std::unique_ptr<ClProxyMsg> reply;
  for (;;) {
    ClProxyMsg* raw = nullptr;
    result = m_pClientConnection->recvMessage(raw, PROCESS_STATUS_RESPONSE_MSG,
                                              getTimeOutValue(TIMEOUT_PROCESS_STATUS));
    reply.reset(raw);
    if (!result.IsError()) break;
    // The daemon answers when it can: only a broken link ends the wait.
    if (!FXErrorUtil::IsErrNo(result, ETIME)) {
      result.Push(FX_HERE);
      return result;
    }
  }
  const ClProcessStatusResponseMsg* response = dynamic_cast<const ClProcessStatusResponseMsg*>(reply.get());
  if (!response) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Process status reply of an unexpected class");
  int32_t processStatus = -1;
  response->get(processStatus);
  m_iProcessStatus = processStatus;
  FX_LOG(2, "processStatus = %d", static_cast<int>(m_iProcessStatus));
  reply.reset();
  status = m_iProcessStatus;
  return CWqError::Success();
}

CWqError Proxy::acceptClientProcessConnection() {
  if (ProxyHookFile::IsHonoured(ProxyHookFile::Path("failAccept"))) {
    FX_LOG(0, "file /tmp/failAccept exists. exiting...");
    m_pSrvConnection.reset();
    std::exit(1);
  }
  if (!m_pSrvConnection) return NotConnected(FX_HERE, "listener for the client program");
  CWqError result = m_pSrvConnection->acceptClient(getTimeOutValue(TIMEOUT_CLIENT_CONNECT));
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError Proxy::sendJobStart() {
  if (!m_pSrvConnection) return NotConnected(FX_HERE, "connection to the client program");
  std::unique_ptr<ClJobStartMsg> request(
      new ClJobStartMsg(m_iVelliconId, m_iAppId, m_eBackupLevel, m_llJobStartValue, m_ullJobId));
  CWqError result = setJobOptions(request.get());
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  result = m_pSrvConnection->sendMessage(request.get());
  request.reset();
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  FX_LOG(4, "Sent job start message");

  ClProxyMsg* raw = nullptr;
  result = m_pSrvConnection->recvMessage(raw, CLIENT_BASE_DIR_MSG, getTimeOutValue(TIMEOUT_JOB_START_REPLY));
  std::unique_ptr<ClProxyMsg> reply(raw);
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(reply.get());
  if (!blob) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Base directory reply of an unexpected class");
  std::string baseDir(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
  reply.reset();

  while (!baseDir.empty() && baseDir.back() == '\0') baseDir.pop_back();
  if (baseDir.empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The client program reported an empty base directory");
  if (baseDir.back() != '/') baseDir += '/';
  m_sClientBaseDir = baseDir;
  FX_LOG(2, "Client's base directory reported [%s]", m_sClientBaseDir.c_str());
  return CWqError::Success();
}

CWqError Proxy::sendSuspendJob() {
  if (!m_pSrvConnection) return NotConnected(FX_HERE, "connection to the client program");
  ClEmptyMsg request(DISCONNECT_MSG);
  CWqError result = m_pSrvConnection->sendMessage(&request);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to send suspend request message");
    return result;
  }
  FX_LOG(0, "Sent job suspend message");
  return CWqError::Success();
}

CWqError Proxy::setJobOptions(ClJobStartMsg* msg) {
  if (!msg) return CWqError::Success();
  bool mlbMode = false;
  KXPlatformInfo settings;
  settings.getBoolean("ProxyClients", "nMLBMode", &mlbMode);
  msg->setOptionValue("isMLBMode", mlbMode);
  msg->setOptionValue("JO_ClientName", m_sClientName);
  return CWqError::Success();
}

bool Proxy::IsVTLBackup(int subclientId, std::vector<MediaManager::LibraryInfo>& libraries) {
  bool queryFailed = false;
  return IsVTLBackup(subclientId, libraries, queryFailed);
}

bool Proxy::IsVTLBackup(int subclientId, std::vector<MediaManager::LibraryInfo>& libraries, bool& queryFailed) {
  queryFailed = false;
  MediaManager::GetLibInfoForSubClientReq request;
  MediaManager::GetLibInfoForSubClientResp response;
  request.setint64(1, 1, static_cast<int64_t>(subclientId));
  std::string inXML, outXML;
  request.serialize(inXML, false);
  FX_LOG(4, "inXML is %s", inXML.c_str());
  int rc = App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq, inXML, outXML, NULL);
  FX_LOG(4, "outXML is is %s", outXML.c_str());
  if (rc != 0) {
    FX_LOG(-1, "Error [%d] returned from App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq).", rc);
    queryFailed = true;
    return false;
  }

  response.unserialize(outXML);
  std::vector<CNMessageBase>* entries = response.isSet(1) ? response.getlistobject(1, 1, 0, 0, false) : nullptr;
  if (!entries) {
    FX_LOG(-1, "No library information provided for subclient %d", subclientId);
    queryFailed = true;
    return false;
  }

  libraries.clear();
  bool vtlFound = false, nonVtlFound = false;
  for (const CNMessageBase& entry : *entries) {
    const int64_t libraryId = entry.getint64(1);
    const int64_t libraryType = entry.getint64(4);
    FX_LOG(3, "%d:%d", static_cast<int>(libraryId), static_cast<int>(libraryType));
    if (static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(libraryId))) <= 0) continue;
    if (libraryType == 4) vtlFound = true;
    if (libraryType == 0) nonVtlFound = true;
    libraries.push_back(MediaManager::LibraryInfo(entry));
  }
  FX_LOG(0, "In %zu data path listed: VTL Library %s, Non-VTL Library %s", libraries.size(),
         vtlFound ? "found" : "not found", nonVtlFound ? "found" : "not found");
  if (vtlFound && nonVtlFound) return true;
  if (ProxyHookFile::IsHonoured(ProxyHookFile::Path("vtl"))) {
    FX_LOG(-1, "hook file /tmp/vtl found");
    return true;
  }
  return false;
}
