// IBMiDRBackupManager: runs the disaster-recovery phase of an IBM i backup
// job for the host: configure, run, later cleanUp. run is five steps, each
// gated by the saved DR state and saving its own on success: start the DR
// save on the client, wait for it to go down, record the tapes and suspend
// the job when configured so, wait for it to come back, ask for the outcome.
// A restarted job (a new manager with the same ids) resumes after the last
// saved step. A start answered without a job number the status query could
// carry (none, empty, or too long) ends the job at step 1: state 6 saved,
// EPROTO, the pending cause raised; so does such a number at step 5
// (EINVAL), as no verdict could ever be asked for.
//
// configure refuses a status file it cannot read; a subclient with VTL and
// non-VTL libraries makes run the VTL pre-scan, and a failed library query
// refuses to configure.
#pragma once

#include <string>

#include <boost/shared_ptr.hpp>

#include "CWqError.h"
#include "IBMiDRClientConnection.h"
#include "IBMiDRStateInterface.h"

class KXBkpJobClient;
class KXJobCtrlClient;

class IBMiDRBackupManager {
 public:
  IBMiDRBackupManager(KXBkpJobClient* jobClient, KXJobCtrlClient* jobCtrlClient, int velliconId, long long jobId,
                      int appId, bool ipl);
  virtual ~IBMiDRBackupManager();

  virtual CWqError configure();
  CWqError run();
  CWqError cleanUp();

  CWqError initiateDRBackupProcess();
  CWqError waitForServiceGoDown();
  CWqError suspendJob();
  CWqError waitForServiceComeUp();
  virtual CWqError getDRStatus();

  boost::shared_ptr<IBMiDRStateInterface> state() const { return m_ptrState; }
  boost::shared_ptr<IBMiDRClientConnectionInterface> connection() const { return m_ptrConnection; }
  bool isPreScanOnly() const { return m_bPreScanOnly; }

 protected:
  // configure with the plain (false) or the VTL configuration.
  CWqError ConfigureWith(bool vtl);
  CWqError Save();
  // What a step does in the current state: 1 work, 0 nothing, or an error.
  int Gate(int step, CWqError& error) const;

  bool m_bPreScanOnly;
  bool m_bLibraryQueryFailed;
  boost::shared_ptr<IBMiDRStateInterface> m_ptrState;
  boost::shared_ptr<IBMiDRClientConnectionInterface> m_ptrConnection;
  bool m_bConfigured;
};
