// Small helpers of the channel tests: a loopback connect, recognisable byte
// patterns and blob messages.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "CWqError.h"
#include "CWqIPAddr.h"
#include "ClBasicMsgs.h"
#include "ClProxyConnection.h"

namespace channeltest {

inline CWqError ConnectLoopback(ClProxyConnection& connection, uint16_t port) {
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(port);
  if (!result.IsError()) result = connection.getConnectionSocket().Create(AF_INET);
  if (!result.IsError()) result = connection.getConnectionSocket().Connect(address);
  return result;
}

// Bytes that differ with `seed` and with their position.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

inline std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::vector<uint8_t>& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

inline std::vector<uint8_t> BlobBytes(const ClProxyMsg* message) {
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message);
  if (!blob) return std::vector<uint8_t>();
  return std::vector<uint8_t>(blob->getBlob(), blob->getBlob() + blob->getBlobSize());
}

}  // namespace channeltest
