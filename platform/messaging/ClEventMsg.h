// ClEventMsg (EVENT_MSG): an event raised on the client, which the proxy
// raises again in the job.
//
// Carries the event id of the message catalogue, the severity and the value
// with which it is to be raised, and the event's text arguments in order.
// asError() gives the event as the error value the job's event sender takes;
// sendEvent() and sendPendingCauseAndEvent() hand it to the process-wide
// event sender (ISendEventInterface). With no sender installed the event is
// dropped with a level -1 log line: a client event must never stop a job.
//
// Payload: uint32 event id, int32 severity, int32 value, string list
// arguments.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

class ISendEventInterface;

class ClEventMsg : public ClProxyMsg {
 public:
  ClEventMsg(uint32_t eventId, int32_t severity, int32_t value,
             const std::list<std::string>& arguments)
      : ClProxyMsg(EVENT_MSG),
        m_uEventId(eventId),
        m_iSeverity(severity),
        m_iValue(value),
        m_arguments(arguments) {}

  uint32_t getEventID() const { return m_uEventId; }
  int32_t getSeverity() const { return m_iSeverity; }
  int32_t getValue() const { return m_iValue; }
  const std::list<std::string>& getArguments() const { return m_arguments; }

  // The event-message error of the event id with the arguments appended as
  // string parameters, in order.
  CWqError asError() const;
  // Raises the event with its severity and value.
  void sendEvent() const;
  // The same through `sender` in place of the process-wide one.
  void sendEvent(ISendEventInterface& sender) const;
  // Raises it as a job pending cause with an event.
  void sendPendingCauseAndEvent() const;

  static std::unique_ptr<ClEventMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  uint32_t m_uEventId;
  int32_t m_iSeverity;
  int32_t m_iValue;
  std::list<std::string> m_arguments;
};
