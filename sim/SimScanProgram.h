// SimScanProgram: the simulated scan program "SCN.EXE", as scripts for
// SimClientDaemon::SetProgram(SimScanProgram::kCommand, ...).
//
// Once connected, the program takes the job start (answering with its base
// directory) and the scan configuration; both stay in the program's
// SimConnectionRecord as the decoded messages (JobStart, ScanConfig). It
// reads options as the job start carries them: one value per name, the
// last one set. Then:
//
//   Scripted(stream)      plays `stream`: SimScript steps built with the
//                         message makers below, Silent, Close (the link
//                         dropped in order), Reset (dropped abruptly),
//                         Expect (e.g. the suspend)
//   Unscripted(root)      scans the local folder `root`, which stands for
//                         the client machine's file system (SimScanContent),
//                         and sends: status 1; "DC" with the listing; "SFAIL"
//                         with the failures; GOOD_EOF_MSG; status 3 with the
//                         failure list, the failure count and the number of
//                         items listed as the two counts. It then waits for
//                         JOB_COMPLETE_MSG.
//
// A host receives the unscripted stream with two recvScanResult calls: the
// first returns at GOOD_EOF_MSG with the files written, the second with the
// completion flag. The second call deletes the directory-change file it is
// given, so a host moves the files away (or names another path) in between.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "ClJobStartMsg.h"
#include "ClScanMsgs.h"
#include "SimRecord.h"
#include "SimScript.h"

namespace SimScanProgram {

extern const char kCommand[];  // "SCN.EXE"
extern const char kBaseDir[];  // the base directory it reports
// Size of the data blocks of SendFile and of the unscripted stream.
const uint32_t kBlockBytes = 64 * 1024;

SimScript Scripted(const SimScript& stream, const std::string& baseDir = kBaseDir);
SimScript Unscripted(const std::string& root, const std::string& baseDir = kBaseDir);

// What the program received; null when it did not.
std::shared_ptr<const ClJobStartMsg> JobStart(const SimConnectionRecord& record);
std::shared_ptr<const ClScanConfigMsg> ScanConfig(const SimConnectionRecord& record);

// Messages of a stream.
std::shared_ptr<ClProxyMsg> Status(uint32_t word, int64_t time = 0,
                                   const std::list<std::string>& failures = std::list<std::string>(),
                                   uint32_t failedToBackup = 0, uint32_t numCollect = 0);
// A FILE_HEADER_MSG whose blob is exactly the tag's bytes.
std::shared_ptr<ClProxyMsg> Tag(const std::string& tag);
std::shared_ptr<ClProxyMsg> Data(const std::string& bytes);
std::shared_ptr<ClProxyMsg> GoodEof();
std::shared_ptr<ClProxyMsg> BadEof(const std::string& text);
std::shared_ptr<ClProxyMsg> DisableSyncLib();
std::shared_ptr<ClProxyMsg> Event(uint32_t eventId, int32_t severity, int32_t value,
                                  const std::list<std::string>& arguments);
// Appends the tag and the content in blocks of kBlockBytes to `script`.
SimScript& SendFile(SimScript& script, const std::string& tag, const std::string& content);

}  // namespace SimScanProgram
