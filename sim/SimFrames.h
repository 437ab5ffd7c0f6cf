// Raw frame bytes for scripts that send what the channel itself would never
// write: frames with a wrong marker, an impossible length, or cut short.
#pragma once

#include <cstdint>
#include <vector>

#include "ClProxyWire.h"

namespace SimFrames {

// A frame header with any marker and length.
std::vector<uint8_t> Header(uint16_t type, uint32_t length, uint32_t marker = ClProxyWire::kMarker);
// A well-formed frame: header and payload.
std::vector<uint8_t> Frame(uint16_t type, const std::vector<uint8_t>& payload);
// Bytes [from, to) of `bytes` (clamped to its size).
std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t to);

}  // namespace SimFrames
