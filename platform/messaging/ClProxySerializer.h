// ClProxySerializer: the one codec of each payload item kind.
//
// Every writer puts one item at `buf + offset` within the first `size` bytes
// and advances `offset` past it; every reader takes one item from there the
// same way. Integers are big-endian whatever the host.
//
//   16-bit integer   2 bytes
//   32-bit integer   4 bytes
//   64-bit integer   8 bytes
//   byte string      uint16 length n, then n bytes          (2 + n)
//   string           uint32 length n, then n bytes, no NUL  (4 + n)
//   string list      uint32 count, then each string          (4 + sum)
//
// Results: 0 success; 6 not enough bytes (no room for the item, or the input
// ends inside it; a length or count that claims more than is left counts as
// the input ending inside the item). On a failure nothing is written, the
// offset and the out-value are unchanged, and nothing is allocated beyond
// what the buffer itself could hold.
#pragma once

#include <cstdint>
#include <list>
#include <string>

class ClProxySerializer {
 public:
  enum Result { kSuccess = 0, kNotEnoughBytes = 6 };

  static int serialize(int16_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(uint16_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(int32_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(uint32_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(int64_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(uint64_t value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(const std::string& value, void* buf, uint32_t size, uint32_t& offset);
  static int serialize(const std::list<std::string>& value, void* buf, uint32_t size,
                       uint32_t& offset);
  // Byte string of `length` bytes at `data` (null allowed when length is 0).
  static int serialize(const void* data, uint16_t length, void* buf, uint32_t size,
                       uint32_t& offset);

  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, int16_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, uint16_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, int32_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, uint32_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, int64_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, uint64_t& value);
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, std::string& value);
  // Replaces the list's content on success.
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset,
                         std::list<std::string>& value);
  // Byte string: `data` receives a block made with malloc (the caller frees
  // it with free; null when the string is empty) and `length` its length.
  static int deserialize(const void* buf, uint32_t size, uint32_t& offset, char*& data,
                         uint16_t& length);

  // Bytes each item takes.
  static uint32_t getBufSize(int16_t) { return 2; }
  static uint32_t getBufSize(uint16_t) { return 2; }
  static uint32_t getBufSize(int32_t) { return 4; }
  static uint32_t getBufSize(uint32_t) { return 4; }
  static uint32_t getBufSize(int64_t) { return 8; }
  static uint32_t getBufSize(uint64_t) { return 8; }
  // 0xFFFFFFFF when the string could not fit any buffer.
  static uint32_t getBufSize(const std::string& value);
  static uint32_t getBufSize(const std::list<std::string>& value);
  static uint32_t getBufSize(const void* data, uint16_t length) { return 2u + length; }

  // Bytes left after `offset` (0 when the offset is at or past the end).
  static uint32_t remaining(uint32_t size, uint32_t offset) {
    return offset < size ? size - offset : 0;
  }
};
