// The frame of the message channel: a fixed header, then the payload.
//
//   offset 0  uint32  marker 0x50584D31 ("PXM1")
//   offset 4  uint16  message type
//   offset 6  uint16  reserved, 0
//   offset 8  uint32  payload length in bytes
//
// Every integer is big-endian whatever the host, so an x86 proxy and a
// PowerPC proxy put the same bytes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ClProxyWire {

constexpr uint32_t kMarker = 0x50584D31u;
constexpr size_t kHeaderSize = 12;
// Largest payload accepted unless the connection is given another limit.
constexpr uint32_t kDefaultMaxPayload = 64u * 1024u * 1024u;

struct FrameHeader {
  uint16_t type = 0;
  uint32_t length = 0;
};

void EncodeHeader(uint16_t type, uint32_t length, uint8_t out[kHeaderSize]);
// False when the marker is wrong.
bool DecodeHeader(const uint8_t in[kHeaderSize], FrameHeader& out);

// Big-endian integer helpers for payload codecs.
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v >> 32));
  PutU32(p + 4, static_cast<uint32_t>(v));
}
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t GetU32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t GetU64(const uint8_t* p) {
  return (static_cast<uint64_t>(GetU32(p)) << 32) | GetU32(p + 4);
}

}  // namespace ClProxyWire
