// The DR client connection: configuration, service connection, staging
// check, the start exchange and the status query.
#include "IBMiDRClientConnection.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClDRStartMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMiDRStagingCheck.h"
#include "IBMiVTLDRConfiguration.h"
#include "KXJobControl.h"

namespace {

const uint32_t kErrorOutOfMemory = 14;
const uint32_t kErrorFunctionFailed = 1627;
const uint32_t kErrorNotConnected = 2250;
const uint32_t kStatusRequestSize = 256;
const char kClientErrorText[] = "Error detected on a client. Check client logs.";

const std::vector<ClProxyMsgType> kReplyTypes = {GOOD_EOF_MSG, FAILED_FILE_MSG, CLIENT_ERROR_MSG,
                                                 DR_JOB_STATUS_MSG};

}  // namespace

IBMiDRClientConnectionInterface::IBMiDRClientConnectionInterface(KXBkpJobClient* jobClient,
                                                                 KXJobCtrlClient* jobCtrlClient, int velliconId,
                                                                 int appId, long long jobId, bool ipl,
                                                                 boost::shared_ptr<IBMiDRStateInterface> state)
    : m_uiSystemBackupSize(0),
      m_ulClientId(~0ULL),
      m_llJobId(jobId),
      m_iAppId(appId),
      m_iVelliconId(velliconId),
      m_ptrState(state),
      m_bIPL(ipl),
      m_pJobClient(jobClient),
      m_pJobCtrlClient(jobCtrlClient),
      m_iFileError(0),
      m_uiSymlinkTooLong(0),
      m_bStatusAnswered(false) {}

IBMiDRClientConnectionInterface::~IBMiDRClientConnectionInterface() {}

uint32_t IBMiDRClientConnectionInterface::DREventId(int32_t code) {
  uint32_t value = static_cast<uint32_t>(code);
  uint32_t module = (value & 0x20000) ? static_cast<uint32_t>((static_cast<int64_t>(code) >> 18) & 0xFFFF)
                                      : (value >> 24);
  return module == 0x17 ? value : EV_DR_CLIENT_ERROR;
}

void IBMiDRClientConnectionInterface::RaisePendingCause(uint32_t eventId) {
  if (!m_pJobClient) return;
  m_pJobClient->setPendingCauseAndCriticalEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, eventId), 0, false,
                                                PENDING_CAUSE_MESSAGE_TYPE, false, 0, 0, 0, 0);
}

void IBMiDRClientConnectionInterface::AddText(const std::string& text) {
  if (m_pJobClient) *m_pJobClient << text.c_str();
}

void IBMiDRClientConnectionInterface::ScheduleCleanup() {
  if (!m_ptrState || !m_ptrConfiguration) return;
  m_ptrState->scheduleCleanupDRFolder(static_cast<int32_t>(m_ulClientId), m_llJobId,
                                      m_ptrConfiguration->getDRMediaPath());
}

bool IBMiDRClientConnectionInterface::isConnected() const {
  return m_ptrClientConnection && m_ptrClientConnection->getConnectionSocket().IsValid();
}

void IBMiDRClientConnectionInterface::DropConnection() { m_ptrClientConnection.reset(); }

CWqError IBMiDRClientConnectionInterface::configure(bool vtl) {
  if (!m_pJobClient) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "JobClient Object not set");
  IBMiDRConfigurationInterface* made =
      vtl ? new (std::nothrow) IBMiVTLDRConfiguration(m_iVelliconId, m_iAppId, m_llJobId, m_bIPL)
          : new (std::nothrow) IBMiDRConfigurationInterface(m_iVelliconId, m_iAppId, m_llJobId, m_bIPL);
  if (!made) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory);
  m_ptrConfiguration.reset(made);
  CWqError result = m_ptrConfiguration->configure();
  if (result.IsError()) return result.Push(FX_HERE);
  m_ulClientId = m_ptrConfiguration->getClientID();
  result = connectToClientService();
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError IBMiDRClientConnectionInterface::ValidateConfig() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  return m_ptrConfiguration->validateDRParameters(m_pJobClient);
}

CWqError IBMiDRClientConnectionInterface::CheckAndCleanupDRFolder(bool noManage) {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  ClClientManager manager(m_ptrConfiguration->getClientName(),
                          static_cast<uint16_t>(m_ptrConfiguration->getClientPort()),
                          static_cast<int32_t>(m_ulClientId));
  CWqError result = IBMiDRStagingCheck::Run(manager, noManage);
  if (result.IsError()) FX_LOG(-1, "%s", result.AsString().c_str());
  return result;
}

CWqError IBMiDRClientConnectionInterface::connectToClientService() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  if (m_ptrClientConnection && !m_ptrClientConnection->getConnectionSocket().IsValid()) DropConnection();
  if (!m_ptrClientConnection) {
    m_ptrClientConnection.reset(new (std::nothrow) ClProxyClientConnection());
    if (!m_ptrClientConnection) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory);
    CWqError result = m_ptrClientConnection->connectToClient(
        m_ptrConfiguration->getClientName(), static_cast<uint16_t>(m_ptrConfiguration->getClientPort()),
        m_iVelliconId, m_iAppId, static_cast<int32_t>(m_ulClientId), false);
    if (result.IsError()) return result.Push(FX_HERE, "Unable connect to client.");
    m_ptrClientConnection->setDisconnectOnDelete(true);
    ClLaunchCmdMsg launch(0, "SERVICE");
    result = m_ptrClientConnection->sendMessage(&launch);
    if (result.IsError()) {
      DropConnection();
      return result.Push(FX_HERE);
    }
  }
  if (m_ptrClientConnection->getConnectionSocket().IsValid()) return CWqError::Success();
  AddText(m_ptrConfiguration->getClientName());
  RaisePendingCause(EV_CLIENT_SERVICES_UNREACHABLE);
  return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "runDRBackup failed");
}

CWqError IBMiDRClientConnectionInterface::sendDRStartMessage() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  if (!isConnected()) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "no service connection");
  FX_LOG(0, "Initiating DR backup job on %s", m_ptrConfiguration->getClientName().c_str());
  ClIBMDRBackupJobMsg message(m_iVelliconId, static_cast<unsigned long>(m_llJobId), m_iAppId);
  CWqError result = m_ptrConfiguration->populateDRMessage(message);
  if (result.IsError()) return result.Push(FX_HERE);
  result = m_ptrClientConnection->sendMessage(&message);
  if (result.IsError()) DropConnection();
  return result;
}

CWqError IBMiDRClientConnectionInterface::ReceiveReply(ClProxyMsg*& reply) {
  reply = nullptr;
  CWqError result =
      m_ptrClientConnection->recvMessage(reply, kReplyTypes, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  if (result.IsError()) DropConnection();
  return result;
}

CWqError IBMiDRClientConnectionInterface::receiveDRStartStatus(std::string& jobNumber) {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  bool warned = false;
  for (;;) {
    if (!isConnected()) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "no service connection");
    ClProxyMsg* received = nullptr;
    CWqError result = ReceiveReply(received);
    std::unique_ptr<ClProxyMsg> reply(received);
    if (result.IsError()) {
      RaisePendingCause(EV_DR_NO_REPLY);
      if (FXErrorUtil::IsErrNo(result, ETIME)) {
        FX_LOG(-1, "time out for message reply from client");
        return result.Push(FX_HERE, "no confirmation from client");
      }
      return result.Push(FX_HERE);
    }
    switch (reply->getMsgType()) {
      case DR_JOB_STATUS_MSG: {
        const uint8_t* bytes = nullptr;
        uint32_t length = 0;
        static_cast<const ClBlobMsg&>(*reply).get(bytes, length);
        uint32_t offset = 0;
        std::string number;
        if (ClProxySerializer::deserialize(bytes, length, offset, number) != ClProxySerializer::kSuccess) {
          // A start answer without its job number leaves nothing to query later.
          DropConnection();
          RaisePendingCause(EV_DR_NO_REPLY);
          return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "malformed start answer from client");
        }
        jobNumber = number;
        FX_LOG(0, "KXDRBKP JOB %s started.", jobNumber.c_str());
        return CWqError::Success();
      }
      case GOOD_EOF_MSG:
        return CWqError::Success();
      case CLIENT_ERROR_MSG:
        FX_LOG(-1, "%s", kClientErrorText);
        AddText(kClientErrorText);
        RaisePendingCause(EV_DR_CLIENT_ERROR);
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorFunctionFailed, "Error detected");
      default: {
        std::string name, text;
        int code = 0;
        static_cast<const ClFailedFileMsg&>(*reply).get(name, code, text);
        if (code == -2) {
          // A second warning in one start is no answer the client should give.
          if (warned) {
            DropConnection();
            return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "second QIPLTYPE warning from client");
          }
          warned = true;
          AddText("System Value QIPLTYPE is not set to 0. IPL will not be performed.");
          if (m_pJobClient)
            m_pJobClient->MajorEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, EV_DR_IPLTYPE_WARNING), 0, 0);
          continue;
        }
        uint32_t eventId = DREventId(code);
        CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, eventId, "%s", text.c_str());
        AddText(text);
        RaisePendingCause(eventId);
        return error.Push(FX_HERE, "DR backup failed:%s", text.c_str());
      }
    }
  }
}

bool IBMiDRClientConnectionInterface::StatusRequestCarries(const std::string& jobNumber) {
  return !jobNumber.empty() && jobNumber.size() + 4 <= kStatusRequestSize;
}

CWqError IBMiDRClientConnectionInterface::RefuseJobNumber(const std::string& jobNumber) {
  char line[160];
  std::snprintf(line, sizeof(line), "The DR save job on the client has no job number to query its status by (%s).",
                jobNumber.empty() ? "none given" : "too long");
  FX_LOG(-1, "%s", line);
  // The save may be running on the client already: its staging folder is
  // removed once this job has ended.
  ScheduleCleanup();
  AddText(line);
  RaisePendingCause(EV_DR_CLIENT_ERROR);
  return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s", line);
}

CWqError IBMiDRClientConnectionInterface::stopServicesOnClient() {
  if (m_ptrClientConnection) {
    ClEmptyMsg bye(DISCONNECT_MSG);
    m_ptrClientConnection->sendMessage(&bye);
    m_ptrClientConnection->getConnectionSocket().Shutdown(2);
    m_ptrClientConnection->getConnectionSocket().Close();
    DropConnection();
  }
  return CWqError::Success();
}

CWqError IBMiDRClientConnectionInterface::getDRStatus(const std::string& jobNumber, DRBackupState& state) {
  state = DR_STATE_FAILED;
  m_bStatusAnswered = false;
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  // Nothing cut or empty goes out: the client would report on another job.
  // Asking again later cannot help, so the verdict is settled as failed.
  if (!StatusRequestCarries(jobNumber)) {
    m_bStatusAnswered = true;
    CWqError refused = RefuseJobNumber(jobNumber);
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "job number of %zu bytes cannot be sent: %s", jobNumber.size(),
                                   refused.AsString().c_str());
  }
  CWqError result = connectToClientService();
  if (result.IsError()) return result.Push(FX_HERE);

  uint8_t buffer[kStatusRequestSize];
  uint32_t offset = 0;
  ClProxySerializer::serialize(jobNumber, buffer, kStatusRequestSize, offset);
  ClBlobMsg request(DR_JOB_STATUS_MSG, ClBlobMsg::Copy, buffer, offset);
  result = m_ptrClientConnection->sendMessage(&request);
  if (result.IsError()) {
    DropConnection();
    FX_LOG(-1, "Send Message failed: %s", result.AsString().c_str());
    ScheduleCleanup();
    AddText(m_ptrConfiguration->getClientName());
    RaisePendingCause(EV_CLIENT_SERVICES_UNREACHABLE);
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER, "failed to send status request to client.");
  }

  ClProxyMsg* received = nullptr;
  result = ReceiveReply(received);
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) {
    ScheduleCleanup();
    RaisePendingCause(EV_DR_NO_REPLY);
    if (FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(-1, "time out for message reply from client");
      return result.Push(FX_HERE, "no confirmation from client");
    }
    return result.Push(FX_HERE);
  }

  switch (reply->getMsgType()) {
    case DR_JOB_STATUS_MSG: {
      const uint8_t* bytes = nullptr;
      uint32_t length = 0;
      static_cast<const ClBlobMsg&>(*reply).get(bytes, length);
      uint32_t at = 0;
      std::string name, text;
      uint32_t exitCode = 0;
      bool whole = ClProxySerializer::deserialize(bytes, length, at, name) == ClProxySerializer::kSuccess &&
                   ClProxySerializer::deserialize(bytes, length, at, exitCode) == ClProxySerializer::kSuccess &&
                   ClProxySerializer::deserialize(bytes, length, at, text) == ClProxySerializer::kSuccess;
      if (!whole) {
        // An unread exit code must not decide the outcome.
        DropConnection();
        RaisePendingCause(EV_DR_NO_REPLY);
        return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "malformed status answer from client");
      }
      m_bStatusAnswered = true;
      int code = static_cast<int>(exitCode);
      FX_LOG(0, "KXDRBKP2 JOB %s finished with exit code %d. %s", name.c_str(), code, text.c_str());
      state = DR_STATE_SUCCESS;
      if (code == 0) return CWqError::Success();
      if (code == 10 && m_bIPL) {
        FX_LOG(0, "Job ended with code 10. This is normal when *IPL option is selected.");
        return CWqError::Success();
      }
      state = DR_STATE_FAILED;
      char line[1024];
      std::snprintf(line, sizeof(line), "JOB KXDRBKP2 (%s) failed on client and exit with code %d. %s",
                    name.c_str(), code, text.c_str());
      AddText(line);
      RaisePendingCause(EV_DR_CLIENT_ERROR);
      ScheduleCleanup();
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Error reported by KXDRBKP2");
    }
    case FAILED_FILE_MSG: {
      m_bStatusAnswered = true;
      ScheduleCleanup();
      std::string name, text;
      int code = 0;
      static_cast<const ClFailedFileMsg&>(*reply).get(name, code, text);
      AddText(text);
      RaisePendingCause(EV_DR_CLIENT_ERROR);
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "DR backup failed:%d:%s", code, text.c_str());
    }
    case CLIENT_ERROR_MSG:
      m_bStatusAnswered = true;
      AddText(kClientErrorText);
      RaisePendingCause(EV_DR_CLIENT_ERROR);
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Error detected");
    default:
      // The host is told success, so the saved state says so too.
      m_bStatusAnswered = true;
      FX_LOG(-1, "Job started but we don't have job ID");
      state = DR_STATE_SUCCESS;
      return CWqError::Success();
  }
}
