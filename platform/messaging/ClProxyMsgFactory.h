// Rebuilds a received message from its type and payload bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "CWqError.h"
#include "ClMallocBlock.h"
#include "ClProxyMsg.h"

class ClProxyMsgFactory {
 public:
  // Builds the message of `type` from `length` bytes at `payload`. A byte
  // block message (and a pre-pipeline data block) takes the buffer itself (no
  // copy); an empty or type-only type gives a ClEmptyMsg without reading the
  // payload; every other type is decoded by its class. A payload that does
  // not decode (short, trailing bytes, a length or count beyond the bytes
  // left) is an EPROTO (71) error naming the type, as is an unknown type;
  // `msg` is then null. On success `msg` is a new message the caller owns.
  static CWqError Create(uint16_t type, ClMallocBlock payload, uint32_t length, ClProxyMsg*& msg);
  // The same from a new[] block, which is copied into a malloc'd one.
  static CWqError Create(uint16_t type, std::unique_ptr<uint8_t[]> payload, uint32_t length,
                         ClProxyMsg*& msg);
};
