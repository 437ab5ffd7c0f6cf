// SimScript: what the simulated client side does on one connection, as a
// list of steps run in order.
//
//   Expect(types, seconds)  receive one message, which must be of one of
//                           `types` (empty: any) within `seconds`; it is
//                           recorded either way
//   Reply(message)          send a message through the channel
//   Silent(ms)              do nothing for `ms` milliseconds (negative:
//                           until the daemon stops); what arrives meanwhile
//                           waits unread
//   SendRaw(bytes)          write bytes as they are, for malformed or
//                           truncated frames (SimFrames.h builds them)
//   Close()                 close the connection in order (the proxy sees
//                           end of stream) and end
//   Reset()                 abort the connection (the proxy sees a reset)
//                           and end
//   Call(action)            run test or daemon code on the connection
//
// A failed step ends the script and closes the connection. A script that
// runs to its end keeps the connection open, recording whatever else
// arrives, until the proxy closes it or the daemon stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "CWqError.h"
#include "ClProxyMsg.h"
#include "ClProxyMsgType.h"

class SimPeer;

struct SimStep {
  enum Kind { kExpect, kReply, kSilent, kSendRaw, kClose, kReset, kCall };

  Kind kind = kExpect;
  std::vector<ClProxyMsgType> types;        // kExpect; empty accepts any type
  int seconds = 0;                          // kExpect
  std::shared_ptr<ClProxyMsg> message;      // kReply
  int64_t milliseconds = 0;                 // kSilent
  std::vector<uint8_t> bytes;               // kSendRaw
  std::function<CWqError(SimPeer&)> action; // kCall
};

class SimScript {
 public:
  // Default limit of an Expect step: long enough for any test, short enough
  // that a missing message ends the script rather than hanging it.
  static constexpr int kDefaultExpectSeconds = 30;

  SimScript& Expect(ClProxyMsgType type, int seconds = kDefaultExpectSeconds);
  SimScript& Expect(std::vector<ClProxyMsgType> types, int seconds = kDefaultExpectSeconds);
  SimScript& ExpectAny(int seconds = kDefaultExpectSeconds);
  // The message is shared, not copied: a script may be run on several
  // connections, and sending only reads it.
  SimScript& Reply(std::shared_ptr<ClProxyMsg> message);
  SimScript& Silent(int64_t milliseconds);
  SimScript& SendRaw(std::vector<uint8_t> bytes);
  SimScript& Close();
  SimScript& Reset();
  SimScript& Call(std::function<CWqError(SimPeer&)> action);

  const std::vector<SimStep>& Steps() const { return m_steps; }

 private:
  std::vector<SimStep> m_steps;
};
