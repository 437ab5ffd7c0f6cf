// The DR job's state, its status file and the staging-cleanup values.
#include "IBMiDRStateInterface.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "FXString.h"
#include "IxaRecords.h"
#include "JobResults.h"
#include "ProxyFileUtil.h"
#include "KXClient.h"
#include "KXPlatformInfo.h"

namespace {

const int kStatusKind = 26;
const uint32_t kErrorIoIncomplete = 996;
const char kSizePlaceholder[] = "BackupSize";

// Name keys of the status record and of its id-name entry.
const uint32_t kStatusTag = 0x16d6118c;
const uint32_t kStateKey = 0x001dd3e7;
const uint32_t kJobNumberKey = 0x00938cf6;
const uint32_t kEntriesKey = 0x0086869e;
const uint32_t kIdNameTag = 0x1637e266;
const uint32_t kSizeKey = 0x00000d1b;
const uint32_t kTapesKey = 0x00337a8b;

}  // namespace

const char* DRStateText(DRBackupState state) {
  switch (state) {
    case DR_STATE_BEGIN: return "begin";
    case DR_STATE_INITIATED: return "initiated";
    case DR_STATE_IN_RESTRICTED_STATE: return "inRestrictedState";
    case DR_STATE_IN_SUSPENDED_STATE: return "inSuspendedState";
    case DR_STATE_SERVICES_BACK: return "servicesBack";
    case DR_STATE_SUCCESS: return "status:Success";
    case DR_STATE_FAILED: return "status:Failed";
    case DR_STATE_INDEX_UPDATE_PENDING: return "IndexUpdatePending";
  }
  return "n/a";
}

IBMiDRStateInterface::IBMiDRStateInterface(int velliconId, int appId, long long jobId)
    : m_llJobId(jobId),
      m_eState(DR_STATE_BEGIN),
      m_iAppId(appId),
      m_iVelliconId(velliconId),
      m_uiSystemBackupSize(0) {
  Ixa::RegisterSubsystem();
}

CWqError IBMiDRStateInterface::setTapeList(const std::string& tapes) {
  m_sTapeList = tapes;
  return CWqError::Success();
}

CWqError IBMiDRStateInterface::getTapeList(std::list<std::string>& tapes) {
  // No tapes is an empty list, not one empty barcode.
  if (m_sTapeList.empty()) {
    tapes.clear();
    return CWqError::Success();
  }
  FXString::Split(m_sTapeList, ":", tapes, 0);
  return CWqError::Success();
}

std::string IBMiDRStateInterface::statusFilePath() const {
  return RetrieveResults(m_iVelliconId, m_llJobId, kStatusKind, NULL, 0).getPath();
}

CWqError IBMiDRStateInterface::saveStatus() {
  Ixa::IBMIDRJobStatus record;
  record.setint64(1, 1, static_cast<int64_t>(m_eState), kStatusTag, kStateKey);
  record.setstring(2, 2, m_sBackupJobNumber, kStatusTag, kJobNumberKey);

  Ixa::IdName entry;
  entry.setint64(1, 1, static_cast<int64_t>(static_cast<uint64_t>(m_uiSystemBackupSize)), kIdNameTag, kSizeKey);
  // The entry never carries an empty string.
  entry.setstring(2, 2, m_sTapeList.empty() ? std::string(kSizePlaceholder) : m_sTapeList, kIdNameTag,
                  kTapesKey);
  std::vector<CNMessageBase>* entries = record.getlistobject(3, 6, kStatusTag, kEntriesKey, true);
  entries->clear();
  entries->push_back(entry);

  std::string line;
  record.serialize(line, true);
  FX_LOG(2, "DR STATUS:[%s]", line.c_str());

  StoreResults store(m_iVelliconId, m_llJobId, true, NULL);
  int rc = store.openFile(kStatusKind, false, true);
  if (rc == 0) rc = store.putLine(line, true);
  if (rc == 0) rc = store.closeFile();
  if (rc != 0) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorIoIncomplete, "failed to save status file");

  FX_LOG(2, "Status saved: state:%s JOBNUM:%s", toString().c_str(), m_sBackupJobNumber.c_str());
  return CWqError::Success();
}

CWqError IBMiDRStateInterface::restoreStatus() {
  const std::string path = statusFilePath();
  FX_LOG(0, "Status file '%s'", path.c_str());
  if (!FXPath::DoesPathExist(path)) return CWqError::Success();

  // What stands at the path is looked at before it is opened: a FIFO would
  // block the open, a link could point anywhere.
  struct stat seen;
  if (lstat(path.c_str(), &seen) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "failed to open status file '%s'", path.c_str());
  }
  if (!S_ISREG(seen.st_mode))
    return FXErrorUtil::ErrorErrNo(FX_HERE, S_ISDIR(seen.st_mode) ? EISDIR : EINVAL,
                                   "failed to open status file '%s': not a regular file", path.c_str());
  const int fd = ProxyFileUtil::OpenForReading(path, O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "failed to open status file '%s'", path.c_str());
  }
  ProxyFileUtil::ScopedDescriptor holder(fd);
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "failed to open status file '%s'", path.c_str());
  }
  // Replaced between the look and the open: not the file that was checked.
  if (!S_ISREG(info.st_mode) || info.st_dev != seen.st_dev || info.st_ino != seen.st_ino)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "failed to open status file '%s': it changed while opened",
                                   path.c_str());
  if (info.st_size == 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "file '%s' is empty", path.c_str());
  // A runaway file is no status of ours; reading it whole could exhaust memory.
  if (static_cast<uint64_t>(info.st_size) > kMaxStatusFileSize)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "status file '%s' is too large (%lld bytes)", path.c_str(),
                                   static_cast<long long>(info.st_size));
  std::string text(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < text.size()) {
    ssize_t got = read(fd, &text[done], text.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, err, "failed to read status file '%s'", path.c_str());
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  text.resize(done);
  FX_LOG(2, "DR STATUS:[%s]", text.c_str());

  // Parsed into a record of its own, so a file that is no status leaves the
  // object as it was instead of resetting the job to its first step.
  // The parser refuses a field given twice, nested records' included.
  Ixa::IBMIDRJobStatus record;
  std::string problem;
  if (record.unserialize(text, &problem) != CN_PARSE_OK)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "status file '%s' holds no DR job status: %s", path.c_str(),
                                   problem.c_str());
  if (!record.isSet(1))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "status file '%s' holds no DR job status", path.c_str());
  // A state of another type would read as 0 and start the whole save again.
  int64_t state = 0;
  if (!record.findint64(1, 1, kStatusTag, kStateKey, state))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "status file '%s' holds a state that is not an integer",
                                   path.c_str());

  m_eState = static_cast<DRBackupState>(static_cast<int32_t>(state));
  m_sBackupJobNumber = record.getstring(2, 2, kStatusTag, kJobNumberKey);
  std::vector<CNMessageBase>* entries = record.getlistobject(3, 6, kStatusTag, kEntriesKey, false);
  if (entries && !entries->empty()) {
    const CNMessageBase& first = entries->front();
    std::string tapes = first.getstring(2, 2, kIdNameTag, kTapesKey);
    uint32_t bytes = static_cast<uint32_t>(first.getint64(1, 1, kIdNameTag, kSizeKey));
    FX_LOG(5, " [%s] => [%u]", tapes.c_str(), bytes);
    m_uiSystemBackupSize = bytes;
    m_sTapeList = tapes;
  }
  if (m_sTapeList == kSizePlaceholder) m_sTapeList.clear();

  FX_LOG(2, "Status restored: state:%s JOBNUM:%s Size:%u Tapes:[%s]", toString().c_str(),
         m_sBackupJobNumber.c_str(), m_uiSystemBackupSize, m_sTapeList.c_str());
  return CWqError::Success();
}

CWqError IBMiDRStateInterface::scheduleCleanupDRFolder(int32_t clientId, KXJobID jobId, const std::string& mediaDir) {
  std::string name;
  KXClient client(m_iVelliconId, clientId);
  std::string text;
  if (client.getName(name, &text) != 0 || name.empty()) {
    // Under the bare "ProxyClients/" section another client's manager would
    // find the pair and have its own daemon delete that folder.
    FX_LOG(-1, "Cannot record the DR staging folder [%s] of client %d: no client name (%s)", mediaDir.c_str(),
           static_cast<int>(clientId), text.c_str());
    return CWqError::Success();
  }
  const std::string section = "ProxyClients/" + name;

  KXPlatformInfo settings;
  int rc = settings.setString(section, "CleanUpFolder", mediaDir.c_str(), mediaDir.size());
  FX_LOG(0, "Set CleanUpFolder rc=%d", rc);
  if (rc != 0) FX_LOG(-1, "Cannot record the DR staging folder [%s] for %s (%d)", mediaDir.c_str(), name.c_str(), rc);
  char jobText[32];
  std::snprintf(jobText, sizeof(jobText), "%lld", static_cast<long long>(jobId));
  rc = settings.setString(section, "CleanUpFolderJob", jobText, std::strlen(jobText));
  FX_LOG(0, "Set CleanUpFolderJob rc=%d", rc);
  if (rc != 0) FX_LOG(-1, "Cannot record the DR staging job %s for %s (%d)", jobText, name.c_str(), rc);
  return CWqError::Success();
}
