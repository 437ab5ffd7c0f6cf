#include "ClEventMsg.h"

#include "ClProxyPayload.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ISendEventInterface.h"

CWqError ClEventMsg::asError() const {
  CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, m_uEventId);
  for (const std::string& argument : m_arguments) error << argument.c_str();
  return error;
}

void ClEventMsg::sendEvent() const {
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (!sender) {
    FX_LOG(-1, "No event sender installed, client event 0x%x dropped", m_uEventId);
    return;
  }
  sendEvent(*sender);
}

void ClEventMsg::sendEvent(ISendEventInterface& sender) const {
  // The sender raises the event for its own job; the job id passed is not used.
  sender.SendEvent(asError(), m_iSeverity, 0, m_iValue);
}

void ClEventMsg::sendPendingCauseAndEvent() const {
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (!sender) {
    FX_LOG(-1, "No event sender installed, client pending event 0x%x dropped", m_uEventId);
    return;
  }
  sender->SetPendingCauseAndEvent(asError(), m_iSeverity, m_iValue);
}

CWqError ClEventMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uEventId);
  w.put(m_iSeverity);
  w.put(m_iValue);
  w.put(m_arguments);
  return w.result(getMsgType());
}

std::unique_ptr<ClEventMsg> ClEventMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t eventId = 0;
  int32_t severity = 0, value = 0;
  std::list<std::string> arguments;
  in.get(eventId);
  in.get(severity);
  in.get(value);
  in.get(arguments);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClEventMsg>(new ClEventMsg(eventId, severity, value, arguments));
}
