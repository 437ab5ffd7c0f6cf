// The IBM i update through the daemon: the package over a "SERVICE"
// connection, the services going down, and two connects in a row once the
// daemon is back. Every sleep and time read is the platform clock's.
#include <cerrno>
#include <fstream>
#include <memory>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClFileStreamMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "FXThread.h"
#include "ProxyEventIds.h"

namespace {

const size_t kBlockSize = 65536;
const int kProbePauseMs = 3000;
const int kDownPauseMs = 60000;
const int kPassPauseMs = 5000;
const int kRetryMs = 15000;
const int kSlowRetryMs = 30000;
const int64_t kSlowRetryAfterSeconds = 600;

}  // namespace

CWqError ClClientManager::updateIBMI(long long jobId) {
  raiseInfoEvent(EV_CLIENT_OUT_OF_DATE, jobId);
  FX_LOG(0, "Remote client '%s' is not up-to-date. Will request update.", host.c_str());

  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  link->setDisconnectOnDelete(true);
  CWqError result = link->connectToClient(host, port, velliconId, appId, clientId, true);
  if (result.IsError()) return result.Push(FX_HERE);
  ClLaunchCmdMsg launch(0, "SERVICE");
  result = link->sendMessage(&launch);
  if (result.IsError()) return result.Push(FX_HERE);

  ClEmptyMsg announce(CLIENT_UPDATE_MSG);
  result = link->sendMessage(&announce);
  if (result.IsError()) {
    FX_LOG(-1, "%s", result.AsString().c_str());
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message send failed");
  }
  raiseInfoEvent(EV_CLIENT_INSTALL_STARTED, jobId);

  // Transfer.
  const std::string package = FXPath::Append(localPackageFolder, "KXINSTPKG.savf", 0);
  std::ifstream file(package, std::ios::binary);
  std::unique_ptr<char[]> block(new char[kBlockSize]);
  auto sendFailed = [&](const CWqError& error) {
    file.close();
    FX_LOG(-1, "%s", error.AsString().c_str());
    raiseInfoEvent(EV_CLIENT_INSTALL_FAILED, jobId);
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message send failed");
  };
  while (file.is_open() && file.good()) {
    file.read(block.get(), static_cast<std::streamsize>(kBlockSize));
    const std::streamsize got = file.gcount();
    if (got <= 0) break;
    ClBlobMsg data(FILE_DATA_MSG, ClBlobMsg::Borrow, block.get(), static_cast<uint32_t>(got));
    result = link->sendMessage(&data);
    if (result.IsError()) return sendFailed(result);
  }
  if (file.is_open() && file.eof() && !file.bad()) {
    FX_LOG(0, "package has been transfered to client");
    ClEmptyMsg end(GOOD_EOF_MSG);
    result = link->sendMessage(&end);
  } else {
    FX_LOG(0, "failure while transferring file eof:%d good:%d", file.eof() ? 1 : 0, file.good() ? 1 : 0);
    ClBadEofMsg end("failed to send package file");
    result = link->sendMessage(&end);
  }
  file.close();
  if (result.IsError()) return sendFailed(result);

  // Acknowledgement.
  ClProxyMsg* received = nullptr;
  result = link->recvMessage(received, {CLIENT_VERSION_MSG, GOOD_EOF_MSG, BAD_EOF_MSG},
                             getTimeOutValue(TIMEOUT_UPDATE_ACK));
  std::unique_ptr<ClProxyMsg> ack(received);
  if (result.IsError() || !ack) {
    raiseInfoEvent(EV_CLIENT_INSTALL_FAILED, jobId);
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message receive failed");
  }
  if (ack->getMsgType() != GOOD_EOF_MSG) {
    raiseInfoEvent(EV_CLIENT_INSTALL_FAILED, jobId);
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "can't copy package to remote machine");
  }
  ack.reset();
  FX_LOG(0, "Client accepted package and starting update");
  const int64_t acknowledged = FXTime();

  // Services stop: a probe that can no longer be sent means they are down.
  const int64_t stopLimit = getTimeOutValue(TIMEOUT_UPDATE_SERVICES_STOP);
  for (;;) {
    ClEmptyMsg probe(SERVICE_CHECK_MSG);
    if (link->sendMessage(&probe).IsError()) break;
    if (FXTime() - acknowledged > stopLimit) {
      link.reset();
      FX_LOG(-1, "Client services didn't stop as part of the update installation.");
      return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED,
                                            "Client services didn't stop as part of the update installation.");
    }
    FXThread::Sleep(kProbePauseMs);
  }

  FX_LOG(1, "Closing connection and will re-connect soon...");
  link.reset();
  FXThread::Sleep(kDownPauseMs);
  const int64_t reconnectLimit = static_cast<int64_t>(getTimeOutValue(TIMEOUT_UPDATE_RECONNECT)) * 60;
  int count = 0;
  bool slowRetry = false;

  for (;;) {
    if (count > 1) return CWqError::Success();
    FXThread::Sleep(kPassPauseMs);
    ClProxyClientConnectionPtr again(new ClProxyClientConnection());
    for (;;) {
      result = again->connectToClient(host, port, velliconId, appId, clientId, true);
      FX_LOG(1, "Re-connecting to client (firstEvent=%d)  --> %s", slowRetry ? 1 : 0,
             result.IsError() ? result.AsString().c_str() : "success");
      if (!result.IsError()) break;
      const std::string text = result.AsString();
      if (!FXErrorUtil::IsErrNo(result, ECONNREFUSED)) {
        FX_LOG(-1, "%s", text.c_str());
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED,
                                              "Can't connect to the remote client using host name '%s' and port "
                                              "'%d'. Services down or network error. %s",
                                              host.c_str(), static_cast<int>(port), text.c_str());
      }
      if (count != 0) FX_LOG(-1, "Failed to connect on second attempt.");
      count = 0;
      const int64_t elapsed = FXTime() - acknowledged;
      if (!slowRetry && elapsed > kSlowRetryAfterSeconds)
        slowRetry = true;
      else if (slowRetry && elapsed > reconnectLimit)
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED,
                                              "Can't connect to the remote client using host name '%s' and port "
                                              "'%d'. Services down or network error. %s",
                                              host.c_str(), static_cast<int>(port), text.c_str());
      FXThread::Sleep(slowRetry ? kSlowRetryMs : kRetryMs);
    }
    FX_LOG(1, "Re-connected to client...");
    ClEmptyMsg disconnect(DISCONNECT_MSG);
    again->sendMessage(&disconnect);  // the link closes anyway
    again.reset();
    ++count;
  }
}
