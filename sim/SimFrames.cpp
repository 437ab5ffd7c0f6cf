#include "SimFrames.h"

#include <algorithm>

namespace SimFrames {

std::vector<uint8_t> Header(uint16_t type, uint32_t length, uint32_t marker) {
  std::vector<uint8_t> bytes(ClProxyWire::kHeaderSize);
  ClProxyWire::EncodeHeader(type, length, bytes.data());
  ClProxyWire::PutU32(bytes.data(), marker);
  return bytes;
}

std::vector<uint8_t> Frame(uint16_t type, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> bytes = Header(type, static_cast<uint32_t>(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  to = std::min(to, bytes.size());
  from = std::min(from, to);
  return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                              bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace SimFrames
