// IBMiVTLDRBackupManager: the DR phase of an IBM i job whose system save
// goes to virtual tapes. The DR driver's five steps on the VTL
// configuration, never the pre-scan, plus: the drive and volumes
// initialised on the client before run; a good status query leaves the job
// pending its index update (state 7); the index update itself (the outfile
// processing, then the saved files one per call); the tape questions answered
// from the status file; and, when the object is destroyed, the drive cleanup
// on the client.
//
// The drive is not kept in the status file (its stored format has no place
// for it), so a VTL job resumed in a new process without a new tape
// initialisation sends no drive cleanup.
#pragma once

#include <list>
#include <string>

#include "CXFileHeader.h"
#include "IBMiDRBackupManager.h"

class IBMiVTLDRBackupManager : public IBMiDRBackupManager {
 public:
  IBMiVTLDRBackupManager(KXBkpJobClient* jobClient, KXJobCtrlClient* jobCtrlClient, int velliconId,
                         long long jobId, int appId, bool ipl);
  // Blocks for the drive cleanup (a reply wait of up to 30 s) when the
  // configuration holds a drive; its result is ignored.
  ~IBMiVTLDRBackupManager() override;

  // The base configure; a configuration without volumes takes those the
  // status file holds (granted to this job before a restart).
  CWqError configure() override;
  // The base step, then state 7 whenever it succeeds (also with nothing to
  // do in states 5 and 7); a failure is returned and state 7 not set.
  CWqError getDRStatus() override;

  // Note the order: the connection takes the drive first. Only in states 0
  // and 1 (EINVAL otherwise, nothing sent); the granted volumes are saved
  // in the status file at once.
  CWqError initializeTapeAndDrive(const std::list<std::string>& tapes, const std::string& drive);
  // Only in states 7 and 5 (a repeat after a restart): sends the request and
  // saves state 5. In any other state nothing is sent or changed (EINVAL
  // "Invalid state %d"); a request that cannot be sent leaves the state, so
  // a restart retries the index update.
  CWqError startOutfileProcessing();
  CWqError recvNextFileFromDR(int& status, std::string& name, CXFileHeader& header);
  std::string getFileTapeBarCode() const;
  void getFileError(int& error, std::string& name, std::string& text);
  std::string getSymlink() const;

  unsigned int systemBackupSize() const;
  // True once the save has written its tapes: states 3 to 7 (and, logged, a
  // state outside 0-7).
  bool wasDRTapeCreated() const;
  CWqError getTapeListFromStateFile(std::list<std::string>& tapes);
};
