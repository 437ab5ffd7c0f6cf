// Rebuilds a received message from its type and payload bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "CWqError.h"
#include "ClProxyMsg.h"

class ClProxyMsgFactory {
 public:
  // Builds the message of `type` from `length` bytes at `payload`. A byte
  // block message takes the buffer itself (no copy); other classes decode it.
  // A payload that does not decode is an EPROTO (71) error naming the type.
  // A type the library does not know is an EPROTO error too.
  static CWqError Create(uint16_t type, std::unique_ptr<uint8_t[]> payload, uint32_t length,
                         ClProxyMsg*& msg);
};
