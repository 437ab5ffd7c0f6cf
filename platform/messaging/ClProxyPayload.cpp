#include "ClProxyPayload.h"

#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"

bool ClProxyPayloadWriter::grow(uint64_t need) {
  if (!m_bOk) return false;
  if (need > 0xFFFFFFFFull - m_out.size()) {
    m_bOk = false;
    return false;
  }
  m_out.resize(m_out.size() + static_cast<size_t>(need));
  return true;
}

void ClProxyPayloadWriter::putRaw(const void* data, uint32_t length) {
  uint8_t* at = extend(length);
  if (at && length) std::memcpy(at, data, length);
}

uint8_t* ClProxyPayloadWriter::extend(uint32_t length) {
  const size_t offset = m_out.size();
  if (!grow(length)) return nullptr;
  return m_out.data() + offset;
}

void ClProxyPayloadReader::getBool(bool& value) {
  uint16_t raw = 0;
  get(raw);
  if (!m_bOk) return;
  if (raw > 1) {
    m_bOk = false;
    return;
  }
  value = raw == 1;
}

void ClProxyPayloadReader::getRaw(void* data, uint32_t length) {
  const uint8_t* from = take(length);
  if (from && length) std::memcpy(data, from, length);
}

const uint8_t* ClProxyPayloadReader::take(uint32_t length) {
  if (!m_bOk) return nullptr;
  if (length > remaining()) {
    m_bOk = false;
    return nullptr;
  }
  const uint8_t* at = m_pData + m_uOffset;
  m_uOffset += length;
  return at;
}

bool ClProxyPayloadReader::checkCount(uint32_t count, uint32_t minItemSize) {
  if (!m_bOk) return false;
  if (minItemSize && count > remaining() / minItemSize) m_bOk = false;
  return m_bOk;
}

CWqError ClProxyPayloadWriter::result(uint16_t type) const {
  if (m_bOk) return CWqError::Success();
  return FXErrorUtil::ErrorErrNo(FX_HERE, EMSGSIZE, "Payload of message type 0x%04x is too large",
                                 type);
}
