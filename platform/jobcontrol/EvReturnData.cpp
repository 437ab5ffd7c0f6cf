#include "EvReturnData.h"

#include <sys/socket.h>

#include <cerrno>

#include "CWqSocket.h"
#include "ClProxyTimeouts.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KxNetFrame.h"

EvReturnData::EvReturnData(unsigned long code, long long sequence, const CWqSocket* socket, bool flag,
                           CKxNetwork* network)
    : m_ulCode(code),
      m_llSequence(sequence),
      m_iDescriptor(socket ? static_cast<int>(socket->GetSocketDescriptor()) : -1),
      m_bFlag(flag),
      m_pNetwork(network),
      m_iWriteSeconds(getTimeOutValue(TIMEOUT_REQUESTER_WRITE)) {}

EvReturnData::~EvReturnData() {}

void EvReturnData::addItem(const std::vector<uint8_t>& payload) {
  uint8_t head[8];
  ClProxyWire::PutU32(head, kItemTag);
  ClProxyWire::PutU32(head + 4, static_cast<uint32_t>(payload.size()));
  m_buffer.insert(m_buffer.end(), head, head + sizeof head);
  m_buffer.insert(m_buffer.end(), payload.begin(), payload.end());
  // Written by size: a long listing neither waits in memory nor goes out item by item.
  if (m_buffer.size() >= kFlushBytes) dumpBuffer(0);
}

void EvReturnData::dumpBuffer(int reason) {
  if (m_buffer.empty() || m_bEnded) return;
  if (!m_failure.IsError()) {
    FX_LOG(4, "Result stream %lld: %zu bytes of items out (%d)", m_llSequence, m_buffer.size(), reason);
    m_failure = writeAll(m_buffer.data(), m_buffer.size());
  }
  m_buffer.clear();  // keeps its capacity for the next items
}

CWqError EvReturnData::writeAll(const uint8_t* data, size_t size) const {
  if (m_iDescriptor < 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Result stream %lld has no requester socket", m_llSequence);
  // The whole buffer within the limit: a requester that stops reading must
  // not hold the caller (and what the caller has locked) for good.
  const KxNetSendResult sent = KxNetSendAll(m_iDescriptor, data, size, m_iWriteSeconds * 1000LL);
  if (sent.error == 0) return CWqError::Success();
  if (sent.error == ETIME)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME,
                                   "The requester of result stream %lld took no data for %d seconds (%zu of %zu "
                                   "bytes written)",
                                   m_llSequence, m_iWriteSeconds, sent.sent, size);
  if (sent.waiting)
    return FXErrorUtil::ErrorErrNo(FX_HERE, sent.error, "Cannot wait for the requester of result stream %lld",
                                   m_llSequence);
  return FXErrorUtil::ErrorErrNo(FX_HERE, sent.error, "Result stream write failed");
}

void EvReturnData::write(uint32_t tag, const uint8_t* data, uint32_t size) {
  uint8_t head[8];
  ClProxyWire::PutU32(head, tag);
  ClProxyWire::PutU32(head + 4, size);
  m_buffer.insert(m_buffer.end(), head, head + sizeof head);
  m_buffer.insert(m_buffer.end(), data, data + size);
  dumpBuffer(0);
}

void EvReturnData::send(uint32_t tag, const void* data, uint32_t size) {
  if (m_bEnded) return;
  write(tag, static_cast<const uint8_t*>(data), size);
}

void EvReturnData::end(long long code) {
  if (m_bEnded) return;
  uint8_t payload[8];
  ClProxyWire::PutU64(payload, static_cast<uint64_t>(code));
  write(kEndTag, payload, sizeof payload);
  m_bEnded = true;
}

bool ParseReturnRecords(const std::vector<uint8_t>& bytes, std::vector<EvReturnRecord>& records) {
  size_t at = 0;
  while (bytes.size() - at >= 8) {
    const uint32_t length = ClProxyWire::GetU32(bytes.data() + at + 4);
    if (bytes.size() - at - 8 < length) return false;
    EvReturnRecord record;
    record.tag = ClProxyWire::GetU32(bytes.data() + at);
    record.payload.assign(bytes.begin() + static_cast<long>(at + 8), bytes.begin() + static_cast<long>(at + 8 + length));
    records.push_back(std::move(record));
    at += 8 + length;
  }
  return at == bytes.size();
}
