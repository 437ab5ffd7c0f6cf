#include "ClLaunchMsgs.h"

#include "ClProxyPayload.h"

CWqError ClLaunchCmdMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uPort);
  w.put(m_sCommand);
  return w.result(getMsgType());
}

std::unique_ptr<ClLaunchCmdMsg> ClLaunchCmdMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint16_t port = 0;
  std::string command;
  in.get(port);
  in.get(command);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClLaunchCmdMsg>(new ClLaunchCmdMsg(port, command));
}

CWqError ClLaunchCmdDIPMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_sInterface);
  w.put(getPort());
  w.put(getCommand());
  return w.result(getMsgType());
}

std::unique_ptr<ClLaunchCmdDIPMsg> ClLaunchCmdDIPMsg::decode(const uint8_t* payload,
                                                             uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::string interface;
  uint16_t port = 0;
  std::string command;
  in.get(interface);
  in.get(port);
  in.get(command);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClLaunchCmdDIPMsg>(new ClLaunchCmdDIPMsg(interface, port, command));
}

namespace {

// The three messages whose payload is one int32.
CWqError EncodeInt(std::vector<uint8_t>& out, int32_t value, uint16_t type) {
  ClProxyPayloadWriter w(out);
  w.put(value);
  return w.result(type);
}

bool DecodeInt(const uint8_t* payload, uint32_t length, int32_t& value) {
  ClProxyPayloadReader in(payload, length);
  in.get(value);
  return in.done();
}

}  // namespace

CWqError ClLaunchCmdResponseMsg::encode(std::vector<uint8_t>& out) const {
  return EncodeInt(out, m_iProcessId, getMsgType());
}

std::unique_ptr<ClLaunchCmdResponseMsg> ClLaunchCmdResponseMsg::decode(const uint8_t* payload,
                                                                       uint32_t length) {
  int32_t value = 0;
  if (!DecodeInt(payload, length, value)) return nullptr;
  return std::unique_ptr<ClLaunchCmdResponseMsg>(new ClLaunchCmdResponseMsg(value));
}

CWqError ClGetProcessStatusMsg::encode(std::vector<uint8_t>& out) const {
  return EncodeInt(out, m_iProcessId, getMsgType());
}

std::unique_ptr<ClGetProcessStatusMsg> ClGetProcessStatusMsg::decode(const uint8_t* payload,
                                                                     uint32_t length) {
  int32_t value = 0;
  if (!DecodeInt(payload, length, value)) return nullptr;
  return std::unique_ptr<ClGetProcessStatusMsg>(new ClGetProcessStatusMsg(value));
}

CWqError ClProcessStatusResponseMsg::encode(std::vector<uint8_t>& out) const {
  return EncodeInt(out, m_iStatus, getMsgType());
}

std::unique_ptr<ClProcessStatusResponseMsg> ClProcessStatusResponseMsg::decode(
    const uint8_t* payload, uint32_t length) {
  int32_t value = 0;
  if (!DecodeInt(payload, length, value)) return nullptr;
  return std::unique_ptr<ClProcessStatusResponseMsg>(new ClProcessStatusResponseMsg(value));
}
