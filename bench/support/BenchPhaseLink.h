// BenchPhaseLink: a phase whose client-program link the benchmark makes
// itself rather than through init, and the job start as sendJobStart puts
// it on the wire (without the records its options are read from), then the
// program's base directory.
#pragma once

#include <memory>

#include "ClJobStartMsg.h"
#include "ClProxySrvConnection.h"
#include "CWqError.h"

template <class Phase>
class BenchPhaseLink : public Phase {
 public:
  CWqSocket& NewLink() {
    this->m_pSrvConnection.reset(new ClProxySrvConnection);
    return this->m_pSrvConnection->getConnectionSocket();
  }
  void CloseLink() { this->m_pSrvConnection.reset(); }
  CWqError StartJob() {
    ClJobStartMsg start(2, 10, 1, 0, 77);
    CWqError result = this->m_pSrvConnection->sendMessage(&start);
    if (result.IsError()) return result;
    ClProxyMsg* raw = nullptr;
    result = this->m_pSrvConnection->recvMessage(raw, CLIENT_BASE_DIR_MSG, 30);
    std::unique_ptr<ClProxyMsg> reply(raw);
    return result;
  }
};
