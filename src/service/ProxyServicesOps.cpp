// The short service operations: folder creation, job commit, VTL tape
// preparation and the create-index flag.
#include <cerrno>
#include <cstring>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "ClServiceMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyServicesPrivate.h"

namespace {

const uint32_t kErrorNotConnected = 2250;
const uint32_t kErrorClientDetected = 1018;

}  // namespace

CWqError ProxyServicesPrivate::send(ClProxyMsg& msg) {
  CWqError result = m_pConnection->sendMessage(&msg);
  if (result.IsError()) closeLink();
  return result;
}

CWqError ProxyServicesPrivate::receive(ClProxyMsg*& answer, const std::vector<ClProxyMsgType>& types, int seconds) {
  CWqError result = types.empty() ? m_pConnection->recvMessage(answer, seconds)
                                  : m_pConnection->recvMessage(answer, types, seconds);
  // No answer of this exchange: a late one must not answer the next request.
  if (result.IsError()) closeLink();
  return result;
}

CWqError ProxyServicesPrivate::createNewFolder(const char* path) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::createNewFolder failed");
  if (!path) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No folder path given");
  FX_LOG(3, "Starting new folder create ...");

  ClBlobMsg request(CREATE_FOLDER_MSG, ClBlobMsg::Borrow, path, static_cast<uint32_t>(std::strlen(path)));
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);

  ClProxyMsg* received = nullptr;
  result = receive(received, {GOOD_EOF_MSG, FAILED_FILE_MSG, CLIENT_ERROR_MSG},
                   getTimeOutValue(TIMEOUT_CREATE_FOLDER_REPLY));
  std::unique_ptr<ClProxyMsg> answer(received);
  if (result.IsError()) return result.Push(FX_HERE);

  switch (answer->getMsgType()) {
    case GOOD_EOF_MSG:
      return CWqError::Success();
    case FAILED_FILE_MSG: {
      std::string name, text;
      int code = 0;
      static_cast<const ClFailedFileMsg&>(*answer).get(name, code, text);
      CWqError failed = FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Failed to create directory.");
      return failed.Push(FX_HERE, "The client reported [%d] %s", code, text.c_str());
    }
    default:
      FX_LOG(-1, "Error detected on a client. Check client logs.");
      return FXErrorUtil::ErrorWin32(FX_HERE, kErrorClientDetected, "Error detected");
  }
}

CWqError ProxyServicesPrivate::commitBackupJob(int32_t first, uint64_t second, int32_t third, int32_t fourth) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::commitBackupJob failed");
  ClCommitBackupJobMsg request(first, static_cast<unsigned long>(second), third, fourth);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError ProxyServicesPrivate::prepareVTLTape(const std::string& drive, const std::string& tape) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "service already disconnected");

  uint8_t buffer[kTapeRequestBytes];
  uint32_t offset = 0;
  if (ClProxySerializer::serialize(drive, buffer, sizeof buffer, offset) != ClProxySerializer::kSuccess ||
      ClProxySerializer::serialize(tape, buffer, sizeof buffer, offset) != ClProxySerializer::kSuccess)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Drive [%s] and tape [%s] do not fit a %u-byte request",
                                   drive.c_str(), tape.c_str(), kTapeRequestBytes);
  ClBlobMsg request(PREPARE_VTL_TAPE_MSG, ClBlobMsg::Borrow, buffer, offset);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);

  // Each "still working" answer starts a new wait: the client judges how
  // long a tape takes to clear.
  for (;;) {
    ClProxyMsg* received = nullptr;
    result = receive(received, {}, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
    std::unique_ptr<ClProxyMsg> answer(received);
    if (result.IsError()) {
      if (FXErrorUtil::IsErrNo(result, ETIME))
        return result.Push(FX_HERE, "timed out waiting confirmation from client %s to clear tape %s in drive %s",
                           m_sDisplayName.c_str(), tape.c_str(), drive.c_str());
      return result.Push(FX_HERE);
    }
    switch (answer->getMsgType()) {
      case SERVICE_CHECK_MSG:
        continue;
      case GOOD_EOF_MSG:
        FX_LOG(3, "Tape [%s] in drive [%s] was cleared.", tape.c_str(), drive.c_str());
        return CWqError::Success();
      case BAD_EOF_MSG: {
        std::string text;
        static_cast<const ClBadEofMsg&>(*answer).get(text);
        CWqError failed = FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Tape [%s] in drive [%s] failed to be cleared: %s",
                                                  tape.c_str(), drive.c_str(), text.c_str());
        FX_LOG(-1, "%s", failed.AsString().c_str());
        return failed;
      }
      default:
        FX_LOG(-1, "Unexpected message %X from client.", static_cast<unsigned>(answer->getMsgType()));
        continue;
    }
  }
}

CWqError ProxyServicesPrivate::createIndexRequest(uint32_t command, int32_t velliconId, int32_t appId) {
  if (!linkOpen()) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "service already disconnected");
  ClCreateIndexFlagMsg request(static_cast<ClCreateIndexFlagMsg::CreateIndexFlagCmd>(command),
                               static_cast<unsigned int>(velliconId), static_cast<unsigned int>(appId));
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError ProxyServicesPrivate::clearCreateIndexFlag(int32_t velliconId, int32_t clientId, int32_t appId,
                                                    uint64_t jobId) {
  return setCreateIndexFlag(ClCreateIndexFlagMsg::kClearFlag, velliconId, appId);
}

CWqError ProxyServicesPrivate::createIndexComplete(int32_t velliconId, int32_t clientId, int32_t appId,
                                                   uint64_t jobId) {
  return setCreateIndexFlag(ClCreateIndexFlagMsg::kIndexCreated, velliconId, appId);
}

CWqError ProxyServicesPrivate::setCreateIndexFlag(uint32_t command, int32_t velliconId, int32_t appId) {
  auto_lock lock(&m_mutex);
  CWqError result = createIndexRequest(command, velliconId, appId);
  if (result.IsError()) return result;
  ClProxyMsg* received = nullptr;
  result = receive(received, {SERVICE_CHECK_MSG, FAILED_FILE_MSG}, CreateIndexSeconds());
  std::unique_ptr<ClProxyMsg> answer(received);
  if (result.IsError()) return result.Push(FX_HERE);
  if (answer->getMsgType() == SERVICE_CHECK_MSG) return CWqError::Success();
  std::string name, text;
  int code = 0;
  static_cast<const ClFailedFileMsg&>(*answer).get(name, code, text);
  return FXErrorUtil::ErrorInt(FX_HERE, code, "%s", text.c_str());
}

CWqError ProxyServicesPrivate::isCreateIndexRequired(int32_t velliconId, int32_t clientId, int32_t appId,
                                                     uint64_t jobId, bool& required) {
  required = true;
  auto_lock lock(&m_mutex);
  CWqError result = createIndexRequest(ClCreateIndexFlagMsg::kQuery, velliconId, appId);
  if (result.IsError()) return result;
  ClProxyMsg* received = nullptr;
  result = receive(received, {CREATE_INDEX_FLAG_MSG}, CreateIndexSeconds());
  std::unique_ptr<ClProxyMsg> answer(received);
  if (result.IsError()) return result.Push(FX_HERE);
  const uint32_t command = static_cast<const ClCreateIndexFlagMsg&>(*answer).getCommand();
  required = command != ClCreateIndexFlagMsg::kNoIndexNeeded;
  FX_LOG(0, "Client report %s. [%u]", required ? "create index required" : "index was created", command);
  return CWqError::Success();
}
