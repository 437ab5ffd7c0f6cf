#include "ClBasicMsgs.h"

#include <cstring>

CWqError ClEmptyMsg::encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const {
  view.data = nullptr;
  view.size = 0;
  return CWqError::Success();
}

namespace {
const uint8_t kEmptyBlob[1] = {0};
}

ClBlobMsg::ClBlobMsg(uint16_t type, CopyTag, const void* bytes, uint32_t length)
    : ClProxyMsg(type), m_pBytes(new uint8_t[length ? length : 1]), m_pView(m_pBytes.get()), m_uLength(length) {
  if (length && bytes) std::memcpy(m_pBytes.get(), bytes, length);
  else if (length) std::memset(m_pBytes.get(), 0, length);
}

ClBlobMsg::ClBlobMsg(uint16_t type, BorrowTag, const void* bytes, uint32_t length)
    : ClProxyMsg(type), m_pView(static_cast<const uint8_t*>(bytes)), m_uLength(length) {
  if (!m_pView) {
    m_pView = kEmptyBlob;
    m_uLength = 0;
  }
}

ClBlobMsg::ClBlobMsg(uint16_t type, std::unique_ptr<uint8_t[]> bytes, uint32_t length)
    : ClProxyMsg(type), m_pBytes(std::move(bytes)), m_uLength(length) {
  if (!m_pBytes) {
    m_pBytes.reset(new uint8_t[1]);
    m_uLength = 0;
  }
  m_pView = m_pBytes.get();
}

std::unique_ptr<ClBlobMsg> ClBlobMsg::Adopt(uint16_t type, uint8_t* bytes, uint32_t length) {
  return std::unique_ptr<ClBlobMsg>(new ClBlobMsg(type, std::unique_ptr<uint8_t[]>(bytes), length));
}

std::unique_ptr<ClBlobMsg> ClBlobMsg::Adopt(uint16_t type, char* bytes, uint32_t length) {
  return Adopt(type, reinterpret_cast<uint8_t*>(bytes), length);
}

CWqError ClBlobMsg::encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const {
  view.data = m_pView;
  view.size = m_uLength;
  return CWqError::Success();
}
