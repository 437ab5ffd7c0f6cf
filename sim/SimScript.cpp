#include "SimScript.h"

#include <utility>

SimScript& SimScript::Expect(ClProxyMsgType type, int seconds) {
  return Expect(std::vector<ClProxyMsgType>{type}, seconds);
}

SimScript& SimScript::Expect(std::vector<ClProxyMsgType> types, int seconds) {
  SimStep step;
  step.kind = SimStep::kExpect;
  step.types = std::move(types);
  step.seconds = seconds;
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::ExpectAny(int seconds) { return Expect(std::vector<ClProxyMsgType>(), seconds); }

SimScript& SimScript::Reply(std::shared_ptr<ClProxyMsg> message) {
  SimStep step;
  step.kind = SimStep::kReply;
  step.message = std::move(message);
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::Silent(int64_t milliseconds) {
  SimStep step;
  step.kind = SimStep::kSilent;
  step.milliseconds = milliseconds;
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::SendRaw(std::vector<uint8_t> bytes) {
  SimStep step;
  step.kind = SimStep::kSendRaw;
  step.bytes = std::move(bytes);
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::Close() {
  SimStep step;
  step.kind = SimStep::kClose;
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::Reset() {
  SimStep step;
  step.kind = SimStep::kReset;
  m_steps.push_back(std::move(step));
  return *this;
}

SimScript& SimScript::Call(std::function<CWqError(SimPeer&)> action) {
  SimStep step;
  step.kind = SimStep::kCall;
  step.action = std::move(action);
  m_steps.push_back(std::move(step));
  return *this;
}
