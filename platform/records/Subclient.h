// Subclient: the configuration record of one subclient (application) with
// its IBM i options. Owned by the ApplicationId that gave it. Getters return
// 0 when they read the value and leave the out-value untouched otherwise;
// the optional last argument receives the failure's text. Each reads the
// registry value named after it without "get" / "is".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RecordValue;

class Subclient {
 public:
  Subclient(int32_t velliconId, int32_t appId);
  virtual ~Subclient();

  int getSubclientId(int32_t& id, std::string* errorText = nullptr);

  // Content selection: custom-selection flag and the mask of content kinds.
  int getiSeriesSCCustomFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesSCContentSelection(uint64_t& mask, std::string* errorText = nullptr);
  // True for a subclient that saves the default content.
  virtual int isDefaultSubclient(bool& isDefault, std::string* errorText = nullptr);

  // Library data.
  int getiSeriesBackupLibSAVFDTAFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesBackupLibSPLFDTAFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesBackupLibQDTAFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesBackupLibPVTAUTFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesBackupTargetRelease(std::string& release, std::string* errorText = nullptr);

  // Save while active, sync library.
  int getiSeriesSaveActiveWaitTime(uint64_t& seconds, std::string* errorText = nullptr);
  int getiSeriesBackupSyncLibFlag(bool& flag, std::string* errorText = nullptr);
  int getiSeriesBackupSyncQueue(std::string& queue, std::string* errorText = nullptr);
  int getiSeriesLibSyncCheckpoint(std::string& checkpoint, std::string* errorText = nullptr);

  // Data streams of the job.
  virtual int getNumberOfStreams(int& streams, std::string* errorText = nullptr);
  int getIbmiCompression(std::string& compression, std::string* errorText = nullptr);
  // Start of the last backup, seconds since 1970.
  int getLastBackupStartTime(int& time, std::string* errorText = nullptr);

  // Backup options of an IBM i subclient.
  int getSaveAccessPath(std::string& value, std::string* errorText = nullptr);
  int getUpdateHistory(std::string& value, std::string* errorText = nullptr);
  int getIBMiSaveWhileActiveFlag(std::string& value, std::string* errorText = nullptr);
  int getIBMiDVDImageFileFormat(std::string& value, std::string* errorText = nullptr);
  virtual int isDRSubclient(bool& isDR, std::string* errorText = nullptr);
  // The folder a DR backup stages its data in.
  virtual int getDRDataPath(std::string& path, std::string* errorText = nullptr);
  virtual int isScanlessBackup(bool& scanless, std::string* errorText = nullptr);

  // Disaster-recovery options of an IBM i subclient: minutes of warning and
  // longest duration, the users' warning, the save flags, the user programs
  // and command, the system-information print.
  int getIBMiNotifyDelay(int& minutes, std::string* errorText = nullptr);
  int getIBMiBackupMaxTime(int& minutes, std::string* errorText = nullptr);
  int getIBMiNotifyUser(bool& notify, std::string* errorText = nullptr);
  int getIBMiNotifyMessage(std::string& message, std::string* errorText = nullptr);
  int getIBMiSaveConfObjects(bool& save, std::string* errorText = nullptr);
  int getIBMiSaveSecurityData(bool& save, std::string* errorText = nullptr);
  int getIBMiUserIPLProgram(std::string& program, std::string* errorText = nullptr);
  int getIBMiUserProgram(std::string& program, std::string* errorText = nullptr);
  int getIBMiUserCommand(std::string& command, std::string* errorText = nullptr);
  int getIBMiPrintSysInfo(bool& print, std::string* errorText = nullptr);
  // The DR libraries as IFS paths; the record keeps them as one text, one
  // path a line ("IbmiDrBackupLibraryPaths").
  int getIbmiDrBackupLibraryPaths(std::vector<std::string>& paths, std::string* errorText = nullptr);

 private:
  int Read(const char* getter, const char* name, RecordValue* value) const;

  int32_t m_iVelliconId;
  int32_t m_iAppId;
};
