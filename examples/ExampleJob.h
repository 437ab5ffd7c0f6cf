// ExampleJob: the one scan job the example host runs, and what the platform
// must hold for it: the configuration records (written as a records file,
// docs/records-file.md, and loaded through RecordsJsonLoader) and the
// settings values (short timeouts, the central server's client name).
//
// The job: an incremental backup (level 2) of subclient (2, 10) of the IBM i
// client 5 "ibmi1", whose daemon listens on 127.0.0.1 and which reaches the
// proxy "proxy1" (client 9) through the data interface 127.0.0.1. The
// central server reports one folder as new since the last backup; the job
// writes its job log to an IBM i file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CWqError.h"
#include "KXJobTypes.h"

namespace ExampleJob {

const int32_t kVelliconId = 2;
const int32_t kAppId = 10;
const int32_t kClientId = 5;
const int32_t kProxyClientId = 9;
const uint64_t kJobId = 1001;
const KXBkpLevel kLevel = 2;  // incremental: the central server is asked for new content
const int64_t kJobStartValue = 0;
// The restore job that brings the backup back: its task holds the restore
// options (XML) and the source filters.
const uint64_t kRestoreJobId = 1002;
extern const char kClientName[];
extern const char kProxyName[];
extern const char kHost[];  // where the client daemon is reached
extern const char kCentralServerName[];
// Every timeout the road waits on, in seconds (the built-in ones are minutes).
const unsigned long kTimeoutSeconds = 20;

// The restore task's source filters, in the task's order.
const std::vector<std::string>& RestoreFilters();

// The records file's text for a daemon on `daemonPort`.
std::string RecordsText(uint16_t daemonPort);
// The client's properties (JSON) with what the deployment manager reads.
std::string ClientPropertiesText();

// Writes the records file at `path` and loads it into the process's record
// registry.
CWqError WriteAndLoadRecords(const std::string& path, uint16_t daemonPort);

// Seeds the settings store in force (PROXY_SETTINGS_ROOT).
CWqError SeedSettings();

}  // namespace ExampleJob
