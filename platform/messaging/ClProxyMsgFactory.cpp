#include "ClProxyMsgFactory.h"

#include <cerrno>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"

CWqError ClProxyMsgFactory::Create(uint16_t type, std::unique_ptr<uint8_t[]> payload,
                                   uint32_t length, ClProxyMsg*& msg) {
  msg = nullptr;
  if (ClProxyIsBlobType(type)) {
    msg = new ClBlobMsg(type, std::move(payload), length);
    return CWqError::Success();
  }
  if (ClProxyIsEmptyType(type)) {
    // Any payload of an empty type is not read.
    msg = new ClEmptyMsg(type);
    return CWqError::Success();
  }
  // TODO(messages): typed classes.
  return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Unknown message type 0x%04x", type);
}
