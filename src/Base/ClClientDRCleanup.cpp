// The DR staging-folder cleanup: a folder that a failed IBM i DR job left on
// the client is removed by the client daemon once that job has ended; the
// settings pair that records it goes only when the daemon confirms.
#include <cerrno>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClClientManager.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXJobQuery.h"
#include "KXPlatformInfo.h"

namespace {

bool JobEnded(int state) {
  switch (state) {
    case 4: case 6: case 9: case 10: case 11: case 12: case 13: case 19:
      return true;
    default:
      return false;
  }
}

// A whole decimal number, optionally signed, that fits.
bool WholeNumber(const std::string& text, long long& value) {
  if (text.empty()) return false;
  size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0';
}

}  // namespace

CWqError ClClientManager::CheckAndCleanupDRFolder(bool noManage) {
  // The DR backup never records a pair under an empty name; reading the bare
  // section would act on another client's leftovers.
  if (clientName.empty()) {
    FX_LOG(2, "no registry set to clean up DR folder");
    return CWqError::Success();
  }
  KXPlatformInfo settings;
  const std::string section = "ProxyClients/" + clientName;
  std::string folder, jobText;
  if (!settings.getString(section, "CleanUpFolder", &folder) ||
      !settings.getString(section, "CleanUpFolderJob", &jobText)) {
    FX_LOG(2, "no registry set to clean up DR folder");
    return CWqError::Success();
  }
  if (folder.empty() || jobText.empty()) {
    FX_LOG(2, "registry to clean up DR folder has empty string");
    settings.delRegField("~" + section, "CleanUpFolder");
    settings.delRegField("~" + section, "CleanUpFolderJob");
    return CWqError::Success();
  }
  FX_LOG(2, "registry to clean up DR folder set to [%s] job %s", folder.c_str(), jobText.c_str());

  long long jobId = 0;
  if (!WholeNumber(jobText, jobId)) {
    // Read as job 0 it would ask about some other job.
    FX_LOG(-1, "The DR cleanup job [%s] is not a number; the cleanup stays recorded", jobText.c_str());
    return CWqError::Success();
  }

  char server[256] = {0};
  settings.findZentraverHostName(server, sizeof(server));
  KXJobQuery query;
  query.setPlatformType(static_cast<KXS_PLATFORMTYPE>(4));
  if (!query.init(server)) return FXErrorUtil::ErrorWin32(FX_HERE, 774, "Failed to initialize KXJobQuery object.");
  const int state = query.GetJobStatus(jobId);
  if (!JobEnded(state)) {
    FX_LOG(0, "Job %s is still in active state (%d). Will not clean up now.", jobText.c_str(), state);
    return CWqError::Success();
  }
  FX_LOG(0, "Job %s has eneded with state (%d).", jobText.c_str(), state);

  ClIBMDRBackupCleanMsg request(velliconId, 0, appId);
  request.setDRMediaLocation(folder);
  FX_LOG(0, "Will cleanup DVD image staging location [%s]", folder.c_str());

  ClProxyClientConnectionPtr link(new ClProxyClientConnection());
  link->setDisconnectOnDelete(true);
  CWqError result = link->connectToClient(host, port, velliconId, appId, clientId, noManage);
  if (result.IsError())
    return result.Push(FX_HERE,
                       "Can't connect to the remote client using host name '%s' and port '%d'. Services down or "
                       "network error. %s",
                       host.c_str(), static_cast<int>(port), result.AsString().c_str());
  ClLaunchCmdMsg launch(0, "SERVICE");
  result = link->sendMessage(&launch);
  if (result.IsError()) return result.Push(FX_HERE);
  result = link->sendMessage(&request);
  if (result.IsError()) {
    FX_LOG(-1, "Failed send cleanup request to %s for %s", clientName.c_str(), folder.c_str());
    return result.Push(FX_HERE);
  }

  ClProxyMsg* received = nullptr;
  result = link->recvMessage(received, {GOOD_EOF_MSG, FAILED_FILE_MSG, CLIENT_ERROR_MSG},
                             getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) {
    if (FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(-1, "time out for message reply from client %s", clientName.c_str());
      return result.Push(FX_HERE, "no confirmation from client");
    }
    FX_LOG(-1, "receive from %s failed", clientName.c_str());
    return result.Push(FX_HERE);
  }
  if (!reply) return FXErrorUtil::ErrorInt(FX_HERE, 1, "Empty message");
  if (reply->getMsgType() == GOOD_EOF_MSG) {
    settings.delRegField("~" + section, "CleanUpFolder");
    settings.delRegField("~" + section, "CleanUpFolderJob");
    FX_LOG(0, "DVD image staging location [%s] is removed.", folder.c_str());
    return CWqError::Success();
  }
  if (reply->getMsgType() == FAILED_FILE_MSG) {
    std::string name, text;
    int error = 0;
    if (const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(reply.get())) failed->get(name, error, text);
    CWqError cause = FXErrorUtil::ErrorErrNo(FX_HERE, 14, "%d:%s", error, text.c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, 14, "DR backup cleanup failed:%s", cause.AsString().c_str());
  }
  FX_LOG(-1, "Error detected on a client. Check client logs.");
  return FXErrorUtil::ErrorWin32(FX_HERE, 1627, "Error detected");
}
