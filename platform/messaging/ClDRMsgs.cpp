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

CWqError ClClientBackupSize::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_iAppId);
  w.put(m_ullJobId);
  w.put(m_userLibraries);
  w.put(m_uSize);
  return w.result(getMsgType());
}

std::unique_ptr<ClClientBackupSize> ClClientBackupSize::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  std::list<std::string> libraries;
  uint32_t size = 0;
  in.get(velliconId);
  in.get(appId);
  in.get(jobId);
  in.get(libraries);
  in.get(size);
  if (!in.done()) return nullptr;
  std::unique_ptr<ClClientBackupSize> msg(new ClClientBackupSize(velliconId, appId, jobId));
  msg->m_userLibraries.swap(libraries);
  msg->m_uSize = size;
  return msg;
}

CWqError ClInitializeTapeMLBMode::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_iAppId);
  w.put(m_ullJobId);
  w.put(m_sDrive);
  w.put(m_tapes);
  return w.result(getMsgType());
}

std::unique_ptr<ClInitializeTapeMLBMode> ClInitializeTapeMLBMode::decode(const uint8_t* payload,
                                                                         uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  std::string drive;
  std::list<std::string> tapes;
  in.get(velliconId);
  in.get(appId);
  in.get(jobId);
  in.get(drive);
  in.get(tapes);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClInitializeTapeMLBMode>(new ClInitializeTapeMLBMode(velliconId, appId, jobId, drive, tapes));
}

CWqError ClProcessOutFileMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_iAppId);
  w.put(m_ullJobId);
  w.put(m_sOutfileName);
  return w.result(getMsgType());
}

std::unique_ptr<ClProcessOutFileMsg> ClProcessOutFileMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  std::string name;
  in.get(velliconId);
  in.get(appId);
  in.get(jobId);
  in.get(name);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClProcessOutFileMsg>(new ClProcessOutFileMsg(velliconId, appId, jobId, name));
}

CWqError ClVTLDRCleanupMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_iAppId);
  w.put(m_ullJobId);
  w.put(m_sDrive);
  w.put(m_uValue);
  return w.result(getMsgType());
}

std::unique_ptr<ClVTLDRCleanupMsg> ClVTLDRCleanupMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0;
  uint64_t jobId = 0;
  std::string drive;
  uint32_t value = 0;
  in.get(velliconId);
  in.get(appId);
  in.get(jobId);
  in.get(drive);
  in.get(value);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClVTLDRCleanupMsg>(new ClVTLDRCleanupMsg(velliconId, appId, jobId, drive, value));
}
