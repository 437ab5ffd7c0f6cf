#include "ClBasicMsgs.h"

#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"

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

ClBlobMsg::ClBlobMsg(uint16_t type, ClMallocBlock bytes, uint32_t length)
    : ClProxyMsg(type), m_pMalloced(std::move(bytes)), m_pView(m_pMalloced.get()), m_uLength(length) {
  if (!m_pView) {
    m_pView = kEmptyBlob;
    m_uLength = 0;
  }
}

CWqError ClBlobMsg::handOut(char*& bytes, uint32_t& length) {
  bytes = nullptr;
  length = 0;
  if (m_uLength == 0) return CWqError::Success();
  if (!m_pMalloced) {
    ClMallocBlock copy(static_cast<uint8_t*>(std::malloc(m_uLength)));
    if (!copy) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for a copy of %u blob bytes", m_uLength);
    std::memcpy(copy.get(), m_pView, m_uLength);
    m_pMalloced = std::move(copy);
  }
  bytes = reinterpret_cast<char*>(m_pMalloced.release());
  length = m_uLength;
  m_pBytes.reset();
  m_pView = kEmptyBlob;
  m_uLength = 0;
  return CWqError::Success();
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
