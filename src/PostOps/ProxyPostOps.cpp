#include "ProxyPostOps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "ApplicationId.h"
#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyEventIds.h"
#include "ProxyFileUtil.h"
#include "ProxyJobOptions.h"

using ProxyFileUtil::AppendPath;
using ProxyFileUtil::OpenForReading;
using ProxyFileUtil::ReadSome;
using ProxyFileUtil::ScopedDescriptor;

namespace {

const char kClientProgram[] = "PST.EXE";
const char kListFileName[] = "BackedUpFiles.kxf";
const size_t kBlockSize = 65536;

}  // namespace

ProxyPostOps::ProxyPostOps() {}

ProxyPostOps::~ProxyPostOps() {}

CWqError ProxyPostOps::init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                            int64_t jobStartValue, const std::string& host, uint16_t port) {
  FX_LOG(2, "Standard PostOps call for %s", kClientProgram);
  return Proxy::init(velliconId, appId, clientId, jobId, level, jobStartValue, kClientProgram, host, port);
}

CWqError ProxyPostOps::setJobOptions(ClJobStartMsg* msg) {
  if (!msg) return CWqError::Success();
  ApplicationId application(m_iVelliconId, m_iAppId);
  if (!application.getSubclient(NULL)) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_SUBCLIENT_NOT_FOUND);

  EvTask task(m_ullJobId, 0, NULL, false);
  FX_LOG(2, "ProxyPostOps::setJobOptions");
  const int logOption = ProxyJobOptions::SetJobLogOptions(task, *msg, ProxyJobOptions::kJobLogBasic);
  FX_LOG(2, "JobLog option [%d]", logOption);
  return CWqError::Success();
}

CWqError ProxyPostOps::sendJobComplete() {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  std::unique_ptr<ClEmptyMsg> request(new ClEmptyMsg(JOB_COMPLETE_MSG));
  CWqError result = m_pSrvConnection->sendMessage(request.get());
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyPostOps::sendVMSBackedUpFilesList(const std::string& dir) {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  const std::string path = AppendPath(dir, kListFileName);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlockSize]);

  ScopedDescriptor file(OpenForReading(path));
  if (!file.IsOpen()) {
    const int errNo = errno;
    CWqError error =
        FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "failed to open the PostOps file");
    error.Push(FX_HERE, "%s: %s", path.c_str(), std::strerror(errNo));
    return error;
  }

  // Each message goes as soon as it is built and is gone right after; the
  // first send that fails ends the transfer.
  auto send = [&](std::unique_ptr<ClProxyMsg> message) -> CWqError {
    CWqError sent = m_pSrvConnection->sendMessage(message.get());
    message.reset();
    if (!sent.IsError()) return sent;
    file.Close();
    FX_LOG(-1, "%s", sent.AsString().c_str());
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message send failed");
  };

  // The client takes the proxy-side path with its terminating NUL.
  CWqError result = send(std::unique_ptr<ClProxyMsg>(
      new ClBlobMsg(FILE_HEADER_MSG, ClBlobMsg::Copy, path.c_str(), static_cast<uint32_t>(path.size() + 1))));
  if (result.IsError()) return result;

  bool atEnd = false;
  int readErrNo = 0;
  for (;;) {
    const ssize_t got = ReadSome(file.Get(), buffer.get(), kBlockSize);
    if (got == 0) {
      atEnd = true;
      break;
    }
    if (got < 0) {
      readErrNo = errno;
      break;
    }
    result = send(std::unique_ptr<ClProxyMsg>(new ClBlobMsg(FILE_DATA_MSG, ClBlobMsg::Borrow, buffer.get(), static_cast<uint32_t>(got))));
    if (result.IsError()) return result;
  }

  if (atEnd) {
    FX_LOG(0, "file transfered eof:%d good:%d", 1, 0);
    result = send(std::unique_ptr<ClProxyMsg>(new ClEmptyMsg(GOOD_EOF_MSG)));
    if (result.IsError()) return result;
    return CWqError::Success();
  }

  FX_LOG(0, "failure while transferring file eof:%d good:%d", 0, 0);
  result = send(std::unique_ptr<ClProxyMsg>(new ClBadEofMsg("failed to send PostOps file")));
  if (result.IsError()) return result;
  // The client was told, but the host must not take the list for delivered.
  CWqError error =
      FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "failed to read the PostOps file");
  error.Push(FX_HERE, "%s: %s", path.c_str(), std::strerror(readErrNo));
  return error;
}
