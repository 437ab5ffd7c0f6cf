#include "ClServiceMsgs.h"

#include "ClProxyPayload.h"

CWqError ClCreateIndexFlagMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uCommand);
  w.put(m_uVelliconId);
  w.put(m_uAppId);
  return w.result(getMsgType());
}

std::unique_ptr<ClCreateIndexFlagMsg> ClCreateIndexFlagMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t command = 0, velliconId = 0, appId = 0;
  in.get(command);
  in.get(velliconId);
  in.get(appId);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClCreateIndexFlagMsg>(new ClCreateIndexFlagMsg(command, velliconId, appId, true));
}

CWqError ClCommitBackupJobMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iFirst);
  w.put(m_ullSecond);
  w.put(m_iThird);
  w.put(m_iFourth);
  return w.result(getMsgType());
}

std::unique_ptr<ClCommitBackupJobMsg> ClCommitBackupJobMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t first = 0, third = 0, fourth = 0;
  uint64_t second = 0;
  in.get(first);
  in.get(second);
  in.get(third);
  in.get(fourth);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClCommitBackupJobMsg>(
      new ClCommitBackupJobMsg(first, static_cast<unsigned long>(second), third, fourth));
}
