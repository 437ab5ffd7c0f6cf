// Configuration of one IBM i DR job: records, media-directory check, library
// names, the users' warning and the IBM i name helpers.
#include "IBMiDRConfiguration.h"

#include <cerrno>
#include <cctype>
#include <cstdio>
#include <new>

#include "ApplicationId.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "FXString.h"
#include "KXClient.h"
#include "KXJobControl.h"
#include "Subclient.h"

namespace {

const uint16_t kDefaultDaemonPort = 9401;
const char kDefaultNotifyMessage[] = "The system will shut down in ## minutes. Please save your work and logout.";

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  return FXString::CompareLeftNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

std::list<std::string> SplitKeep(const std::string& text, const std::string& separator) {
  std::list<std::string> pieces;
  FXString::Split(text, separator, pieces, 0);
  return pieces;
}

CWqError RefuseDirectory(KXBkpJobClient* jobClient, uint32_t eventId, const std::string& path) {
  CWqError error = FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR directory '%s' can't be used", path.c_str());
  if (jobClient) {
    *jobClient << path.c_str();
    jobClient->setPendingCauseAndCriticalEvent(FXErrorUtil::ErrorEventMessage(FX_HERE, eventId), 0, false,
                                               PENDING_CAUSE_MESSAGE_TYPE, false, 0, 0, 0, 0);
  }
  return error;
}

}  // namespace

IBMiDRConfigurationInterface::IBMiDRConfigurationInterface(int velliconId, int appId, long long jobId, bool ipl)
    : m_bIPL(ipl),
      m_bSuspendJob(false),
      m_iDelayBeforeShutDown(1),
      m_iMaxJobDuration(250),
      m_iClientPort(0),
      m_ulClientId(~0ULL),
      m_llJobId(jobId),
      m_iAppId(appId),
      m_iVelliconId(velliconId),
      m_pSubclient(nullptr) {}

IBMiDRConfigurationInterface::~IBMiDRConfigurationInterface() {}

CWqError IBMiDRConfigurationInterface::configure() {
  if (m_iVelliconId < 1) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "VelliconID not set");
  if (m_iAppId < 1) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "AppID not set");

  m_pApplicationId.reset(new (std::nothrow) ApplicationId(m_iVelliconId, m_iAppId));
  if (!m_pApplicationId) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "failed create ApplicationID object");
  Subclient* subclient = m_pApplicationId->getSubclient(NULL);
  if (!subclient)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "failed get subclient object (%d:%d)", m_iVelliconId, m_iAppId);
  // A subclient without a client record is as unusable as no subclient.
  KXClient* client = m_pApplicationId->getClient(NULL);
  if (!client)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "failed get subclient object (%d:%d)", m_iVelliconId, m_iAppId);

  if (client->getClientId(m_ulClientId) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Failed to get client id.");
  if (client->getNetworkHostname(m_sClientName) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Failed to get proxy host name. Client ID [%lu]",
                                   static_cast<unsigned long>(m_ulClientId));
  uint64_t port = kDefaultDaemonPort;
  if (client->getKXDPort(port) != 0 || port == 0 || port > 65535) port = kDefaultDaemonPort;
  m_iClientPort = static_cast<int32_t>(port);

  subclient->getDRDataPath(m_sDRMediaPath);
  // Read here as well as for the start message, so a job resumed past its
  // start waits with its own delay and duration.
  subclient->getIBMiNotifyDelay(m_iDelayBeforeShutDown);
  subclient->getIBMiBackupMaxTime(m_iMaxJobDuration);

  if (m_bIPL) {
    EvTask task(m_llJobId, 0, NULL);
    int suspend = 0;
    m_bSuspendJob = task.getOptionInt(kSuspendJobTaskOption, suspend) == 0 && suspend != 0;
  }
  m_pSubclient = subclient;
  FX_LOG(0, "Client will %s after DR image backup.", m_bSuspendJob ? "suspend" : "continue");
  return CWqError::Success();
}

std::string IBMiDRConfigurationInterface::getDRMediaPath() {
  if (m_sDRMediaPath.empty() && m_pSubclient) m_pSubclient->getDRDataPath(m_sDRMediaPath);
  return m_sDRMediaPath;
}

CWqError IBMiDRConfigurationInterface::validateDRParameters(KXBkpJobClient* jobClient) {
  if (!m_pSubclient) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR configuration not read");
  const std::string raw = getDRMediaPath();
  if (raw.empty()) return CWqError::Success();
  const std::string path = KXDRHelperFunctions::NormalisePath(raw);

  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // IBM i names ignore case, so the library file system does too.
  if (upper.find("/QSYS.LIB/") != std::string::npos || EndsWithNoCase(path, "/QSYS.LIB"))
    return RefuseDirectory(jobClient, EV_DR_MEDIA_PATH_IN_QSYS, path);

  std::string parent, last;
  FXPath::SplitParentPath(path, parent, last);
  bool dotDot = false;
  for (const std::string& piece : SplitKeep(path, "/")) dotDot = dotDot || piece == "..";
  if (path[0] != '/' || dotDot || path == "/" || parent == "/" || parent.empty())
    return RefuseDirectory(jobClient, EV_DR_MEDIA_PATH_AT_ROOT, path);

  // The folder checked is the folder used.
  m_sDRMediaPath = path;
  return CWqError::Success();
}

int IBMiDRConfigurationInterface::getIbmiDrBackupLibraryPaths(std::vector<std::string>& paths) {
  if (!m_pSubclient) return -1;
  return m_pSubclient->getIbmiDrBackupLibraryPaths(paths, NULL);
}

CWqError IBMiDRConfigurationInterface::getAdditionalLibraryList(std::string& libraries) {
  std::vector<std::string> paths;
  getIbmiDrBackupLibraryPaths(paths);
  std::string joined;
  for (const std::string& path : paths) {
    std::list<std::string> fields = SplitKeep(path, "/");
    if (fields.size() != 3 || !fields.front().empty())
      return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_GENERAL, "Library path provided for DRBackup is invalid [%s].",
                                   path.c_str());
    std::string name = fields.back();
    if (EndsWithNoCase(name, ".LIB")) name.resize(name.size() - 4);
    FX_LOG(3, "Library selected for backup [%s]", name.c_str());
    if (!joined.empty()) joined += ":";
    joined += name;
  }
  libraries = joined;
  return CWqError::Success();
}

void IBMiDRConfigurationInterface::getNotifyUserMessage(std::string& message, bool& notify) {
  if (m_pSubclient) m_pSubclient->getIBMiNotifyUser(notify);
  if (!notify) {
    message.clear();
    return;
  }
  if (m_pSubclient) m_pSubclient->getIBMiNotifyMessage(message);
  if (message.empty()) message = kDefaultNotifyMessage;
  char delay[16];
  std::snprintf(delay, sizeof(delay), "%d", m_iDelayBeforeShutDown);
  std::string out;
  size_t start = 0;
  for (size_t at = message.find("##"); at != std::string::npos; at = message.find("##", start)) {
    out.append(message, start, at - start);
    out += delay;
    start = at + 2;
  }
  out.append(message, start, std::string::npos);
  message = out;
}

namespace KXDRHelperFunctions {

void StripExtensions(std::string& path) {
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find(".LIB") == std::string::npos) return;
  std::list<std::string> fields = SplitKeep(path, "/");
  if (fields.size() < 2) return;
  std::string program = fields.back().substr(0, fields.back().find('.'));
  fields.pop_back();
  std::string library = fields.back().substr(0, fields.back().find('.'));
  // Without both names there is nothing to rewrite.
  if (program.empty() || library.empty()) return;
  path = library + "/" + program;
}

std::string NormalisePath(const std::string& path) {
  if (path.empty()) return path;
  std::string out = path[0] == '/' ? "/" : "";
  for (const std::string& piece : SplitKeep(path, "/")) {
    if (piece.empty() || piece == ".") continue;
    if (!out.empty() && out.back() != '/') out += "/";
    out += piece;
  }
  return out.empty() ? std::string(".") : out;
}

}  // namespace KXDRHelperFunctions
