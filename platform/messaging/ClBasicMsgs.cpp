#include "ClBasicMsgs.h"

#include <cstring>

CWqError ClEmptyMsg::encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const {
  view.data = nullptr;
  view.size = 0;
  return CWqError::Success();
}

ClBlobMsg::ClBlobMsg(uint16_t type, const void* bytes, uint32_t length)
    : ClProxyMsg(type), m_pBytes(new uint8_t[length ? length : 1]), m_uLength(length) {
  if (length && bytes) std::memcpy(m_pBytes.get(), bytes, length);
  else if (length) std::memset(m_pBytes.get(), 0, length);
}

ClBlobMsg::ClBlobMsg(uint16_t type, std::unique_ptr<uint8_t[]> bytes, uint32_t length)
    : ClProxyMsg(type), m_pBytes(std::move(bytes)), m_uLength(length) {
  if (!m_pBytes) {
    m_pBytes.reset(new uint8_t[1]);
    m_uLength = 0;
  }
}

CWqError ClBlobMsg::encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const {
  view.data = m_pBytes.get();
  view.size = m_uLength;
  return CWqError::Success();
}
