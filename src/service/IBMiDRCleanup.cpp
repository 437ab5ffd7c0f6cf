// Removal of the DR staging directory on the client after the job, or its
// deferral to the deployment manager when the client cannot do it now.
#include <cerrno>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMiDRClientConnection.h"
#include "KXJobControl.h"

CWqError IBMiDRClientConnectionInterface::cleanUp() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  FX_LOG(0, "Cleaning after DR Backup...");
  const std::string path = m_ptrConfiguration->getDRMediaPath();
  // A job that staged nothing (VTL) has nothing to remove.
  if (path.empty()) return CWqError::Success();

  CWqError result = connectToClientService();
  if (result.IsError()) {
    ScheduleCleanup();
    RaisePendingCause(EV_DR_CLEANUP_UNREACHABLE);
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER, "failed to connect to the client.");
  }
  ClIBMDRBackupCleanMsg request(m_iVelliconId, static_cast<uint64_t>(m_llJobId), m_iAppId);
  request.setDRMediaLocation(path);
  FX_LOG(3, "Will cleanup DVD image staging location [%s]", path.c_str());
  result = m_ptrClientConnection->sendMessage(&request);
  if (result.IsError()) {
    DropConnection();
    ScheduleCleanup();
    RaisePendingCause(EV_DR_CLEANUP_UNREACHABLE);
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER, "failed to connect to the client.");
  }

  ClProxyMsg* received = nullptr;
  result = m_ptrClientConnection->recvMessage(received, {GOOD_EOF_MSG, FAILED_FILE_MSG, CLIENT_ERROR_MSG},
                                              getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) {
    DropConnection();
    ScheduleCleanup();
    RaisePendingCause(EV_DR_CLEANUP_UNREACHABLE);
    if (FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(-1, "time out for message reply from client");
      return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER, "no confirmation from client");
    }
    FX_LOG(-1, "receive failed: %s", result.AsString().c_str());
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER);
  }
  switch (reply->getMsgType()) {
    case FAILED_FILE_MSG: {
      std::string name, text;
      int code = 0;
      static_cast<const ClFailedFileMsg&>(*reply).get(name, code, text);
      CWqError failed = FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "%d:%s", code, text.c_str());
      AddText(text);
      RaisePendingCause(EV_DR_CLEANUP_FAILED);
      ScheduleCleanup();
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "DR backup cleanup failed:%s", failed.AsString().c_str());
    }
    case CLIENT_ERROR_MSG:
      FX_LOG(-1, "Error detected on a client. Check client logs.");
      AddText("Error detected on a client. Check client logs.");
      RaisePendingCause(EV_DR_CLIENT_ERROR);
      ScheduleCleanup();
      return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Error detected");
    default: {
      ClEmptyMsg bye(DISCONNECT_MSG);
      m_ptrClientConnection->sendMessage(&bye);
      // The exchange is over: nothing late may answer the next request.
      DropConnection();
      return CWqError::Success();
    }
  }
}
