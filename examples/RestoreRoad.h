// RestoreRoad: the restore job that brings the example's backup back, against
// the running simulated client daemon whose "RST.EXE" restores into a local
// folder (SimRestoreProgram::Files), printing each step as a host process
// would take it:
//
//   new ProxyRestore, init, addSourceDestination, prepareWithRestoreTask of
//   the restore task (its filters from the records file), getFiltersFor,
//   launchClientProcess, acceptClientProcessConnection, sendJobStart,
//   sendSourceFilters, then per archived item setCxHeader, sendHeader,
//   sendData of the archived bytes in 64 KiB blocks through one reused
//   buffer and sendGoodEOF, pulling the per-item results with
//   getFileRestoreStatusInfo on the way; onCloseArchive, sendJobComplete and
//   the results still due.
//
// The items and their converted headers come from "<outputDir>/archive/
// headers.txt", their bytes from the archive folder (BackupRoad.h).
//
// VerifyRestore then compares the restored folder with the content folder:
// the same items (the archived ones and the folders above them), no more and
// no fewer; the same bytes for files, the same targets for links; files with
// their mode and modification time. Any difference is an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CWqError.h"
#include "SimClientDaemon.h"

struct RestoreOutcome {
  std::vector<std::string> items;  // client paths sent, in order
  uint64_t bytes = 0;              // data bytes sent
  uint64_t blocks = 0;             // sendData calls
  uint64_t restoredResults = 0;    // results that say restored
  uint64_t otherResults = 0;       // any other result
  uint64_t discardedBytes = 0;
  double seconds = 0;              // from the first header to the job's end
};

// The folder the restore goes to: `requested` when given (made when missing;
// it must be empty), else a new folder under $TMPDIR. Printed and kept.
CWqError PrepareRestoreFolder(const std::string& requested, std::string& folder);

// True when `path` does not exist or is an empty folder.
bool UsableRestoreFolder(const std::string& path);

// The restore of the archive under `outputDir`.
CWqError RunRestoreRoad(SimClientDaemon& daemon, const std::string& outputDir, RestoreOutcome& outcome);

// The restored folder against `contentDir` (which stands for the client's "/").
CWqError VerifyRestore(const std::string& contentDir, const std::string& restoreDir, const RestoreOutcome& outcome);
