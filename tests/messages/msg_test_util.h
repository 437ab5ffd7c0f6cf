// Helpers shared by the message tests: encode a message, frame it, decode a
// payload through the factory, and write golden bytes as string literals.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyMsg.h"
#include "ClProxyMsgFactory.h"
#include "ClProxyWire.h"

// Literal golden bytes: BYTES("\x00\x01" "ab") keeps embedded NULs.
#define BYTES(literal) std::vector<uint8_t>(literal, literal + sizeof(literal) - 1)

inline std::vector<uint8_t> EncodePayload(const ClProxyMsg& msg) {
  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  CWqError result = msg.encodePayload(scratch, view);
  if (result.IsError()) return {};
  return std::vector<uint8_t>(view.data, view.data + view.size);
}

// Header and payload exactly as they go onto the socket.
inline std::vector<uint8_t> EncodeFrame(const ClProxyMsg& msg) {
  std::vector<uint8_t> payload = EncodePayload(msg);
  std::vector<uint8_t> frame(ClProxyWire::kHeaderSize);
  ClProxyWire::EncodeHeader(msg.getMsgType(), static_cast<uint32_t>(payload.size()), frame.data());
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

struct Decoded {
  CWqError result;
  std::unique_ptr<ClProxyMsg> msg;
};

// Hands the factory a fresh heap copy of `bytes`, as the receive path does.
inline Decoded DecodePayload(uint16_t type, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(buffer.get(), bytes.data(), bytes.size());
  ClProxyMsg* raw = nullptr;
  Decoded out;
  out.result = ClProxyMsgFactory::Create(type, std::move(buffer),
                                         static_cast<uint32_t>(bytes.size()), raw);
  out.msg.reset(raw);
  return out;
}
