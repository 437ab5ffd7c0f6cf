#include "ProxyJobOptions.h"

#include <string>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"

namespace ProxyJobOptions {

namespace {

// Content keys by mask bit, in the order they are always set.
const char* const kContentKeys[] = {
    "Backup_SecurityData_Enabled", "Backup_ConfigData_Enabled", "Backup_IBM_Enabled",         "Backup_ALLDLO_Enabled",
    "Backup_AllUser_Enabled",      "Backup_Link_Enabled",       "Backup_History_Log_Enabled",
};

const uint64_t kForcedSaveActiveWaitTime = 600;
const uint64_t kSmallestKeptSaveActiveWaitTime = 11;

bool ReadTaskString(EvTask& task, uint32_t optionId, std::string& value) {
  value.clear();
  return task.getOptionString(optionId, value, NULL) == 0;
}

// The queue and checkpoint of an enabled sync library.
void SetSyncLibDetails(Subclient& subclient, ClJobStartMsg& msg) {
  std::string queue;
  if (subclient.getiSeriesBackupSyncQueue(queue, NULL) == 0) msg.setOptionValue("Backup_Sync_Queue", queue);
  std::string checkpoint;
  if (subclient.getiSeriesLibSyncCheckpoint(checkpoint, NULL) == 0)
    msg.setOptionValue("Backup_LibSync_Checkpoint", checkpoint);
}

}  // namespace

int SetJobLogOptions(EvTask& task, ClJobStartMsg& msg, JobLogForm form) {
  int logOption = 0;
  if (task.getOptionInt(TASK_OPTION_LOG_OUTPUT_OPTION, logOption, NULL) != 0) return 0;
  if (logOption == 0) return 0;
  msg.setOptionValue("Log_Output_Option", static_cast<int32_t>(logOption));

  if (form == kJobLogTypeOfInfo) {
    int typeOfInfo = 0;
    if (task.getOptionInt(TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, typeOfInfo, NULL) == 0)
      msg.setOptionValue("Log_Output_Type_Of_Info", static_cast<int32_t>(typeOfInfo));
  }

  if (logOption == 2) {
    std::string text;
    if (ReadTaskString(task, TASK_OPTION_LOG_OUTPUT_FILE, text)) msg.setOptionValue("Log_Output_File", text);
    if (ReadTaskString(task, TASK_OPTION_LOG_OUTPUT_MEMBER, text)) msg.setOptionValue("Log_Output_Member", text);
    int memberOption = 0;
    if (task.getOptionInt(TASK_OPTION_LOG_OUTPUT_MEMBER_OPTION, memberOption, NULL) == 0)
      msg.setOptionValue("Log_Output_Member_Option", static_cast<int32_t>(memberOption));
  }
  return logOption;
}

CWqError SetContentSelectionOptions(Subclient& subclient, ClJobStartMsg& msg, SubclientForm form,
                                    const FXCodeLocation& where, bool& customFlag) {
  bool custom = false;
  if (subclient.getiSeriesSCCustomFlag(custom, NULL) != 0) {
    if (form == kBackupForm)
      return FXErrorUtil::ErrorEventMessage(where, EV_SUBCLIENT_PROPERTIES_UNREADABLE,
                                            "Failed to read Subclient properties.");
    return FXErrorUtil::ErrorEventMessage(where, EV_SUBCLIENT_NOT_FOUND);
  }
  customFlag = custom;
  msg.setOptionValue("Iseries_Custome_SC_Flag", custom);

  bool isDefault = false;
  subclient.isDefaultSubclient(isDefault, NULL);  // its result does not matter: false stays false
  if (isDefault) {
    msg.setOptionValue("Iseries_Custome_SC_Flag", false);
    for (const char* key : kContentKeys) msg.setOptionValue(key, true);
    return CWqError::Success();
  }

  uint64_t mask = 0;
  if (!custom && subclient.getiSeriesSCContentSelection(mask, NULL) == 0) {
    FX_LOG(3, "SCContentSelection=%lu", static_cast<unsigned long>(mask));
    for (unsigned bit = 0; bit < sizeof(kContentKeys) / sizeof(kContentKeys[0]); ++bit)
      msg.setOptionValue(kContentKeys[bit], ((mask >> bit) & 1u) != 0);
  }
  return CWqError::Success();
}

void SetLibraryDataOptions(Subclient& subclient, ClJobStartMsg& msg) {
  bool flag = false;
  if (subclient.getiSeriesBackupLibSAVFDTAFlag(flag, NULL) == 0)
    msg.setOptionValue("Backup_SaveFileData_Enabled", flag);
  if (subclient.getiSeriesBackupLibSPLFDTAFlag(flag, NULL) == 0)
    msg.setOptionValue("Backup_SpoolFileData_Enabled", flag);
  if (subclient.getiSeriesBackupLibQDTAFlag(flag, NULL) == 0) msg.setOptionValue("Backup_QueueData_Enabled", flag);
  if (subclient.getiSeriesBackupLibPVTAUTFlag(flag, NULL) == 0)
    msg.setOptionValue("Backup_PrivateAuthority_Enabled", flag);
  std::string release;
  if (subclient.getiSeriesBackupTargetRelease(release, NULL) == 0)
    msg.setOptionValue("Target_release_For_Backup_Data", release);
}

bool SetSaveActiveOptions(Subclient& subclient, ClJobStartMsg& msg, uint64_t& waitTime) {
  uint64_t seconds = 0;
  waitTime = 0;
  if (subclient.getiSeriesSaveActiveWaitTime(seconds, NULL) != 0) return false;
  waitTime = seconds;
  msg.setOptionValue("Backup_Save_ActiveWait_Time", seconds);
  return true;
}

CWqError SetSyncLibOptionsForScan(Subclient& subclient, ClJobStartMsg& msg, bool customFlag, bool allowSyncLib,
                                  const FXCodeLocation& where, bool& syncLibEnabled) {
  bool syncLib = false;
  if (subclient.getiSeriesBackupSyncLibFlag(syncLib, NULL) != 0) return CWqError::Success();
  msg.setOptionValue("Backup_SyncLib_Enabled", syncLib);
  if (!syncLib) return CWqError::Success();
  // A sync library needs content made of whole libraries, which only a
  // custom selection (or a host that vouches for it) gives.
  if (!customFlag && !allowSyncLib) return FXErrorUtil::ErrorEventMessage(where, EV_SYNCLIB_NOT_ALLOWED);
  syncLibEnabled = true;
  SetSyncLibDetails(subclient, msg);
  return CWqError::Success();
}

void SetSyncLibOptionsForBackup(Subclient& subclient, ClJobStartMsg& msg, bool syncLibDisabled,
                                uint64_t groupThreeWaitTime, bool& syncBackup) {
  if (syncLibDisabled) return;
  bool syncLib = false;
  if (subclient.getiSeriesBackupSyncLibFlag(syncLib, NULL) != 0) return;
  msg.setOptionValue("Backup_SyncLib_Enabled", syncLib);
  if (!syncLib) return;
  syncBackup = true;
  SetSyncLibDetails(subclient, msg);

  uint64_t seconds = 0;
  if (subclient.getiSeriesSaveActiveWaitTime(seconds, NULL) == 0)
    msg.setOptionValue("Backup_Save_ActiveWait_Time", seconds);
  // A sync-library save needs time to reach its checkpoint.
  if (groupThreeWaitTime < kSmallestKeptSaveActiveWaitTime) {
    FX_LOG(0, "Forcing SaveAct wait time to 600 from %llu", static_cast<unsigned long long>(groupThreeWaitTime));
    msg.setOptionValue("Backup_Save_ActiveWait_Time", kForcedSaveActiveWaitTime);
  }
}

CWqError SetSubclientOptionsForScan(Subclient& subclient, ClJobStartMsg& msg, bool allowSyncLib,
                                    const FXCodeLocation& where, bool& syncLibEnabled) {
  bool customFlag = false;
  CWqError result = SetContentSelectionOptions(subclient, msg, kScanForm, where, customFlag);
  if (result.IsError()) return result;
  SetLibraryDataOptions(subclient, msg);
  uint64_t waitTime = 0;
  SetSaveActiveOptions(subclient, msg, waitTime);
  return SetSyncLibOptionsForScan(subclient, msg, customFlag, allowSyncLib, where, syncLibEnabled);
}

}  // namespace ProxyJobOptions
