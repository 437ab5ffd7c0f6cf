#include "ClServiceMsgs.h"

#include "ClProxyPayload.h"
#include "ClProxyWire.h"

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
// The bytes of one browse entry beside its name: the name's length word and
// the three numbers.
const uint32_t kMinBrowseEntry = 4 + 4 + 8 + 4;
}  // namespace

ClClientBrowseRepMsg::ClClientBrowseRepMsg(const std::vector<ClientBrowseEntry_t>& entries)
    : ClProxyMsg(BROWSE_REPLY_MSG) {
  ClProxyPayloadWriter w(m_built);
  if (entries.size() > 0xFFFFFFFFu) w.fail();
  w.put(static_cast<uint32_t>(entries.size()));
  for (const ClientBrowseEntry_t& entry : entries) {
    w.put(entry.name);
    w.put(entry.value);
    w.put(entry.size);
    w.put(entry.type);
    m_uNameBytes += entry.name.size();
  }
  m_encoded = w.result(getMsgType());
  if (m_encoded.IsError()) {
    std::vector<uint8_t>().swap(m_built);
    m_uNameBytes = 0;
    return;
  }
  m_pData = m_built.data();
  m_uLength = static_cast<uint32_t>(m_built.size());
  m_uCount = static_cast<uint32_t>(entries.size());
}

CWqError ClClientBrowseRepMsg::encodePayload(std::vector<uint8_t>&, ClProxyPayloadView& view) const {
  if (m_encoded.IsError()) return m_encoded;
  view.data = m_pData;
  view.size = m_uLength;
  return CWqError::Success();
}

std::unique_ptr<ClClientBrowseRepMsg> ClClientBrowseRepMsg::decode(ClMallocBlock payload, uint32_t length) {
  if (!payload && length) return nullptr;
  // Checked whole here, so that a Cursor reads it without a doubt.
  ClProxyPayloadReader in(payload.get(), length);
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, kMinBrowseEntry)) return nullptr;
  size_t nameBytes = 0;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    uint32_t nameSize = 0;
    in.get(nameSize);
    in.take(nameSize);
    in.take(kMinBrowseEntry - 4);
    nameBytes += nameSize;
  }
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClClientBrowseRepMsg>(new ClClientBrowseRepMsg(std::move(payload), length, count, nameBytes));
}

ClClientBrowseRepMsg::ClClientBrowseRepMsg(ClMallocBlock payload, uint32_t length, uint32_t count, size_t nameBytes)
    : ClProxyMsg(BROWSE_REPLY_MSG),
      m_received(std::move(payload)),
      m_pData(m_received.get()),
      m_uLength(length),
      m_uCount(count),
      m_uNameBytes(nameBytes) {}

ClClientBrowseRepMsg::Cursor::Cursor(const ClClientBrowseRepMsg& msg)
    : m_pData(msg.m_pData), m_uLength(msg.m_uLength), m_uOffset(4), m_uLeft(msg.m_uCount) {}

bool ClClientBrowseRepMsg::Cursor::next(EntryView& entry) {
  if (m_uLeft == 0 || m_uOffset > m_uLength || m_uLength - m_uOffset < kMinBrowseEntry) return false;
  const uint8_t* p = m_pData + m_uOffset;
  const uint32_t nameSize = ClProxyWire::GetU32(p);
  if (m_uLength - m_uOffset - kMinBrowseEntry < nameSize) return false;
  entry.name = reinterpret_cast<const char*>(p + 4);
  entry.nameSize = nameSize;
  p += 4 + nameSize;
  entry.value = ClProxyWire::GetU32(p);
  entry.size = static_cast<int64_t>(ClProxyWire::GetU64(p + 4));
  entry.type = ClProxyWire::GetU32(p + 12);
  m_uOffset += kMinBrowseEntry + nameSize;
  --m_uLeft;
  return true;
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
