// KxXdr: the XDR items (RFC 4506) that the platform's network records use:
// int, unsigned int, unsigned hyper and a string with a bound. Header-only
// and written by hand, because the big-endian cross build has no XDR
// library; every item is big-endian and a multiple of 4 bytes long.
//
// KxXdrWriter appends to a byte vector. KxXdrReader reads from a span it
// does not own; every Get checks the bytes left first and reports false
// without moving on a short or refused item. A string is refused when its
// length is above the bound or when it holds a NUL byte: nothing is
// allocated before the length was checked against the bound. Pad bytes
// after a string are skipped unread (libtirpc does the same).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

class KxXdrWriter {
 public:
  explicit KxXdrWriter(std::vector<uint8_t>& out) : m_out(out) {}

  void PutUint32(uint32_t v) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    m_out.insert(m_out.end(), bytes, bytes + 4);
  }
  void PutInt32(int32_t v) { PutUint32(static_cast<uint32_t>(v)); }
  void PutUint64(uint64_t v) {
    PutUint32(static_cast<uint32_t>(v >> 32));
    PutUint32(static_cast<uint32_t>(v));
  }
  // False (nothing written) when the text is longer than `bound`.
  bool PutString(const char* text, size_t length, uint32_t bound) {
    if (length > bound) return false;
    PutUint32(static_cast<uint32_t>(length));
    if (length) m_out.insert(m_out.end(), text, text + length);
    m_out.insert(m_out.end(), Pad(length), 0);
    return true;
  }

  static size_t Pad(size_t length) { return (4 - (length & 3)) & 3; }

 private:
  std::vector<uint8_t>& m_out;
};

class KxXdrReader {
 public:
  KxXdrReader(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_pos(0) {}

  size_t Position() const { return m_pos; }
  size_t Left() const { return m_size - m_pos; }

  bool GetUint32(uint32_t& v) {
    if (Left() < 4) return false;
    const uint8_t* p = m_data + m_pos;
    v = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
        (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
    m_pos += 4;
    return true;
  }
  bool GetInt32(int32_t& v) {
    uint32_t u = 0;
    if (!GetUint32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
  }
  bool GetUint64(uint64_t& v) {
    if (Left() < 8) return false;
    uint32_t high = 0, low = 0;
    GetUint32(high);
    GetUint32(low);
    v = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }
  // The length is checked against `bound` and the bytes left before `text`
  // is touched.
  bool GetString(std::string& text, uint32_t bound) {
    const size_t start = m_pos;
    uint32_t length = 0;
    if (!GetUint32(length)) return false;
    const size_t padded = static_cast<size_t>(length) + KxXdrWriter::Pad(length);
    if (length > bound || Left() < padded) {
      m_pos = start;
      return false;
    }
    const char* bytes = reinterpret_cast<const char*>(m_data + m_pos);
    if (length && std::memchr(bytes, 0, length)) {
      m_pos = start;
      return false;
    }
    text.assign(bytes, length);
    m_pos += padded;
    return true;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos;
};
