// SimStopSignal: tells every wait of the simulated client side to give up.
//
// A pipe whose read end becomes readable, once and for good, when the signal
// is fired, so that it can sit in any poll() beside the sockets.
#pragma once

#include <atomic>

#include "CWqError.h"

class SimStopSignal {
 public:
  SimStopSignal();
  ~SimStopSignal();
  SimStopSignal(const SimStopSignal&) = delete;
  SimStopSignal& operator=(const SimStopSignal&) = delete;

  // Fails when the pipe could not be made.
  CWqError Status() const { return m_status; }
  void Fire();
  bool IsFired() const { return m_bFired; }
  // The descriptor to poll for readability; -1 when the pipe failed.
  int WaitDescriptor() const { return m_iRead; }

 private:
  int m_iRead;
  int m_iWrite;
  std::atomic<bool> m_bFired;
  CWqError m_status;
};
