#include "ClProxyWire.h"

namespace ClProxyWire {

void EncodeHeader(uint16_t type, uint32_t length, uint8_t out[kHeaderSize]) {
  PutU32(out, kMarker);
  PutU16(out + 4, type);
  PutU16(out + 6, 0);
  PutU32(out + 8, length);
}

bool DecodeHeader(const uint8_t in[kHeaderSize], FrameHeader& out) {
  if (GetU32(in) != kMarker) return false;
  out.type = GetU16(in + 4);
  out.length = GetU32(in + 8);
  return true;
}

}  // namespace ClProxyWire
