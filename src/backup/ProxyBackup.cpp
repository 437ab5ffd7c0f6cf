// The backup phase object: construction, the two init forms and the backup
// job options.
#include "ProxyBackup.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "ApplicationId.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyJobOptions.h"

namespace {

const char kClientProgram[] = "BKP.EXE";

}  // namespace

ProxyBackup::ProxyBackup()
    : m_nBarcode(0),
      m_nStreamCount(0),
      m_nStreamNumber(0),
      m_nFailedErrno(0),
      m_pOptHeader(nullptr),
      m_nOptHeaderSize(0),
      m_pDataBuf(nullptr),
      m_nDataSize(0),
      m_numFiles(0),
      m_numFailedFiles(0),
      m_totSize(0),
      m_nVTLStreams(0),
      m_bSyncBackup(false),
      m_bSyncLibDisabled(false),
      m_nControlPort(0),
      m_bVTLBackup(false),
      m_bReferenceBackup(false),
      m_bRefArchiveKnown(false),
      m_mountGUIDs(&ProxyBackup::compareMount),
      m_bUsingIndexV2(false),
      m_iFileDataSeconds(0),
      m_iFileDataAttempts(1),
      m_bFileDataTimeoutsRead(false) {}

ProxyBackup::~ProxyBackup() {
  std::free(m_pDataBuf);
  std::free(m_pOptHeader);
}

CWqError ProxyBackup::init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                           int64_t jobStartValue, const std::string& clientProgram, const std::string& host,
                           uint16_t port) {
  FX_LOG(2, "Backup call for %s", clientProgram.c_str());
  return Proxy::init(velliconId, appId, clientId, jobId, level, jobStartValue, clientProgram, host, port);
}

CWqError ProxyBackup::init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                           int64_t jobStartValue, const std::string& host, uint16_t port) {
  FX_LOG(2, "Standard backup call for %s", kClientProgram);
  return Proxy::init(velliconId, appId, clientId, jobId, level, jobStartValue, kClientProgram, host, port);
}

CWqError ProxyBackup::setJobOptions(ClJobStartMsg* msg) {
  if (!msg) return CWqError::Success();
  ApplicationId application(m_iVelliconId, m_iAppId);
  Subclient* subclient = application.getSubclient(NULL);
  if (!subclient) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_SUBCLIENT_NOT_FOUND);
  EvTask task(static_cast<KXJobID>(m_ullJobId), 0, NULL, false);

  FX_LOG(2, "ProxyBackup::setJobOptions");
  std::string xml;
  if (task.getXMLOptions(xml) != 0) {
    FX_LOG(-1, "Failed to get the xml options");
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
  }
  FX_LOG(3, "Got xml options:%s", xml.c_str());

  const int logOption = ProxyJobOptions::SetJobLogOptions(task, *msg, ProxyJobOptions::kJobLogTypeOfInfo);
  FX_LOG(2, "job log option [%d]", logOption);

  bool customFlag = false;
  CWqError result = ProxyJobOptions::SetContentSelectionOptions(*subclient, *msg, ProxyJobOptions::kBackupForm,
                                                                FX_HERE, customFlag);
  if (result.IsError()) return result;
  ProxyJobOptions::SetLibraryDataOptions(*subclient, *msg);

  // The backup's own keys between the library data and save-while-active.
  std::string value;
  if (subclient->getSaveAccessPath(value, NULL) == 0 && !value.empty())
    msg->setOptionValue("Backup_Save_Access_Path", value);
  else
    msg->setOptionValue("Backup_Save_Access_Path", true);
  value.clear();
  if (subclient->getUpdateHistory(value, NULL) == 0 && value == "*YES") msg->setOptionValue("Backup_UPDHST", true);
  value.clear();
  if (subclient->getIBMiSaveWhileActiveFlag(value, NULL) == 0)
    msg->setOptionValue("Backup_SAVACT", value);
  else
    msg->setOptionValue("Backup_SAVACT", true);

  uint64_t waitTime = 0;
  ProxyJobOptions::SetSaveActiveOptions(*subclient, *msg, waitTime);
  ProxyJobOptions::SetSyncLibOptionsForBackup(*subclient, *msg, m_bSyncLibDisabled, waitTime, m_bSyncBackup);

  bool isDR = false;
  subclient->isDRSubclient(isDR, NULL);
  msg->setOptionValue("isDRSubclient", isDR);
  if (isDR) {
    std::string drPath;
    subclient->getDRDataPath(drPath, NULL);
    msg->setOptionValue("DRDataPath", drPath);
  }
  msg->setOptionValue("isVTLBackup", m_bVTLBackup);
  msg->setOptionValue("VTLStreams", static_cast<uint32_t>(m_nVTLStreams));
  bool scanless = false;
  if (subclient->isScanlessBackup(scanless, NULL) != 0) scanless = false;
  msg->setOptionValue("ScanlessBackup", scanless);
  std::string compression;
  subclient->getIbmiCompression(compression, NULL);
  if (compression.empty()) compression = "*NO";
  msg->setOptionValue("JOB_COMPRESSION_LEVEL", compression);
  std::string imageFormat;
  subclient->getIBMiDVDImageFileFormat(imageFormat, NULL);
  if (!imageFormat.empty()) msg->setOptionValue("DRPathPrefix", imageFormat);
  msg->setOptionValue("JOB_USING_INDEX_V2", m_bUsingIndexV2);

  result = Proxy::setJobOptions(msg);
  if (result.IsError()) result.Push(FX_HERE);
  return result;
}
