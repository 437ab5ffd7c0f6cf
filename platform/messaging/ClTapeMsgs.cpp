#include "ClTapeMsgs.h"

#include <cerrno>

#include "ClProxyPayload.h"
#include "FXErrorUtil.h"

CWqError ClArgListMsg::setArgument(const std::string& name, const std::string& value) {
  m_arguments[name] = value;
  return CWqError::Success();
}

CWqError ClArgListMsg::getArgument(const std::string& name, std::string& value) const {
  auto found = m_arguments.find(name);
  if (found == m_arguments.end())
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No argument [%s] in message", name.c_str());
  value = found->second;
  return CWqError::Success();
}

void ClArgListMsg::writeArguments(ClProxyPayloadWriter& out) const {
  out.put(static_cast<uint32_t>(m_arguments.size()));
  for (const auto& argument : m_arguments) {
    out.put(argument.first);
    out.put(argument.second);
  }
}

void ClArgListMsg::readArguments(ClProxyPayloadReader& in) {
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, 8)) return;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    std::string name, value;
    in.get(name);
    in.get(value);
    if (in.ok()) m_arguments[name] = value;
  }
}

CWqError ClTapeInfoMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sTapeBarCode);
  w.put(m_sDriveSerial);
  writeArguments(w);
  return w.result(getMsgType());
}

std::unique_ptr<ClTapeInfoMsg> ClTapeInfoMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string barCode, driveSerial;
  in.get(barCode);
  in.get(driveSerial);
  std::unique_ptr<ClTapeInfoMsg> msg(new ClTapeInfoMsg(barCode, driveSerial));
  msg->readArguments(in);
  if (!in.done()) return nullptr;
  return msg;
}

CWqError ClTapeFullMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sTapeBarCode);
  return w.result(getMsgType());
}

std::unique_ptr<ClTapeFullMsg> ClTapeFullMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string barCode;
  in.get(barCode);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClTapeFullMsg>(new ClTapeFullMsg(barCode));
}
