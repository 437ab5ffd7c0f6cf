// The two untyped shapes: ClEmptyMsg (the type alone, 0x80xx) and ClBlobMsg
// (one byte block, 0x40xx).
#pragma once

#include <cstdint>
#include <memory>

#include "ClMallocBlock.h"
#include "ClProxyMsg.h"

class ClEmptyMsg : public ClProxyMsg {
 public:
  explicit ClEmptyMsg(uint16_t type) : ClProxyMsg(type) {}
  ~ClEmptyMsg() override {}

  CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const override;
};

// Ownership of the byte block is always chosen by name, never by overload:
//   ClBlobMsg(type, ClBlobMsg::Copy, p, n)    copies n bytes; the caller keeps p.
//   ClBlobMsg(type, ClBlobMsg::Borrow, p, n)  keeps only the pointer; the caller
//                                             keeps p alive until the message is
//                                             sent and destroyed, and frees it.
//   ClBlobMsg(type, std::move(owned), n)      takes over a new[] block, which the
//                                             message frees.
//   ClBlobMsg::Adopt(type, p, n)              takes over a raw new[] block (char*
//                                             or uint8_t*), which the message frees.
//   ClBlobMsg(type, std::move(mallocd), n)    takes over a malloc'd block
//                                             (ClMallocBlock), as the channel
//                                             receives every blob; handOut gives
//                                             that very block to the caller.
// A null pointer with length 0 makes an empty blob.
class ClBlobMsg : public ClProxyMsg {
 public:
  enum CopyTag { Copy };
  enum BorrowTag { Borrow };

  ClBlobMsg(uint16_t type, CopyTag, const void* bytes, uint32_t length);
  ClBlobMsg(uint16_t type, BorrowTag, const void* bytes, uint32_t length);
  ClBlobMsg(uint16_t type, std::unique_ptr<uint8_t[]> bytes, uint32_t length);
  // Takes over `bytes`, allocated with new[]; freed with the message.
  static std::unique_ptr<ClBlobMsg> Adopt(uint16_t type, char* bytes, uint32_t length);
  static std::unique_ptr<ClBlobMsg> Adopt(uint16_t type, uint8_t* bytes, uint32_t length);
  ClBlobMsg(uint16_t type, ClMallocBlock bytes, uint32_t length);
  ~ClBlobMsg() override {}

  // Gives the blob to the caller as a malloc'd block, which the caller frees
  // with free; the message is left with an empty blob. The block the message
  // took over is handed out as it is (no copy); a copied, new[] or borrowed
  // blob is copied into a new malloc'd block. An empty blob gives null and
  // 0. ENOMEM when the copy cannot be made (the message keeps its blob and
  // `bytes` is null, `length` 0).
  CWqError handOut(char*& bytes, uint32_t& length);

  const uint8_t* getBlob() const { return m_pView; }
  uint32_t getBlobSize() const { return m_uLength; }
  // Points `bytes` at the blob, which stays owned by the message (or by the
  // lender of a borrowed block).
  void get(const uint8_t*& bytes, uint32_t& length) const {
    bytes = m_pView;
    length = m_uLength;
  }

  CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const override;

 private:
  std::unique_ptr<uint8_t[]> m_pBytes;  // null for a borrowed or malloc'd block
  ClMallocBlock m_pMalloced;            // set only for a taken-over malloc'd block
  const uint8_t* m_pView;
  uint32_t m_uLength;
};
