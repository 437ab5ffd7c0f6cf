#include "ClDRMsgs.h"

#include "ClProxyPayload.h"

CWqError ClIBMDRBackupCleanMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_ullJobId);
  w.put(m_iAppId);
  w.put(m_sMediaLocation);
  return w.result(getMsgType());
}

std::unique_ptr<ClIBMDRBackupCleanMsg> ClIBMDRBackupCleanMsg::decode(const uint8_t* payload,
                                                                     uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  std::string location;
  in.get(velliconId);
  in.get(jobId);
  in.get(appId);
  in.get(location);
  if (!in.done()) return nullptr;
  std::unique_ptr<ClIBMDRBackupCleanMsg> msg(new ClIBMDRBackupCleanMsg(velliconId, jobId, appId));
  msg->setDRMediaLocation(location);
  return msg;
}
