// SimQueryClient: a scripted client program on the proxy's signature-query
// port. Start connects to 127.0.0.1:port on the caller's thread (so a test
// knows the connection is made) and runs the script on a thread of its own
// through SimPeer, recording what the proxy answers; after the script it
// keeps recording until the proxy closes the connection. Stop (also run by
// the destructor) ends every wait and joins the thread.
//
// Message makers for scripts: a query batch, a result request, any empty
// message (the stop messages, DISCONNECT_MSG, other types).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "CWqError.h"
#include "ClPrePipelineRecords.h"
#include "SimRecord.h"
#include "SimScript.h"
#include "SimStopSignal.h"

class SimQueryClient {
 public:
  SimQueryClient();
  ~SimQueryClient();
  SimQueryClient(const SimQueryClient&) = delete;
  SimQueryClient& operator=(const SimQueryClient&) = delete;

  CWqError Start(uint16_t port, SimScript script);
  // True when the connection's work is over within `seconds`.
  bool WaitFinished(int seconds);
  // True when at least `count` messages were received within `seconds`.
  bool WaitReceived(size_t count, int seconds);
  SimConnectionRecord Record() const;
  void Stop();

  // A batch of queries whose unique ids are `ids`; the signature of each is
  // made from `signatureSeed[i]` (equal seeds, equal signatures).
  static std::shared_ptr<ClProxyMsg> Query(const std::vector<uint32_t>& ids, const std::vector<uint32_t>& signatureSeed);
  static std::shared_ptr<ClProxyMsg> Query(const std::vector<_PrePipelineDedupe_Query>& queries);
  static std::shared_ptr<ClProxyMsg> ResultRequest();
  static std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type);

 private:
  void Changed();

  SimStopSignal m_stop;
  std::shared_ptr<SimRecorder> m_recorder;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_iWakeDescriptor;
};
