// DBBackupRoad: the database file backup of the example job, after the
// scan, backup and post-operations. A simulated database file-backup server
// (registered for the client's host) names the content folder's regular
// files, each with a header text "DB/<n>/<file name>" and a sequence number
// of its own; DBProxyBackup reads them on this machine as a host drives it
// (init, sendJobStart, recvNextFile / getCxHeader / recvData until the end,
// getStats, sendJobComplete). Each file goes to
// "<outputDir>/archive/db/<header text>" and is compared with its source
// byte for byte; what the server recorded (one status a file) is printed.
#pragma once

#include <string>

#include "CWqError.h"

CWqError RunDBBackupRoad(const std::string& contentDir, const std::string& outputDir);
