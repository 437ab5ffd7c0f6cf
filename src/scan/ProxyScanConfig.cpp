// The scan configuration and the new-content filter.
#include <boost/shared_ptr.hpp>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AppMsgs.h"
#include "ApplicationId.h"
#include "CProxyFileSystemSendEvents.h"
#include "ClScanMsgs.h"
#include "ClientApplicationList.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ISendEventInterface.h"
#include "ProxyScan.h"
#include "ScanEventIds.h"
#include "ScanText.h"

namespace {

const char kCommandFilePrefix[] = "/<ContentFile>";
const size_t kCommandFilePrefixLength = 14;
const char kLibraryRoot[] = "QSYS.LIB";
const char kAllObjects[] = "***";
// What the central server may leave at the end of a content path.
const char kServerPathEnding[] = "\\/\\/";
const KXBkpLevel kFullBackup = 1;

// Field descriptors of the new-content request and answer.
const uint32_t kAppMsgTag = 0x1e5ce865;
const uint32_t kSubclientIdName = 0xa4b486;
const uint32_t kLastBackupTimeName = 0x8638f6;
const uint32_t kBackupLevelName = 0xe83fc7;
const uint32_t kAnswerTag = 0x1e4024e9;
const uint32_t kContentListName = 0xceba77;

// Sync-library content must name whole libraries: /QSYS.LIB/LIB.LIB or
// /ASP/QSYS.LIB/LIB.LIB, possibly followed by a piece beginning with "***".
bool IsWholeLibrary(const std::string& entry) {
  const std::vector<std::string> pieces = ScanText::Split(entry, '/');
  if (pieces.size() < 3) return false;
  size_t root;
  if (pieces[1] == kLibraryRoot)
    root = 1;
  else if (pieces[2] == kLibraryRoot)
    root = 2;
  else
    return false;
  if (pieces.size() == root + 2) return true;
  return pieces.size() > root + 2 && pieces[root + 2].compare(0, 3, kAllObjects) == 0;
}

// The installed event sender, or a new one for this job when none is.
boost::shared_ptr<ISendEventInterface> EventSender(uint64_t jobId) {
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (sender) return sender;
  CProxyFileSystemSendEvents* made =
      new (std::nothrow) CProxyFileSystemSendEvents(static_cast<long long>(jobId), nullptr);
  if (!made) return sender;
  sender.reset(made);
  ISendEventInterface::SetInstance(sender);
  return sender;
}

}  // namespace

CWqError ProxyScan::sendScanConfig(std::list<std::string>& content, std::list<std::string>& second,
                                   std::list<std::string>& third, std::list<std::string>& fourth,
                                   std::list<std::pair<std::string, std::string>>& options) {
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the scan program: init has not set it up");
  if (content.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The scan configuration has no content to scan");

  const bool commandFileJob =
      ScanText::CompareLeftNoCase(content.front(), kCommandFilePrefix, kCommandFilePrefixLength) == 0;
  if (commandFileJob && m_eBackupLevel != kFullBackup) {
    boost::shared_ptr<ISendEventInterface> sender = EventSender(m_ullJobId);
    if (sender)
      sender->SendInfoEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, EV_COMMAND_FILE_FULL_ONLY),
                            static_cast<long long>(m_ullJobId), 0);
    FX_LOG(0, "The subclient with command file supports only a Full Backup job. The job will behave as Full backup.");
  }
  options.push_back(std::make_pair(std::string("isCommandFileJob"), std::string(commandFileJob ? "1" : "0")));

  if (m_bSyncLibEnabled && !commandFileJob) {
    std::string refused;
    for (const std::string& entry : content) {
      if (IsWholeLibrary(entry)) continue;
      if (!refused.empty()) refused += ", ";
      refused += "'" + entry + "'";
    }
    if (!refused.empty())
      return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_SYNCLIB_BAD_CONTENT, "Found %s.", refused.c_str());
  }

  FX_LOG(0, "jobType[%d]", static_cast<int>(m_eBackupLevel));
  if (m_eBackupLevel != kFullBackup) {
    FX_LOG(3, "Loading new content filters for non-full backup.");
    CWqError loaded = LoadNewContentFilter();
    if (loaded.IsError()) FX_LOG(-1, "%s", loaded.AsString().c_str());
  }

  std::unique_ptr<ClScanConfigMsg> config(new ClScanConfigMsg(content, second, third, fourth, m_newContent, options));
  CWqError result = m_pSrvConnection->sendMessage(config.get());
  config.reset();
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}

CWqError ProxyScan::LoadNewContentFilter() {
  ApplicationId application(m_iVelliconId, m_iAppId);
  Subclient* subclient = application.getSubclient(NULL);
  if (!subclient) {
    FX_LOG(-1,
           "Failed to derive Subclient object from NumericAppId. New scan contents cannot be considered for tihs "
           "job.");
    return CWqError::Success();
  }

  int32_t subclientId = 0;
  subclient->getSubclientId(subclientId, NULL);
  int lastBackupTime = 0;
  subclient->getLastBackupStartTime(lastBackupTime, NULL);  // 0 when unknown: everything counts as new
  App::GetModifiedFileListReq request;
  request.setint64(1, 1, subclientId, kAppMsgTag, kSubclientIdName);
  request.setint64(3, 3, lastBackupTime, kAppMsgTag, kLastBackupTimeName);
  request.setint64(2, 2, m_eBackupLevel, kAppMsgTag, kBackupLevelName);
  std::string requestText;
  request.serialize(requestText, false);
  FX_LOG(0, "XML Request [%s]", requestText.c_str());

  std::string response;
  int rc = ClientApplicationList::getModifiedFileList(requestText, response, NULL);
  if (rc != 0)
    return FXErrorUtil::ErrorKXResult(
        FX_HERE, rc,
        "Zentrave failed to recognize GetModifiedFileListReq request, new content feature disabled for this scan");
  if (response.empty()) {
    FX_LOG(-1,
           "GetModifiedFileListReq response is empty. No new subclient content added since previous backup. "
           "Result=%d",
           0);
    return CWqError::Success();
  }

  FX_LOG(0, "Response: '%s'", response.c_str());
  App::GetModifiedFileListResp answer;
  int parsed = answer.unserialize(response);
  if (parsed != 0) {
    FX_LOG(-1,
           "GetModifiedFileListReq failed, result=%d, response=%s, defaulting to no new subclient content added "
           "since previous backup",
           parsed, response.c_str());
    return CWqError::Success();
  }

  const std::vector<std::string>* paths = answer.getliststring(1, 1, kAnswerTag, kContentListName, false);
  if (!paths) return CWqError::Success();
  for (std::string path : *paths) {
    if (path.empty()) {
      FX_LOG(0, "Server returned empty content, skipping...");
      continue;
    }
    FX_LOG(0, "Discovered new content [%s]", path.c_str());
    if (ScanText::MatchRightNoCase(path, kServerPathEnding)) {
      path = ScanText::RemoveRight(path, sizeof(kServerPathEnding) - 1);
      FX_LOG(0, "Removing '\\/\\/'. new content[%s]", path.c_str());
    }
    m_newContent.push_back(path);
  }
  return CWqError::Success();
}
