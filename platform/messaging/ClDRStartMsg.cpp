#include "ClDRStartMsg.h"

#include <cerrno>

#include "ClProxyPayload.h"
#include "FXErrorUtil.h"

const std::string ClIBMDRBackupJobMsg::Option_AddLibrary = "Backup_DR_Additional_Libraries";
const std::string ClIBMDRBackupJobMsg::Option_RestoreCommand = "Backup_DR_Restore_Command";

ClIBMDRBackupJobMsg::ClIBMDRBackupJobMsg(int velliconId, unsigned long jobId, int appId)
    : ClProxyMsg(IBM_DR_BACKUP_JOB_MSG), m_iVelliconId(velliconId), m_ullJobId(jobId), m_iAppId(appId) {}

CWqError ClIBMDRBackupJobMsg::getOption(const std::string& name, std::string& value) const {
  auto found = m_options.find(name);
  if (found == m_options.end()) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "no option %s", name.c_str());
  value = found->second;
  return CWqError::Success();
}

CWqError ClIBMDRBackupJobMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_ullJobId);
  w.put(m_iAppId);
  w.put(m_sMediaLocation);
  w.put(m_iMaxJobDuration);
  w.putBool(m_bNotifyUsers);
  w.put(m_iDelay);
  w.put(m_sNotifyMessage);
  w.put(m_sUserBackupCommand);
  w.put(m_sUserStartupProgram);
  w.putBool(m_bSaveCnfObj);
  w.putBool(m_bSaveSecObj);
  w.putBool(m_bIPL);
  w.put(static_cast<uint32_t>(m_options.size()));
  for (const auto& option : m_options) {
    w.put(option.first);
    w.put(option.second);
  }
  return w.result(getMsgType());
}

std::unique_ptr<ClIBMDRBackupJobMsg> ClIBMDRBackupJobMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  in.get(velliconId);
  in.get(jobId);
  in.get(appId);
  std::unique_ptr<ClIBMDRBackupJobMsg> msg(
      new ClIBMDRBackupJobMsg(velliconId, static_cast<unsigned long>(jobId), appId));
  in.get(msg->m_sMediaLocation);
  in.get(msg->m_iMaxJobDuration);
  in.getBool(msg->m_bNotifyUsers);
  in.get(msg->m_iDelay);
  in.get(msg->m_sNotifyMessage);
  in.get(msg->m_sUserBackupCommand);
  in.get(msg->m_sUserStartupProgram);
  in.getBool(msg->m_bSaveCnfObj);
  in.getBool(msg->m_bSaveSecObj);
  in.getBool(msg->m_bIPL);
  uint32_t count = 0;
  in.get(count);
  // Each option is at least two string lengths.
  if (!in.checkCount(count, 8)) return nullptr;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name, value;
    in.get(name);
    in.get(value);
    // Names come in strictly ascending order: a repeated or unordered name
    // would be read as one option the sender did not mean.
    if (!msg->m_options.empty() && !(msg->m_options.rbegin()->first < name)) in.fail();
    if (!in.ok()) break;
    msg->m_options[name] = value;
  }
  if (!in.done()) return nullptr;
  return msg;
}
