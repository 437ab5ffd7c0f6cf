// The two untyped shapes: ClEmptyMsg (the type alone, 0x80xx) and ClBlobMsg
// (one byte block, 0x40xx).
#pragma once

#include <cstdint>
#include <memory>

#include "ClProxyMsg.h"

class ClEmptyMsg : public ClProxyMsg {
 public:
  explicit ClEmptyMsg(uint16_t type) : ClProxyMsg(type) {}
  ~ClEmptyMsg() override {}

  CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const override;
};

class ClBlobMsg : public ClProxyMsg {
 public:
  // Copies `length` bytes (a null pointer with length 0 makes an empty blob).
  ClBlobMsg(uint16_t type, const void* bytes, uint32_t length);
  // Takes a buffer without copying it (used by the receive path).
  ClBlobMsg(uint16_t type, std::unique_ptr<uint8_t[]> bytes, uint32_t length);
  ~ClBlobMsg() override {}

  const uint8_t* getBlob() const { return m_pBytes.get(); }
  uint32_t getBlobSize() const { return m_uLength; }
  // Points `bytes` at the blob, which stays owned by the message.
  void get(const uint8_t*& bytes, uint32_t& length) const {
    bytes = m_pBytes.get();
    length = m_uLength;
  }

  CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const override;

 private:
  std::unique_ptr<uint8_t[]> m_pBytes;
  uint32_t m_uLength;
};
