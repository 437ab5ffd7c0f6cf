// ISendEventInterface: the process-wide way out for job events and pending
// causes. The system supplies the implementation; the platform keeps the one
// installed instance. GetInstance and SetInstance are thread-safe;
// SetInstance(null) removes the instance (tests do so to start clean).
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "CWqError.h"

class ISendEventInterface {
 public:
  virtual ~ISendEventInterface();

  virtual void SendEvent(const CWqError& error, int severity, long long jobId, int value) = 0;
  virtual void SendInfoEvent(const CWqError& error, long long jobId, int value) = 0;
  virtual void SendMinorEvent(const CWqError& error, long long jobId, int value) = 0;
  virtual void SendMajorEvent(const CWqError& error, long long jobId, int value) = 0;
  virtual void SendCriticalEvent(const CWqError& error, long long jobId, int value) = 0;
  virtual void SetPendingCause(const CWqError& error, long long jobId) = 0;
  virtual void SetPendingCauseAndEvent(const CWqError& error, int severity, int value) = 0;
  virtual void SetPendingCauseAndCriticalEvent(const CWqError& error, int value) = 0;
  // A file-system item skipped by a scan; recorded in the EventJournal with
  // both texts as arguments.
  virtual void SendSkipFSEvent(const std::string& path, const std::string& reason);

  // The installed instance; null when none.
  static boost::shared_ptr<ISendEventInterface> GetInstance();
  static void SetInstance(boost::shared_ptr<ISendEventInterface> instance);
};
