// ClProxyMsg: the base of every message exchanged with the client side.
//
// A message is a type code and a payload. Each class encodes its payload in
// the channel's wire format (docs/wire-format.md: every integer big-endian)
// and is rebuilt from received payload bytes by ClProxyMsgFactory. A message
// that is sent stays the sender's; a received one belongs to the receiver.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CWqError.h"
#include "ClProxyMsgType.h"

// Where the bytes of an encoded payload are: either in the scratch buffer
// the encoder was given, or (for byte blocks) in the message itself, so that
// large blocks are sent without a copy.
struct ClProxyPayloadView {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

class ClProxyMsg {
 public:
  explicit ClProxyMsg(uint16_t type) : m_uType(type) {}
  virtual ~ClProxyMsg() {}

  ClProxyMsgType getMsgType() const { return static_cast<ClProxyMsgType>(m_uType); }
  static bool isBlobMsg(uint16_t type) { return ClProxyIsBlobType(type); }

  // Encodes the payload. The default encodes into `scratch` (cleared first)
  // through encode(); a class that holds its payload bytes may point `view`
  // at them instead.
  virtual CWqError encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const;

 protected:
  // Appends the payload's bytes to `out`.
  virtual CWqError encode(std::vector<uint8_t>& out) const;

 private:
  uint16_t m_uType;
};
