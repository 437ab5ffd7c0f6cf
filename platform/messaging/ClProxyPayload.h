// Payload writer and reader used by the typed message classes.
//
// Both go through ClProxySerializer, so each item kind has one codec. The
// writer appends to a growing buffer; the reader walks a received payload and
// remembers the first failure, so a decoder reads every field and asks once
// at the end whether the payload was exactly what it expected.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "CWqError.h"
#include "ClProxySerializer.h"

class ClProxyPayloadWriter {
 public:
  explicit ClProxyPayloadWriter(std::vector<uint8_t>& out) : m_out(out), m_bOk(true) {}

  template <typename T>
  void put(const T& value) {
    uint32_t need = ClProxySerializer::getBufSize(value);
    uint32_t offset = static_cast<uint32_t>(m_out.size());
    if (!grow(need)) return;
    if (ClProxySerializer::serialize(value, m_out.data(), static_cast<uint32_t>(m_out.size()),
                                     offset) != ClProxySerializer::kSuccess)
      m_bOk = false;
  }
  void putBool(bool value) { put(static_cast<uint16_t>(value ? 1 : 0)); }
  // Fixed-size bytes carried as they are (record fields without a number).
  void putRaw(const void* data, uint32_t length);
  // Appends `length` bytes for the caller to fill; null (and the writer
  // failed) when the payload would grow past what a frame can carry.
  uint8_t* extend(uint32_t length);
  // Marks the payload as not encodable (too large).
  void fail() { m_bOk = false; }

  // False when the payload grew past what a frame can carry.
  bool ok() const { return m_bOk; }
  // Success, or an EMSGSIZE error naming the message type.
  CWqError result(uint16_t type) const;

 private:
  bool grow(uint64_t need);

  std::vector<uint8_t>& m_out;
  bool m_bOk;
};

class ClProxyPayloadReader {
 public:
  ClProxyPayloadReader(const uint8_t* data, uint32_t length)
      : m_pData(data), m_uLength(length), m_uOffset(0), m_bOk(true) {}

  template <typename T>
  void get(T& value) {
    if (m_bOk && ClProxySerializer::deserialize(m_pData, m_uLength, m_uOffset, value) !=
                     ClProxySerializer::kSuccess)
      m_bOk = false;
  }
  // A bool is a 16-bit 0 or 1; any other value is malformed.
  void getBool(bool& value);
  void getRaw(void* data, uint32_t length);
  // The next `length` bytes, consumed; null (and the reader failed) when
  // fewer remain.
  const uint8_t* take(uint32_t length);
  // Fails the read when `count` items of at least `minItemSize` bytes each
  // cannot fit in what is left, so a forged count never drives an allocation.
  bool checkCount(uint32_t count, uint32_t minItemSize);
  void fail() { m_bOk = false; }

  uint32_t remaining() const { return ClProxySerializer::remaining(m_uLength, m_uOffset); }
  uint32_t offset() const { return m_uOffset; }
  bool ok() const { return m_bOk; }
  // Every read succeeded and every byte was consumed.
  bool done() const { return m_bOk && m_uOffset == m_uLength; }

 private:
  const uint8_t* m_pData;
  uint32_t m_uLength;
  uint32_t m_uOffset;
  bool m_bOk;
};
