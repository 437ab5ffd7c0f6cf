#include "ClProxyMsg.h"

CWqError ClProxyMsg::encodePayload(std::vector<uint8_t>& scratch, ClProxyPayloadView& view) const {
  scratch.clear();
  CWqError result = encode(scratch);
  if (result.IsError()) return result;
  view.data = scratch.empty() ? nullptr : scratch.data();
  view.size = static_cast<uint32_t>(scratch.size());
  return CWqError::Success();
}

CWqError ClProxyMsg::encode(std::vector<uint8_t>& out) const { return CWqError::Success(); }
