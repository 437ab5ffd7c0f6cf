// SimPeer: the simulated client side of one connection. Runs a SimScript
// on its own thread, speaking the wire format through ClProxyConnection
// like the proxy does, and records what it receives.
//
// Every wait of a peer also watches the daemon's stop signal, so stopping
// never waits for a script to run out. A peer runs on real time whatever
// clock the proxy side is given: it stands for a machine of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "CWqError.h"
#include "ClProxyConnection.h"
#include "SimRecord.h"
#include "SimScript.h"
#include "SimStopSignal.h"

class SimPeer {
 public:
  // `releaseWake` is called once, before the connection's socket is closed
  // (the owner may hold a second descriptor of it to interrupt sends).
  SimPeer(std::unique_ptr<ClProxyConnection> connection, SimRecorder& recorder, const SimStopSignal& stop,
          std::function<void()> releaseWake);
  ~SimPeer();

  // Runs the script, then records what else arrives until the proxy closes
  // or the daemon stops; the connection is closed when it returns.
  void Run(const SimScript& script);

  // Runs the steps of `script` in order, up to the first that fails, and
  // returns that failure; nothing is recorded about the steps themselves.
  // For Call steps that answer each request with a script of its own.
  CWqError RunSteps(const SimScript& script);

  // For Call steps.
  ClProxyConnection& Connection() { return *m_connection; }
  SimRecorder& Recorder() { return m_recorder; }
  bool IsStopping() const { return m_stop.IsFired(); }

  // Receives one message within `seconds` (0: no limit) and records it. A
  // message whose type is not in `types` (empty: any type) is recorded and
  // then reported as an EPROTO error. ECANCELED when the daemon stops.
  CWqError Receive(const std::vector<ClProxyMsgType>& types, int seconds,
                   std::shared_ptr<ClProxyMsg>* received = nullptr);
  CWqError Send(ClProxyMsg& message);
  CWqError SendRaw(const std::vector<uint8_t>& bytes);
  // Waits `milliseconds` (negative: until the daemon stops) without reading;
  // false when the daemon stops first.
  bool WaitSilently(int64_t milliseconds);
  // Orderly close: the proxy sees end of stream.
  void CloseOrderly();
  // Abort: the proxy sees a reset.
  void Abort();

 private:
  CWqError RunStep(const SimStep& step);
  void ReleaseWake();

  std::unique_ptr<ClProxyConnection> m_connection;
  SimRecorder& m_recorder;
  const SimStopSignal& m_stop;
  std::function<void()> m_releaseWake;
};

// Whether `error` says the link is gone or the daemon stops: a simulated
// program then ends without a fault of its own.
bool SimLinkEnded(const CWqError& error);
// A program's end result: success when only the link went away.
inline CWqError SimProgramEnd(const CWqError& result) { return SimLinkEnded(result) ? CWqError::Success() : result; }
