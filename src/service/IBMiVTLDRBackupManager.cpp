#include "IBMiVTLDRBackupManager.h"

#include <cerrno>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"

IBMiVTLDRBackupManager::IBMiVTLDRBackupManager(KXBkpJobClient* jobClient, KXJobCtrlClient* jobCtrlClient,
                                               int velliconId, long long jobId, int appId, bool ipl)
    : IBMiDRBackupManager(jobClient, jobCtrlClient, velliconId, jobId, appId, ipl) {
  m_bPreScanOnly = false;
}

IBMiVTLDRBackupManager::~IBMiVTLDRBackupManager() {
  if (m_ptrConnection) m_ptrConnection->cleanUpClientVTLBackup();
}

CWqError IBMiVTLDRBackupManager::configure() {
  CWqError result = ConfigureWith(true);
  if (result.IsError()) return result;
  // A restarted job gets no new tape initialisation once its save has
  // started: it goes on with the volumes granted before.
  std::list<std::string> tapes;
  m_ptrState->getTapeList(tapes);
  boost::shared_ptr<IBMiDRConfigurationInterface> configuration = m_ptrConnection->configuration();
  if (!tapes.empty() && configuration && configuration->getTapeList().empty())
    configuration->setTapeListAndDevice(tapes, "");
  return CWqError::Success();
}

CWqError IBMiVTLDRBackupManager::getDRStatus() {
  CWqError result = IBMiDRBackupManager::getDRStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  // A query that got no verdict leaves the job where it was.
  if (m_ptrState->getState() == DR_STATE_SERVICES_BACK) return result;
  m_ptrState->setState(DR_STATE_INDEX_UPDATE_PENDING);
  return Save();
}

CWqError IBMiVTLDRBackupManager::initializeTapeAndDrive(const std::list<std::string>& tapes,
                                                       const std::string& drive) {
  if (!m_ptrConnection) return FXErrorUtil::ErrorWin32(FX_HERE, 14);
  return m_ptrConnection->InitializeTapeAndDrive(drive, tapes);
}

CWqError IBMiVTLDRBackupManager::startOutfileProcessing() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  const int state = m_ptrState->getState();
  // Only a save that ended well has an outfile to process.
  if (state != DR_STATE_INDEX_UPDATE_PENDING && state != DR_STATE_SUCCESS)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Invalid state %d", state);
  FX_LOG(0, "DR Backup finished successfully, start index update.");
  CWqError result = m_ptrConnection->startOutfileProcessing();
  if (result.IsError()) return result;
  m_ptrState->setState(DR_STATE_SUCCESS);
  return Save();
}

CWqError IBMiVTLDRBackupManager::recvNextFileFromDR(int& status, std::string& name, CXFileHeader& header) {
  status = 0;
  if (!m_ptrConnection) return FXErrorUtil::ErrorWin32(FX_HERE, 14);
  return m_ptrConnection->recvNextFileFromDR(status, name, header);
}

std::string IBMiVTLDRBackupManager::getFileTapeBarCode() const {
  return m_ptrConnection ? m_ptrConnection->getFileTapeBarCode() : std::string();
}

void IBMiVTLDRBackupManager::getFileError(int& error, std::string& name, std::string& text) {
  if (m_ptrConnection) m_ptrConnection->getFileError(error, name, text);
}

std::string IBMiVTLDRBackupManager::getSymlink() const {
  return m_ptrConnection ? m_ptrConnection->getSymlink() : std::string();
}

unsigned int IBMiVTLDRBackupManager::systemBackupSize() const {
  return m_ptrState ? m_ptrState->getSystemBackupSize() : 0;
}

bool IBMiVTLDRBackupManager::wasDRTapeCreated() const {
  if (!m_ptrState) return false;
  switch (m_ptrState->getState()) {
    case DR_STATE_BEGIN:
    case DR_STATE_INITIATED:
    case DR_STATE_IN_RESTRICTED_STATE:
      return false;
    case DR_STATE_IN_SUSPENDED_STATE:
    case DR_STATE_SERVICES_BACK:  // the save has written its tapes by now
    case DR_STATE_SUCCESS:
    case DR_STATE_FAILED:
    case DR_STATE_INDEX_UPDATE_PENDING:
      return true;
    default:
      FX_LOG(-1, "Backup state is not handled");
      return true;
  }
}

CWqError IBMiVTLDRBackupManager::getTapeListFromStateFile(std::list<std::string>& tapes) {
  if (!m_ptrState) return CWqError::Success();
  return m_ptrState->getTapeList(tapes);
}
