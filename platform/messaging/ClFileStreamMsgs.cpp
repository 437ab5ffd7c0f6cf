#include "ClFileStreamMsgs.h"

#include "ClProxyPayload.h"

CWqError ClBadEofMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sText);
  return w.result(getMsgType());
}

std::unique_ptr<ClBadEofMsg> ClBadEofMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string text;
  in.get(text);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClBadEofMsg>(new ClBadEofMsg(text));
}

CWqError ClFailedFileMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sName);
  w.put(m_iCode);
  w.put(m_sText);
  return w.result(getMsgType());
}

std::unique_ptr<ClFailedFileMsg> ClFailedFileMsg::decode(const uint8_t* payload,
                                                         uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string name, text;
  int32_t code = 0;
  in.get(name);
  in.get(code);
  in.get(text);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClFailedFileMsg>(new ClFailedFileMsg(name, code, text));
}

CWqError ClBackupStatsMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uNumFiles);
  w.put(m_uNumFailedFiles);
  w.put(m_ullTotSize);
  return w.result(getMsgType());
}

std::unique_ptr<ClBackupStatsMsg> ClBackupStatsMsg::decode(const uint8_t* payload,
                                                           uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t numFiles = 0, numFailed = 0;
  uint64_t totSize = 0;
  in.get(numFiles);
  in.get(numFailed);
  in.get(totSize);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClBackupStatsMsg>(new ClBackupStatsMsg(numFiles, numFailed, totSize));
}

CWqError ClCollectFileMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iNumber);
  w.put(m_ullRestartOffset);
  return w.result(getMsgType());
}

std::unique_ptr<ClCollectFileMsg> ClCollectFileMsg::decode(const uint8_t* payload,
                                                           uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t number = 0;
  uint64_t restartOffset = 0;
  in.get(number);
  in.get(restartOffset);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClCollectFileMsg>(new ClCollectFileMsg(number, restartOffset));
}

CWqError ClSyntheticFullCollectFileMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iNumber);
  return w.result(getMsgType());
}

std::unique_ptr<ClSyntheticFullCollectFileMsg> ClSyntheticFullCollectFileMsg::decode(
    const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t number = 0;
  in.get(number);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClSyntheticFullCollectFileMsg>(new ClSyntheticFullCollectFileMsg(number));
}
