// ClIBMDRBackupJobMsg: the IBM i disaster-recovery start message. Tells the
// client daemon's service connection how to run the full-system save: where
// to stage the image, how long it may take, the users' warning, the user
// programs, the save flags, the IPL choice and an option map of named values.
//
// Payload (type IBM_DR_BACKUP_JOB_MSG): i32 Vellicon id, u64 job id, i32
// application id, string media location, i32 maximum duration, bool notify,
// i32 delay, string notify message, string user backup command, string user
// startup program, bool save configuration, bool save security, bool IPL,
// u32 option count, then per option string name and string value (names in
// ascending byte order). A bool option is stored as "1" or "0", a number in
// decimal.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

class ClIBMDRBackupJobMsg : public ClProxyMsg {
 public:
  static const std::string Option_AddLibrary;
  static const std::string Option_RestoreCommand;

  ClIBMDRBackupJobMsg(int velliconId, unsigned long jobId, int appId);

  void setDRMediaLocation(const std::string& value) { m_sMediaLocation = value; }
  void setMaxJobDuration(int minutes) { m_iMaxJobDuration = minutes; }
  void setNotifyUsers(bool notify) { m_bNotifyUsers = notify; }
  void setDelayBeforeContinue(int minutes) { m_iDelay = minutes; }
  void setNotifyMessage(const std::string& value) { m_sNotifyMessage = value; }
  void setUserBackupCommand(const std::string& value) { m_sUserBackupCommand = value; }
  void setUserStartupProgram(const std::string& value) { m_sUserStartupProgram = value; }
  void setSaveCnfObj(bool save) { m_bSaveCnfObj = save; }
  void setSaveSecObj(bool save) { m_bSaveSecObj = save; }
  void setIPL(bool ipl) { m_bIPL = ipl; }

  void setOption(const std::string& name, const std::string& value) { m_options[name] = value; }
  void setOption(const std::string& name, const char* value) { m_options[name] = value ? value : ""; }
  void setOption(const std::string& name, bool value) { m_options[name] = value ? "1" : "0"; }
  void setOption(const std::string& name, uint32_t value) { m_options[name] = std::to_string(value); }
  // An error when the option is absent.
  CWqError getOption(const std::string& name, std::string& value) const;
  const std::map<std::string, std::string>& getOptions() const { return m_options; }

  int32_t getVelliconId() const { return m_iVelliconId; }
  uint64_t getJobId() const { return m_ullJobId; }
  int32_t getAppId() const { return m_iAppId; }
  const std::string& getDRMediaLocation() const { return m_sMediaLocation; }
  int getMaxJobDuration() const { return m_iMaxJobDuration; }
  bool getNotifyUsers() const { return m_bNotifyUsers; }
  int getDelayBeforeContinue() const { return m_iDelay; }
  const std::string& getNotifyMessage() const { return m_sNotifyMessage; }
  const std::string& getUserBackupCommand() const { return m_sUserBackupCommand; }
  const std::string& getUserStartupProgram() const { return m_sUserStartupProgram; }
  bool getSaveCnfObj() const { return m_bSaveCnfObj; }
  bool getSaveSecObj() const { return m_bSaveSecObj; }
  bool getIPL() const { return m_bIPL; }

  static std::unique_ptr<ClIBMDRBackupJobMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  uint64_t m_ullJobId;
  int32_t m_iAppId;
  std::string m_sMediaLocation;
  int32_t m_iMaxJobDuration = 0;
  bool m_bNotifyUsers = false;
  int32_t m_iDelay = 0;
  std::string m_sNotifyMessage;
  std::string m_sUserBackupCommand;
  std::string m_sUserStartupProgram;
  bool m_bSaveCnfObj = false;
  bool m_bSaveSecObj = false;
  bool m_bIPL = false;
  std::map<std::string, std::string> m_options;
};
