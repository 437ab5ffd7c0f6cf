// BackupRoad: the backup and post-operations phases of the example job,
// after its scan, against the running simulated client daemon, printing each
// step as a host process would take it:
//
//   backup:  new ProxyBackup, init, launchClientProcess,
//            acceptClientProcessConnection, sendJobStart, getClientVolumeList,
//            sendSyntheticFullCollectFile of the scan's directory-change file,
//            then recvNextFile / getCxHeader / recvReferenceList / recvData
//            until the collect file ends, getStats, sendJobComplete;
//   post-operations: ProxyPostOps through its job start, then
//            sendVMSBackedUpFilesList of the list of backed-up files.
//
// Each received item goes under "<outputDir>/archive/": a folder as a
// folder, a file's (or a symbolic link's) data under its client path, and
// one line per item in "archive/headers.txt" with the converted header's
// fields and the item's component GUID. "<outputDir>/BackedUpFiles.kxf"
// names every item backed up, one client path a line.
//
// VerifyBackup then compares the archive with the content folder byte for
// byte and the list the post-operations program received with the one
// written; any difference is an error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CWqError.h"
#include "SimClientDaemon.h"
#include "SimPostOpsProgram.h"

struct BackupOutcome {
  std::vector<std::string> files;    // regular files and links, client paths
  std::vector<std::string> folders;  // client paths
  std::vector<std::string> failed;   // items the client could not back up
  uint64_t bytes = 0;                // data bytes received
  double seconds = 0;                // from the collect-file announcement to its end
  unsigned int statsFiles = 0, statsFailed = 0;
  unsigned long statsBytes = 0;
};

// The backup phase over `dirChangePath`; the archive goes under `outputDir`.
CWqError RunBackupRoad(SimClientDaemon& daemon, const std::string& dirChangePath, const std::string& outputDir,
                       BackupOutcome& outcome);

// The post-operations phase sending "<outputDir>/BackedUpFiles.kxf".
CWqError RunPostOpsRoad(SimClientDaemon& daemon, const std::string& outputDir);

// The archive against `contentDir` (which stands for the client's "/") and
// what `program` received against the list written.
CWqError VerifyBackup(const std::string& contentDir, const std::string& outputDir, const BackupOutcome& outcome,
                      const SimPostOpsProgram& program);
