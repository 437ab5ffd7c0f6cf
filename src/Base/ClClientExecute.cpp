// One command run on a client for a host: an IBM i client through its
// daemon's "SERVICE" connection (the answer becomes a fixed status text), an
// OpenVMS client over ssh (the result is what the command printed).
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"

const char* const ClClientManager::kExecuteSuccessText = "KXSTATUS = \"%X00000000\"";
const char* const ClClientManager::kExecuteFailureText = "KXSTATUS = \"%X00000001\"";

CWqError ClClientManager::executeOnClient(const char* command, std::string& result) {
  if (!command) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No command to run on the client");
  // Without the client's data nothing can run: success here would report a
  // command that never ran.
  if (!initialized || osId == 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL,
                                   "The client data is not loaded: nothing ran on the client");

  if (osId == CLIENT_OS_IBMI) {
    CWqError outcome = executeOnIBMi(command, result);
    if (outcome.IsError()) return outcome;
  } else if (osId == CLIENT_OS_OPENVMS) {
    CWqError outcome = executeOnOpenVMS(command, result);
    if (outcome.IsError()) return outcome;
  }
  FX_LOG(2, "Result:\n%s", result.c_str());
  return CWqError::Success();
}

CWqError ClClientManager::executeOnIBMi(const char* command, std::string& result) {
  FX_LOG(0, "Connecting to [%s:%d]...", host.c_str(), static_cast<int>(port));
  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  CWqError outcome = link->connectToClient(host, port, velliconId, appId, clientId, false);
  if (outcome.IsError())
    return outcome.Push(FX_HERE,
                        "Can't connect to the remote client using host name '%s' and port '%d'. Services down or "
                        "network error. %s",
                        host.c_str(), static_cast<int>(port), outcome.AsString().c_str());

  ClLaunchCmdMsg launch(0, "SERVICE");
  outcome = link->sendMessage(&launch);
  if (outcome.IsError()) {
    FX_LOG(-1, "%s", outcome.AsString().c_str());
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message send failed");
  }
  ClBlobMsg request(EXECUTE_COMMAND_MSG, ClBlobMsg::Copy, command, static_cast<uint32_t>(std::strlen(command)));
  outcome = link->sendMessage(&request);
  if (outcome.IsError()) {
    FX_LOG(-1, "%s", outcome.AsString().c_str());
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message send failed");
  }

  // The command runs as long as it runs: no time limit, only the link's end.
  ClProxyMsg* received = nullptr;
  outcome = link->recvMessage(received, {EXECUTE_SUCCESS_MSG, EXECUTE_FAILURE_MSG, CLIENT_ERROR_MSG}, 0);
  std::unique_ptr<ClProxyMsg> answer(received);
  if (outcome.IsError() || !answer) {
    FX_LOG(-1, "%s", outcome.IsError() ? outcome.AsString().c_str() : "no message");
    return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_OPERATION_FAILED, "message receive failed");
  }
  const bool succeeded = answer->getMsgType() == EXECUTE_SUCCESS_MSG;
  FX_LOG(0, "Client remote exec return %s", succeeded ? "SUCCESS" : "FAILURE");
  result = succeeded ? kExecuteSuccessText : kExecuteFailureText;
  return CWqError::Success();
}

CWqError ClClientManager::executeOnOpenVMS(const char* command, std::string& result) {
  // Read as the shell would read it, but nothing is expanded and no shell
  // runs: the words reach the client's DCL joined by blanks.
  std::vector<std::string> words;
  CWqError outcome = KxProcess::SplitWords(command, words);
  if (outcome.IsError()) return outcome.Push(FX_HERE, "The command cannot be read: nothing ran on the client");
  std::string remote;
  for (const std::string& word : words) remote += (remote.empty() ? "" : " ") + word;

  std::string line;
  outcome = remoteShellLine(remote, line);
  if (outcome.IsError()) return outcome.Push(FX_HERE);
  FX_LOG(3, "starting using ssh [%s]", command);
  // The same limit as every other remote step: a command that sleeps, or a
  // peer that never answers, holds the caller no longer than that (limitMs
  // left at 0: the run reads the configured limit itself).
  KxProcess::Options options;
  std::string errorOutput;
  const int status = KxProcess::system(line, options, &result, &errorOutput);
  if (result.empty() && !errorOutput.empty()) result = errorOutput;

  // A hop that never reached the client is no answer of the command.
  const std::string hop = hopFailure(status, errorOutput);
  if (!hop.empty()) return hopError(FX_HERE, hop);
  return CWqError::Success();
}
