// kxsDatabuf and kxsDatabuf_v2: how a record reaches the platform's XDR
// layer. kxsDatabuf names a caller's record (its address and its declared
// length). kxsDatabuf_v2 is the buffer that CKxNetwork encodes from and
// decodes into; setExternalBuffer attaches the caller's record, which the
// buffer never owns or frees.
#pragma once

#include <cstdint>

struct kxsDatabuf {
  void* data = nullptr;
  uint32_t length = 0;
};

class kxsDatabuf_v2 {
 public:
  kxsDatabuf_v2() = default;
  kxsDatabuf_v2(const kxsDatabuf_v2&) = delete;
  kxsDatabuf_v2& operator=(const kxsDatabuf_v2&) = delete;

  void setExternalBuffer(void* bytes, uint32_t length) {
    m_pData = bytes;
    m_uLength = length;
  }
  void* getBuffer() const { return m_pData; }
  uint32_t getLength() const { return m_uLength; }

 private:
  void* m_pData = nullptr;
  uint32_t m_uLength = 0;
};
