// The file header as it travels between the proxy and a client program, and
// its serializer.
//
// Byte form (big-endian; getBufSize() = 84 + name length):
//   uint32 word1, uint32 word2, string name (uint32 length + bytes),
//   uint64 mode, uid, gid, size, ctime, mtime, atime, flags, offset.
#pragma once

#include <cstdint>
#include <string>

struct ClProxyFileHeader {
  // Both words, every number 0 and an empty name.
  ClProxyFileHeader() = default;

  // The two leading words travel unchanged; the proxy gives them no meaning.
  uint32_t word1 = 0;
  uint32_t word2 = 0;
  std::string name;
  uint64_t mode = 0;
  uint64_t uid = 0;
  uint64_t gid = 0;
  uint64_t size = 0;
  uint64_t ctime = 0;
  uint64_t mtime = 0;
  uint64_t atime = 0;
  uint64_t flags = 0;
  uint64_t offset = 0;
};

// The layout in use (the byte form above). Adds no field of its own.
struct ClProxyFileHeaderVersion2 : ClProxyFileHeader {};

// Holds one header and converts it to and from its byte form.
//
// `used` is a running offset, as with ClProxySerializer: serialize writes at
// `buf + used` and deserialize reads from there, and both advance `used` past
// the header. `used` is read as well as written: a caller that wants only
// the size written must set it to 0 before the call. Results: 0
// success, 6 not enough bytes (no room to write, or a truncated or
// inconsistent input). A failure leaves `used` and the held header unchanged
// and never touches bytes at or past `bufSize`.
class ClProxyFileHeaderSerializer : public ClProxyFileHeaderVersion2 {
 public:
  ClProxyFileHeaderSerializer() = default;

  void setHeader(const ClProxyFileHeader& header) {
    static_cast<ClProxyFileHeader&>(*this) = header;
  }
  void getHeader(ClProxyFileHeader& header) const {
    header = static_cast<const ClProxyFileHeader&>(*this);
  }
  // Back to the zero header with an empty name.
  void clearHeader() { setHeader(ClProxyFileHeader()); }

  int serialize(void* buf, uint32_t bufSize, uint32_t& used) const;
  int deserialize(const void* buf, uint32_t bufSize, uint32_t& used);
  // The bytes serialize writes.
  uint32_t getBufSize() const;
};
