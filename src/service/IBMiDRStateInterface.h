// IBMiDRStateInterface: the progress of one IBM i disaster-recovery job and
// its status file (the job-results store's file of kind 26 for the pair
// Vellicon id, job id). Setters change the object only; saveStatus writes
// the whole state, restoreStatus reads it back. The driver and its client
// connection share one object on the host's thread; nothing here locks.
//
// scheduleCleanupDRFolder records a client's staging folder in the settings
// section "ProxyClients/<client name>" ("CleanUpFolder", "CleanUpFolderJob")
// for the deployment manager's installation check to remove later.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "CWqError.h"
#include "KXJobTypes.h"

enum DRBackupState : int32_t {
  DR_STATE_BEGIN = 0,
  DR_STATE_INITIATED = 1,
  DR_STATE_IN_RESTRICTED_STATE = 2,
  DR_STATE_IN_SUSPENDED_STATE = 3,
  DR_STATE_SERVICES_BACK = 4,
  DR_STATE_SUCCESS = 5,
  DR_STATE_FAILED = 6,
  DR_STATE_INDEX_UPDATE_PENDING = 7,
};

// The text of a state for log lines; "n/a" outside 0-7.
const char* DRStateText(DRBackupState state);

class IBMiDRStateInterface {
 public:
  // A status file larger than this is refused rather than read.
  static const size_t kMaxStatusFileSize = 1024 * 1024;

  IBMiDRStateInterface(int velliconId, int appId, long long jobId);
  ~IBMiDRStateInterface() = default;

  DRBackupState getState() const { return m_eState; }
  void setState(DRBackupState state) { m_eState = state; }
  std::string getBackupJobNumber() const { return m_sBackupJobNumber; }
  void setBackupJobNumber(const std::string& number) { m_sBackupJobNumber = number; }
  unsigned int getSystemBackupSize() const { return m_uiSystemBackupSize; }
  void setSystemBackupSize(unsigned int size) { m_uiSystemBackupSize = size; }
  // Tapes joined by ":"; always success.
  CWqError setTapeList(const std::string& tapes);
  CWqError getTapeList(std::list<std::string>& tapes);

  std::string toString() const { return DRStateText(m_eState); }

  // Win32 996 "failed to save status file" when the store's open, put or
  // close fails; the old file then stays whole.
  CWqError saveStatus();
  // Success and nothing changed without a file. ENOENT "file '%s' is empty"
  // for an empty one; the system's errno for one that cannot be opened or
  // read; EISDIR for a folder; EINVAL for anything but a regular file (a
  // link, a FIFO: refused before it is opened), one over 1 MiB, or one that
  // is not one status record with one integer state and no field repeated.
  // On any failure the object is unchanged.
  CWqError restoreStatus();

  // Always success; the two settings writes are logged with their results.
  CWqError scheduleCleanupDRFolder(int32_t clientId, KXJobID jobId, const std::string& mediaDir);

  // Where the status file is (whether or not it exists).
  std::string statusFilePath() const;

  KXJobID getJobId() const { return m_llJobId; }
  int getAppId() const { return m_iAppId; }
  int getVelliconId() const { return m_iVelliconId; }

 private:
  KXJobID m_llJobId;
  DRBackupState m_eState;
  int m_iAppId;
  int m_iVelliconId;
  std::string m_sBackupJobNumber;
  std::string m_sTapeList;
  uint32_t m_uiSystemBackupSize;
};
