// The DR driver: configuration, the five gated steps and the cleanup.
#include "IBMiDRBackupManager.h"

#include <cerrno>
#include <new>
#include <vector>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXJobControl.h"
#include "KXPI_Focus.h"
#include "KXPlatformInfo.h"
#include "MediaManagerMsgs.h"
#include "Proxy.h"

namespace {

const uint32_t kErrorOutOfMemory = 14;

bool Outside(int state) { return state < DR_STATE_BEGIN || state > DR_STATE_INDEX_UPDATE_PENDING; }

CWqError SaveFailed(CWqError error) {
  std::string text = error.AsString();
  return error.Push(FX_HERE, "Failed to save status:%s", text.c_str());
}

}  // namespace

IBMiDRBackupManager::IBMiDRBackupManager(KXBkpJobClient* jobClient, KXJobCtrlClient* jobCtrlClient, int velliconId,
                                         long long jobId, int appId, bool ipl)
    : m_bPreScanOnly(false), m_bLibraryQueryFailed(false), m_bConfigured(false) {
  m_ptrState.reset(new (std::nothrow) IBMiDRStateInterface(velliconId, appId, jobId));
  if (m_ptrState)
    m_ptrConnection.reset(new (std::nothrow) IBMiDRClientConnectionInterface(jobClient, jobCtrlClient, velliconId,
                                                                             appId, jobId, ipl, m_ptrState));
  std::vector<MediaManager::LibraryInfo> libraries;
  m_bPreScanOnly = Proxy::IsVTLBackup(appId, libraries, m_bLibraryQueryFailed);
}

IBMiDRBackupManager::~IBMiDRBackupManager() {}

CWqError IBMiDRBackupManager::Save() {
  CWqError result = m_ptrState->saveStatus();
  if (result.IsError()) return SaveFailed(result);
  return CWqError::Success();
}

CWqError IBMiDRBackupManager::configure() { return ConfigureWith(false); }

CWqError IBMiDRBackupManager::ConfigureWith(bool vtl) {
  if (!m_ptrConnection || !m_ptrState) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory);
  // A hiccup of the library query must not turn a pre-scan into a full
  // save; a VTL driver never pre-scans.
  if (m_bLibraryQueryFailed && !vtl)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EAGAIN, "Failed to read the libraries of the subclient");
  CWqError result = m_ptrConnection->configure(vtl);
  if (result.IsError()) return result.Push(FX_HERE);
  result = m_ptrConnection->ValidateConfig();
  if (result.IsError()) return result.Push(FX_HERE);

  result = m_ptrState->restoreStatus();
  if (result.IsError()) {
    // Only an empty file starts afresh; any other unreadable file stays as it
    // is rather than be overwritten with a first step that takes the client
    // down again.
    if (!FXErrorUtil::IsErrNo(result, ENOENT)) {
      FX_LOG(-1, "Failed to load status file: %s", result.AsString().c_str());
      return result.Push(FX_HERE);
    }
  }
  result = m_ptrState->saveStatus();
  if (result.IsError()) return SaveFailed(result);
  m_bConfigured = true;
  return CWqError::Success();
}

int IBMiDRBackupManager::Gate(int step, CWqError& error) const {
  const int state = m_ptrState->getState();
  if (state == DR_STATE_FAILED) {
    error = FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_GENERAL, "Already reported job as failed.");
    return -1;
  }
  if (Outside(state)) return 1;
  static const char* const kWork[] = {"", "01", "1", "2", "234", "4"};
  static const char* const kInvalid[] = {"", "", "0", "01", "01", "0123"};
  const char digit = static_cast<char>('0' + state);
  for (const char* p = kWork[step]; *p; ++p)
    if (*p == digit) return 1;
  for (const char* p = kInvalid[step]; *p; ++p)
    if (*p == digit) {
      error = FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Invalid state %d", state);
      return -1;
    }
  return 0;
}

CWqError IBMiDRBackupManager::run() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  if (m_bPreScanOnly) {
    FX_LOG(2, "System scan for calculating VTL backup size is starting.");
    const int state = m_ptrState->getState();
    // A job whose save has started is not reset by a pre-scan.
    if (state >= DR_STATE_INITIATED && state <= DR_STATE_SERVICES_BACK) {
      FX_LOG(0, "The DR save of this job has started (state %d); no pre-scan.", state);
      return CWqError::Success();
    }
    CWqError result = m_ptrConnection->getSystemBackupSize();
    if (result.IsError()) return result.Push(FX_HERE);
    result = m_ptrConnection->clearCreateIndexFlag();
    if (result.IsError()) return result.Push(FX_HERE);
    m_ptrState->setState(DR_STATE_BEGIN);
    m_ptrState->setBackupJobNumber("");
    m_ptrState->setSystemBackupSize(m_ptrConnection->systemBackupSizeFromClient());
    result = m_ptrState->saveStatus();
    if (result.IsError()) return SaveFailed(result);
    FX_LOG(0, "VTL DR Pre-Scan is finished.");
    return CWqError::Success();
  }
  CWqError result = initiateDRBackupProcess();
  if (result.IsError()) return result.Push(FX_HERE);
  result = waitForServiceGoDown();
  if (result.IsError()) return result.Push(FX_HERE);
  result = suspendJob();
  if (result.IsError()) return result.Push(FX_HERE);
  result = waitForServiceComeUp();
  if (result.IsError()) {
    FX_LOG(-1, "Client didn't started: %s", result.AsString().c_str());
    FX_LOG(-1, "Will suspend the current job and retry later.");
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER);
  }
  result = getDRStatus();
  if (result.IsError()) {
    if (FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER)) {
      FX_LOG(-1, "Unable to get status from client: %s", result.AsString().c_str());
      FX_LOG(-1, "Will suspend the current job and retry later.");
    } else {
      FX_LOG(-1, "%s", result.AsString().c_str());
    }
    return result.Push(FX_HERE);
  }
  return CWqError::Success();
}

CWqError IBMiDRBackupManager::initiateDRBackupProcess() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  CWqError result;
  int gate = Gate(1, result);
  if (gate <= 0) return gate < 0 ? result : CWqError::Success();
  if (m_ptrState->getState() == DR_STATE_INITIATED)
    FX_LOG(-1, "Starting DR job %s again on the client", m_ptrState->getBackupJobNumber().c_str());
  result = m_ptrConnection->CheckAndCleanupDRFolder(false);
  if (result.IsError()) return result.Push(FX_HERE);
  result = m_ptrConnection->sendDRStartMessage();
  if (result.IsError()) return result.Push(FX_HERE);
  std::string jobNumber;
  result = m_ptrConnection->receiveDRStartStatus(jobNumber);
  if (result.IsError()) return result.Push(FX_HERE);
  m_ptrState->setBackupJobNumber(jobNumber);
  if (!IBMiDRClientConnectionInterface::StatusRequestCarries(jobNumber)) {
    // Without a number to ask about, no restart could learn the outcome:
    // the job ends here, failed, instead of waiting for a verdict that
    // cannot come.
    result = m_ptrConnection->RefuseJobNumber(jobNumber);
    m_ptrConnection->stopServicesOnClient();
    m_ptrState->setState(DR_STATE_FAILED);
    CWqError saved = Save();
    if (saved.IsError()) return saved;
    return result.Push(FX_HERE);
  }
  result = m_ptrConnection->stopServicesOnClient();
  if (result.IsError()) return result.Push(FX_HERE);
  m_ptrState->setState(DR_STATE_INITIATED);
  return Save();
}

CWqError IBMiDRBackupManager::waitForServiceGoDown() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  CWqError result;
  int gate = Gate(2, result);
  if (gate <= 0) return gate < 0 ? result : CWqError::Success();
  result = m_ptrConnection->waitForServiceGoDown();
  if (result.IsError()) return result.Push(FX_HERE);
  m_ptrState->setState(DR_STATE_IN_RESTRICTED_STATE);
  return Save();
}

CWqError IBMiDRBackupManager::suspendJob() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  CWqError result;
  int gate = Gate(3, result);
  if (gate <= 0) return gate < 0 ? result : CWqError::Success();
  m_ptrState->setTapeList(m_ptrConnection->getTapeList());
  result = m_ptrState->saveStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  if (!m_ptrConnection->shouldSuspendJob()) return CWqError::Success();

  KXPlatformInfo info;
  info.setFocus(KXPI_Focus::getFocus());
  char host[256];
  if (info.findZentraverHostName(host, sizeof(host)) == 0)
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_GENERAL, "Can't find Zentraver name");
  KXJobCtrlGUIAPI controller;
  if (!controller.init(host))
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_GENERAL, "Can't initialize GUI job controller.");
  if (!controller.stop(m_ptrConnection->getJobID()))
    return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_GENERAL, "Couldn't suspend job.");
  m_ptrState->setState(DR_STATE_IN_SUSPENDED_STATE);
  result = m_ptrState->saveStatus();
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError IBMiDRBackupManager::waitForServiceComeUp() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  CWqError result;
  int gate = Gate(4, result);
  if (gate <= 0) return gate < 0 ? result : CWqError::Success();
  result = m_ptrConnection->waitForServiceComeUp();
  if (result.IsError()) return result.Push(FX_HERE);
  m_ptrState->setState(DR_STATE_SERVICES_BACK);
  return Save();
}

CWqError IBMiDRBackupManager::getDRStatus() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  CWqError result;
  int gate = Gate(5, result);
  if (gate <= 0) return gate < 0 ? result : CWqError::Success();
  FX_LOG(0, "Fetching status from a client...");
  DRBackupState verdict = DR_STATE_FAILED;
  result = m_ptrConnection->getDRStatus(m_ptrState->getBackupJobNumber(), verdict);
  // Without an answer there is no verdict to keep: a restart asks again.
  if (!m_ptrConnection->statusAnswered()) return result.IsError() ? result.Push(FX_HERE) : result;
  m_ptrState->setState(verdict);
  CWqError saved = Save();
  if (saved.IsError()) return saved;
  return result;
}

CWqError IBMiDRBackupManager::cleanUp() {
  if (!m_bConfigured) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Object not configured.");
  return m_ptrConnection->cleanUp();
}
