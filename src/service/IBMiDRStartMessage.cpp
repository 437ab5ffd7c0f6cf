// Filling the DR start message from the configuration: the plain job's
// fields and options, then a VTL job's tape options.
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "ClDRStartMsg.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMiDRConfiguration.h"
#include "IBMiVTLDRConfiguration.h"
#include "Subclient.h"

namespace {

const uint32_t kLogOutputOption = 0x1722ca9a;
const uint32_t kLogOutputTypeOption = 0x22b53998;
const uint32_t kLogOutputFileOption = 0x2a0686b9;

const char* YesNo(bool value) { return value ? "yes" : "no"; }

std::string Join(const std::list<std::string>& pieces, const char* separator) {
  std::string out;
  for (const std::string& piece : pieces) {
    if (!out.empty() || &piece != &pieces.front()) out += separator;
    out += piece;
  }
  return out;
}

}  // namespace

std::string KXDRHelperFunctions::messageOptions(const ClIBMDRBackupJobMsg& message) {
  std::string text;
  for (const auto& option : message.getOptions()) text += option.first + ":" + option.second + " ";
  return text;
}

CWqError IBMiDRConfigurationInterface::populateDRMessage(ClIBMDRBackupJobMsg& message) {
  if (!m_pSubclient) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR configuration not read");
  bool notify = true;
  std::string notifyMessage, userBackupCommand, userStartupProgram, libraries;
  bool saveConfiguration = true, saveSecurity = true;

  m_pSubclient->getIBMiNotifyDelay(m_iDelayBeforeShutDown);
  m_pSubclient->getIBMiBackupMaxTime(m_iMaxJobDuration);

  CWqError result = getAdditionalLibraryList(libraries);
  if (result.IsError()) return result.Push(FX_HERE);

  std::string errorText;
  if (m_pSubclient->getIBMiSaveConfObjects(saveConfiguration, &errorText) != 0) {
    FX_LOG(-1, "getIBMiSaveConfObjects failed (%d):%s", saveConfiguration, errorText.c_str());
    saveConfiguration = true;
  }
  if (m_pSubclient->getIBMiSaveSecurityData(saveSecurity, &errorText) != 0) {
    FX_LOG(-1, "getIBMiSaveSecurityData failed (%d):%s", saveSecurity, errorText.c_str());
    saveSecurity = true;
  }
  getNotifyUserMessage(notifyMessage, notify);
  if (m_pSubclient->getIBMiUserIPLProgram(userStartupProgram) == 0)
    KXDRHelperFunctions::StripExtensions(userStartupProgram);
  else
    userStartupProgram.clear();
  if (m_pSubclient->getIBMiUserProgram(userBackupCommand) != 0) userBackupCommand.clear();

  EvTask task(m_llJobId, 0, NULL, false);
  std::string xml;
  if (task.getXMLOptions(xml) != 0) {
    FX_LOG(-1, "Failed to get the xml options");
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT);
  }
  FX_LOG(3, "Got xml options:%s", xml.c_str());

  message.setDRMediaLocation(m_sDRMediaPath);
  message.setMaxJobDuration(m_iMaxJobDuration);
  message.setNotifyUsers(notify);
  message.setDelayBeforeContinue(m_iDelayBeforeShutDown);
  message.setNotifyMessage(notifyMessage);
  message.setUserBackupCommand(userBackupCommand);
  message.setUserStartupProgram(userStartupProgram);
  message.setSaveCnfObj(saveConfiguration);
  message.setSaveSecObj(saveSecurity);
  message.setIPL(m_bIPL);

  std::string accessPath;
  if (m_pSubclient->getSaveAccessPath(accessPath) == 0 && !accessPath.empty())
    message.setOption("Backup_Save_Access_Path", accessPath);
  else
    message.setOption("Backup_Save_Access_Path", true);
  message.setOption("Backup_UPDHST", true);
  bool printInfo = false;
  m_pSubclient->getIBMiPrintSysInfo(printInfo);
  message.setOption("Backup_DR_Print_System_Info", printInfo ? "*YES" : "*NO");
  bool spool = false, queue = false;
  m_pSubclient->getiSeriesBackupLibSPLFDTAFlag(spool);
  m_pSubclient->getiSeriesBackupLibQDTAFlag(queue);
  message.setOption("Backup_SpoolFileData_Enabled", spool);
  message.setOption("Backup_QueueData_Enabled", queue);
  message.setOption("Backup_DR_Start_To_Restricted_State", m_bSuspendJob);

  int logOption = 0;
  if (task.getOptionInt(kLogOutputOption, logOption) == 0 && logOption != 0) {
    message.setOption("Log_Output_Option", static_cast<uint32_t>(logOption));
    int infoType = 0;
    if (task.getOptionInt(kLogOutputTypeOption, infoType) == 0)
      message.setOption("Log_Output_Type_Of_Info", static_cast<uint32_t>(infoType));
    std::string outFile;
    if (logOption == 2 && task.getOptionString(kLogOutputFileOption, outFile) == 0)
      message.setOption("Log_Output_File", outFile);
  }
  std::string restoreCommand;
  m_pSubclient->getIBMiUserCommand(restoreCommand);
  if (!restoreCommand.empty()) message.setOption(ClIBMDRBackupJobMsg::Option_RestoreCommand, restoreCommand);
  if (!libraries.empty()) message.setOption(ClIBMDRBackupJobMsg::Option_AddLibrary, libraries);

  FX_LOG(0,
         "Will start backup with:\nmedia: [%s]\njob duration: %d\nnotify user: %s\nmessage: %s\ndelay: %d\nuser "
         "backup command: [%s]\nuser startup command: [%s]\nstart with %s\nsave configuration: %s\nsave security: "
         "%s\nleave in restricted state: %s\n%s",
         m_sDRMediaPath.c_str(), m_iMaxJobDuration, YesNo(notify), notifyMessage.c_str(), m_iDelayBeforeShutDown,
         userBackupCommand.c_str(), userStartupProgram.c_str(), m_bIPL ? "*IPL" : "*STSSBS", YesNo(saveConfiguration),
         YesNo(saveSecurity), YesNo(m_bSuspendJob), KXDRHelperFunctions::messageOptions(message).c_str());
  return CWqError::Success();
}

std::string IBMiDRConfigurationInterface::DRLogOutfile(long long jobId) {
  EvTask task(jobId, 0, NULL, false);
  int logOption = 0;
  std::string outFile;
  if (task.getOptionInt(kLogOutputOption, logOption) == 0 && logOption == 2 &&
      task.getOptionString(kLogOutputFileOption, outFile) == 0)
    return outFile;
  return "KXLIBOBJ/DRLOG";
}

std::string IBMiVTLDRConfiguration::getTapeList() const { return Join(m_lstTapes, ":"); }

CWqError IBMiVTLDRConfiguration::populateDRMessage(ClIBMDRBackupJobMsg& message) {
  CWqError result = IBMiDRConfigurationInterface::populateDRMessage(message);
  if (result.IsError()) return result.Push(FX_HERE);

  const std::string volumes = Join(m_lstTapes, " ");
  bool saveFileData = true;
  if (m_pSubclient->getiSeriesBackupLibSAVFDTAFlag(saveFileData) != 0) saveFileData = true;
  message.setOption("Log_Output_Option", static_cast<uint32_t>(2));
  message.setOption("Log_Output_File", DRLogOutfile(m_llJobId));
  char category[32];
  std::snprintf(category, sizeof(category), "KXDR%04llu", static_cast<unsigned long long>(m_llJobId));
  char token[64];
  std::snprintf(token, sizeof(token), "%d:%d:%llu", m_iVelliconId, m_iAppId,
                static_cast<unsigned long long>(m_llJobId));

  message.setOption("Backup_SaveFileData_Enabled", saveFileData);
  message.setOption("Log_Output_Type_Of_Info", static_cast<uint32_t>(2));
  message.setOption("Backup_DR_VTL_Tape_Category", category);
  message.setOption("Backup_DR_VTL_Volume_List", volumes);
  message.setOption("Backup_DR_VTL_Device", m_sDriveCode);
  message.setOption("Backup_DR_VTL_Job_Token", token);
  FX_LOG(2, "Drive [%s] volume(s) [%s] Category [%s]", m_sDriveCode.c_str(), volumes.c_str(), category);
  return CWqError::Success();
}
