// CAbortOperationCheck: the host's answer to "is this job to be abandoned?",
// which a phase asks while its client is quiet. The host implements it.
#pragma once

#include <boost/shared_ptr.hpp>

class CAbortOperationCheck {
 public:
  virtual ~CAbortOperationCheck() {}
  // True when the job is to be abandoned.
  virtual bool isAbortRequested() = 0;
};

typedef boost::shared_ptr<CAbortOperationCheck> CAbortOperationCheckPtr;
