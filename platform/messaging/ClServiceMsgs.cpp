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

CWqError ClClientBrowseReqMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sPath);
  return w.result(getMsgType());
}

std::unique_ptr<ClClientBrowseReqMsg> ClClientBrowseReqMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string path;
  in.get(path);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClClientBrowseReqMsg>(new ClClientBrowseReqMsg(path));
}

namespace {
// The least bytes of one browse entry: an empty name's length word and the
// three numbers.
const uint32_t kMinBrowseEntry = 4 + 4 + 8 + 4;
}  // namespace

CWqError ClClientBrowseRepMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(static_cast<uint32_t>(m_entries.size()));
  for (const ClientBrowseEntry_t& entry : m_entries) {
    w.put(entry.name);
    w.put(entry.value);
    w.put(entry.size);
    w.put(entry.type);
  }
  return w.result(getMsgType());
}

std::unique_ptr<ClClientBrowseRepMsg> ClClientBrowseRepMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, kMinBrowseEntry)) return nullptr;
  std::vector<ClientBrowseEntry_t> entries(count);
  for (ClientBrowseEntry_t& entry : entries) {
    in.get(entry.name);
    in.get(entry.value);
    in.get(entry.size);
    in.get(entry.type);
  }
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClClientBrowseRepMsg>(new ClClientBrowseRepMsg(std::move(entries)));
}

CWqError ClDownloadLogFile::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uRequest);
  w.put(m_ullSecond);
  return w.result(getMsgType());
}

std::unique_ptr<ClDownloadLogFile> ClDownloadLogFile::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t request = 0;
  uint64_t second = 0;
  in.get(request);
  in.get(second);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClDownloadLogFile>(new ClDownloadLogFile(request, static_cast<unsigned long>(second)));
}

CWqError ClDownloadDirChangeFile::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iFirst);
  w.put(m_iSecond);
  w.put(m_ullThird);
  return w.result(getMsgType());
}

std::unique_ptr<ClDownloadDirChangeFile> ClDownloadDirChangeFile::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t first = 0, second = 0;
  uint64_t third = 0;
  in.get(first);
  in.get(second);
  in.get(third);
  if (!in.done()) return nullptr;
  int a = first, b = second;
  unsigned long c = static_cast<unsigned long>(third);
  return std::unique_ptr<ClDownloadDirChangeFile>(new ClDownloadDirChangeFile(a, b, c));
}
