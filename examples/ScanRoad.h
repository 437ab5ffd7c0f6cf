// ScanRoad: drives one scan phase through its whole road against a running
// simulated client daemon, as a backup product's host process would, and
// prints each step on stdout as it happens:
//
//   createProxyScan, init, launchClientProcess, getClientProcessStatus,
//   acceptClientProcessConnection, sendJobStart, sendScanConfig,
//   recvScanResult until the scan reports its end, sendJobComplete
//
// then what was written (the directory-change file and its companions), the
// scan's final status, and what the client side received. The records and
// settings of ExampleJob must be in force.
//
// Each directory-change file a receive brings is renamed from its receiving
// path to "dirChange.txt" (then "dirChange-2.txt", ...) in `outputDir`
// before the next receive, which would delete it. Companion files stay
// where the phase writes them: beside it, in `outputDir`.
//
// An error names the step that failed; a scan that reports failure, or that
// does not report its end within a few receives, is an error too.
#pragma once

#include <list>
#include <string>

#include "CWqError.h"
#include "SimClientDaemon.h"

CWqError RunScanRoad(SimClientDaemon& daemon, const std::list<std::string>& content, const std::string& outputDir);
