// The exchanges of a VTL DR backup: the client's system size, the create-
// index flag and the tape and drive initialisation. The long waits check the
// job's quit flag between receives and end on the platform clock, so a
// client that keeps the link open and never answers cannot hold the job.
#include <cerrno>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMiDRClientConnection.h"
#include "KXJobControl.h"
#include "ProxyServices.h"

namespace {

const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorProxyOperation = 774;
const uint32_t kErrorFunctionFailed = 1627;

std::string Joined(const std::list<std::string>& tapes) {
  std::string text;
  for (const std::string& tape : tapes) text += (text.empty() ? "" : ",") + tape;
  return text;
}

}  // namespace

int64_t IBMiDRClientConnectionInterface::AnswerDeadline() const {
  return FXGetClock().UnixTime() + (static_cast<int64_t>(m_ptrConfiguration->getMaxJobDuration()) + 15) * 60;
}

CWqError IBMiDRClientConnectionInterface::CheckQuit(const char* what) {
  if (m_pJobCtrlClient && m_pJobCtrlClient->checkQuitFlag()) {
    DropConnection();
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER, "The job was asked to stop while waiting for %s",
                                 what);
  }
  return CWqError::Success();
}

CWqError IBMiDRClientConnectionInterface::CheckWaitGoesOn(int64_t deadline, const char* what) {
  CWqError quit = CheckQuit(what);
  if (quit.IsError()) return quit;
  if (FXGetClock().UnixTime() >= deadline) {
    DropConnection();
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "No %s from [%s] within %d minutes", what,
                                   m_ptrConfiguration->getClientName().c_str(),
                                   m_ptrConfiguration->getMaxJobDuration() + 15);
  }
  return CWqError::Success();
}

CWqError IBMiDRClientConnectionInterface::ReceiveBounded(ClProxyMsg*& received,
                                                         const std::vector<ClProxyMsgType>& types, int seconds,
                                                         int64_t& deadline, const char* what, bool& ended) {
  received = nullptr;
  ended = false;
  // The channel reads 0 as no limit at all: every receive here is a slice.
  int64_t left = seconds > 0 ? seconds : -1;
  for (;;) {
    const int slice = left > 0 && left < kWaitSliceSeconds ? static_cast<int>(left) : kWaitSliceSeconds;
    CWqError result = m_ptrClientConnection->recvMessage(received, types, slice);
    if (!result.IsError() || !FXErrorUtil::IsErrNo(result, ETIME)) return result;
    if (deadline == 0) deadline = AnswerDeadline();
    CWqError goOn = CheckWaitGoesOn(deadline, what);
    if (goOn.IsError()) {
      ended = true;
      return goOn;
    }
    if (left > 0 && (left -= slice) <= 0) return result;
  }
}

CWqError IBMiDRClientConnectionInterface::getSystemBackupSize() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  FX_LOG(3, "Calculating system backup size. Vellicon [%d] AppID [%d] JobID [%lu]", m_iVelliconId, m_iAppId,
         static_cast<unsigned long>(m_llJobId));
  ClClientBackupSize request(m_iVelliconId, m_iAppId, static_cast<unsigned long>(m_llJobId));
  std::vector<std::string> paths;
  m_ptrConfiguration->getIbmiDrBackupLibraryPaths(paths);
  for (const std::string& path : paths) {
    FX_LOG(3, "User library [%s]", path.c_str());
    request.addUserLibrary(path);
  }

  const std::string host = m_ptrConfiguration->getClientName();
  int64_t deadline = AnswerDeadline();
  CWqError result = connectToClientService();
  if (!result.IsError()) {
    result = m_ptrClientConnection->sendMessage(&request);
    if (result.IsError()) DropConnection();
  }
  if (result.IsError()) {
    const std::string text = result.AsString();
    result.Push(FX_HERE, "Error while requesting system backup size from [%s]. Error [%s]", host.c_str(),
                text.c_str());
    FX_LOG(-1, "%s: %s", text.c_str(), result.AsString().c_str());
    return result;
  }

  m_uiSystemBackupSize = 0;
  for (;;) {
    ClProxyMsg* received = nullptr;
    bool ended = false;
    result = ReceiveBounded(received, {CLIENT_BACKUP_SIZE_MSG, FAILED_FILE_MSG},
                            getTimeOutValue(TIMEOUT_SYSTEM_SIZE_REPLY), deadline, "the system backup size", ended);
    std::unique_ptr<ClProxyMsg> reply(received);
    if (ended) return result;
    if (result.IsError() && FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(5, "Waiting for client to finish scan.");
      continue;
    }
    if (result.IsError()) {
      DropConnection();
      const std::string text = result.AsString();
      result.Push(FX_HERE, "Error while waiting for system backup size from [%s]. Error [%s]", host.c_str(),
                  text.c_str());
      FX_LOG(-1, "%s: %s", text.c_str(), result.AsString().c_str());
      return result;
    }
    if (reply->getMsgType() == FAILED_FILE_MSG) {
      const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(reply.get());
      std::string name, text;
      int code = 0;
      if (failed) failed->get(name, code, text);
      AddText(text);
      const CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, static_cast<uint32_t>(code), "%s", text.c_str());
      if (m_pJobClient)
        m_pJobClient->setPendingCauseAndCriticalEvent(error, 0, false, PENDING_CAUSE_MESSAGE_TYPE, false, 0, 0, 0, 0);
      return error;
    }
    const ClClientBackupSize* size = dynamic_cast<const ClClientBackupSize*>(reply.get());
    if (!size) {
      DropConnection();
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "Invalid message type %d. expected %d",
                                   static_cast<int>(reply->getMsgType()), static_cast<int>(CLIENT_BACKUP_SIZE_MSG));
    }
    m_uiSystemBackupSize = size->getClientBackupSize();
    break;
  }
  FX_LOG(0, "Total system size [%u MB]", m_uiSystemBackupSize);
  return CWqError::Success();
}

CWqError IBMiDRClientConnectionInterface::clearCreateIndexFlag() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  FX_LOG(3, "Clear create index file.");
  const int32_t clientId = static_cast<int32_t>(m_ulClientId);
  ProxyServicesPtr handle = ProxyServices::instanceForClient(clientId, m_llJobId, false, true);
  if (!handle)
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorFunctionFailed, "Could not connect to client for index file cleanup.");
  CWqError result = handle->clearCreateIndexFlag(m_iVelliconId, clientId, m_iAppId, static_cast<uint64_t>(m_llJobId));
  handle->disconnectFromClient();
  if (result.IsError()) FX_LOG(-1, "Clear index flag file failed. %s", result.AsString().c_str());
  return result;
}

CWqError IBMiDRClientConnectionInterface::InitializeTapeAndDrive(const std::string& drive,
                                                                 const std::list<std::string>& tapes) {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  if (!m_ptrState) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR state not set");
  // Once the save may have written to its volumes, initialising them again
  // would erase it.
  const int state = m_ptrState->getState();
  if (state != DR_STATE_BEGIN && state != DR_STATE_INITIATED)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The DR save of this job has started (state %d): its tapes are "
                                   "not initialized again", state);
  m_ptrConfiguration->setTapeListAndDevice(tapes, "");
  CWqError result = m_ptrState->saveStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  FX_LOG(0, "Initialize drive '%s' and tape(s) [%s]", drive.c_str(), Joined(tapes).c_str());

  int64_t deadline = AnswerDeadline();
  result = connectToClientService();
  if (result.IsError()) return result.Push(FX_HERE);
  ClInitializeTapeMLBMode request(m_iVelliconId, m_iAppId, static_cast<unsigned long>(m_llJobId), drive, tapes);
  result = m_ptrClientConnection->sendMessage(&request);
  if (result.IsError()) {
    DropConnection();
    return result.Push(FX_HERE);
  }

  for (;;) {
    ClProxyMsg* received = nullptr;
    bool ended = false;
    result = ReceiveBounded(received, {EVENT_MSG, INITIALIZE_TAPE_MLB_MODE_MSG, CLIENT_ERROR_MSG},
                            getTimeOutValue(TIMEOUT_TAPE_INIT_REPLY), deadline, "the tape initialization", ended);
    std::unique_ptr<ClProxyMsg> reply(received);
    if (ended) return result;
    if (result.IsError()) {
      DropConnection();
      return result.Push(FX_HERE);
    }
    switch (reply->getMsgType()) {
      case CLIENT_ERROR_MSG:
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorProxyOperation, "Error during VTL DR Tape initialization.");
      case EVENT_MSG: {
        if (const ClEventMsg* event = dynamic_cast<const ClEventMsg*>(reply.get())) event->sendEvent();
        CWqError goOn = CheckWaitGoesOn(deadline, "the tape initialization");
        if (goOn.IsError()) return goOn;
        continue;
      }
      default: {
        const ClInitializeTapeMLBMode* answer = dynamic_cast<const ClInitializeTapeMLBMode*>(reply.get());
        if (!answer) {
          DropConnection();
          return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInvalidParameter,
                                         "Invalid message, expected ClInitializeTapeMLBMode");
        }
        m_ptrConfiguration->setTapeListAndDevice(answer->getTapeList(), answer->getDriveCode());
        // The granted volumes are the job's from now on: a restart that
        // cannot ask for them again still records them.
        m_ptrState->setTapeList(m_ptrConfiguration->getTapeList());
        result = m_ptrState->saveStatus();
        if (result.IsError()) return result.Push(FX_HERE, "The granted tapes [%s] could not be saved",
                                                 m_ptrConfiguration->getTapeList().c_str());
        return CWqError::Success();
      }
    }
  }
}
