// ProxyScan: the scan phase, the first phase of a backup job. Its client
// program "SCN.EXE" scans the client's content and sends back a
// directory-change file, companion files and its status.
//
// A host creates it with createProxyScan, sets m_numberOfReadersPerVolume,
// m_bKeepATime and m_bAllowSyncLib as the job needs, then calls in order:
// init, launchClientProcess, acceptClientProcessConnection, sendJobStart
// (which fills the scan options through setJobOptions), sendScanConfig,
// recvScanResult until a call reports the end of the scan, and
// sendJobComplete. Every call comes from the host's thread, one at a time;
// a call that needs the client program's link before init made it fails
// with ENOTCONN.
//
// setJobOptions: the base options, the job-log block, the IBM i subclient
// block (ProxyJobOptions.h), "nmStreams", "JOB_COMPRESSION_LEVEL",
// "nmReadersPVol" (when above 0) and "keepATime". A sync-library subclient
// needs custom content selection or m_bAllowSyncLib; it sets
// m_bSyncLibEnabled.
//
// sendScanConfig sends the host's five lists in one ClScanConfigMsg after
// appending ("isCommandFileJob", "0"/"1") to the option list; it refuses an
// empty content list (EINVAL) and, with the sync library on, content that
// is not made of whole libraries. For a job that is not a full backup
// (level 1) it first appends to m_newContent the content that the central
// server reports as new since the last backup; each call appends again.
//
// recvScanResult receives one file stream or the scan's final status; see
// the comment at its declaration.
#pragma once

#include <cstdint>
#include <ctime>
#include <list>
#include <string>
#include <utility>

#include "CAbortOperationCheck.h"
#include "Proxy.h"

class ProxyScan : public Proxy {
 public:
  ProxyScan();
  ~ProxyScan() override;

  CWqError setJobOptions(ClJobStartMsg* msg) override;

  // Proxy::init with the client program "SCN.EXE"; the backup level decides
  // whether new content is asked for (1: a full backup, it is not).
  virtual CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                        int64_t jobStartValue, const std::string& host, uint16_t port);
  // One JOB_COMPLETE_MSG; no reply is awaited.
  virtual CWqError sendJobComplete();
  // The first content entry decides a command-file job (it begins with
  // "/<ContentFile>", any case). Appends to `options`, which stays the
  // caller's; the other lists are sent unchanged.
  virtual CWqError sendScanConfig(std::list<std::string>& content, std::list<std::string>& second,
                                  std::list<std::string>& third, std::list<std::string>& fourth,
                                  std::list<std::pair<std::string, std::string>>& options);

  // Receives until a file stream ends (GOOD_EOF_MSG) or a status message
  // reports the end of the scan, on the first failure, or when the abort
  // check (asked only after 10 quiet seconds) answers true. It first clears
  // both flags and deletes `dirChangeFile`: a host that calls again with the
  // same path loses the file of the call before. Tagged files are written
  // beside `dirChangeFile` (under "/" when the path has no "/"): "DC" the
  // file itself, "SPLIT" split_config, "MSPLIT" Merged_split_config, "SFAIL"
  // scan_Failures.kxf; data before any tag goes to `dirChangeFile`.
  //
  //   success, `completed`   status 3: the scan is done
  //   success, `failed`      status 2 (or any word but 1 and 3)
  //   success, neither       a stream ended that brought a directory-change file
  //   EV_CLIENT_SCAN_FAILED, `failed`   the link failed
  //   "Client didn't sent dir change file...", `failed`   a stream without one
  //                            (GOOD_EOF_MSG or BAD_EOF_MSG)
  //   Win32 1627, `completed`  the client raised an event (passed on as a
  //                            pending cause and event)
  //   EV_OPERATION_ABORTED   the abort check fired; the suspend was sent
  //   other errors, neither flag: BAD_EOF_MSG after a directory-change file
  //     (the client failed the transfer; the file is deleted), a failed
  //     write (the directory-change file is deleted), an unknown tag, a file
  //     that cannot be created, "Unexpected message from client [type]" for
  //     a message of another type or a frame that is no message (unknown
  //     type, payload that does not decode; an open file's directory-change
  //     file is deleted)
  //
  // The status values are those of the call's last SCAN_RESULT_MSG;
  // `failures` is replaced by its list. Without one they stay untouched.
  virtual CWqError recvScanResult(const std::string& dirChangeFile, bool& failed, bool& completed, time_t& scanTime,
                                  std::list<std::string>& failures, uint32_t& failedToBackup, uint32_t& numCollect,
                                  CAbortOperationCheckPtr abortCheck);

  // Appends to m_newContent the content that the central server reports as
  // added to the subclient since its last backup. Success also when there is
  // none to be had (no subclient, an empty or unreadable answer); an error
  // only when the server refused the request.
  CWqError LoadNewContentFilter();

  // Set by recvScanResult when the scan program asks that the sync-library
  // option be disabled; for the host to read after the scan.
  bool m_bDisableSyncLib;
  // Not used by this phase; kept so that the members a host reads and sets
  // stay where hosts built against this class expect them.
  std::list<std::string> m_reservedList1;
  std::list<std::string> m_reservedList2;
  std::list<std::string> m_reservedList3;
  std::list<std::string> m_reservedList4;
  // Content new since the last backup, sent as the fifth list.
  std::list<std::string> m_newContent;
  std::list<std::pair<std::string, std::string>> m_reservedPairs;  // not used, as above
  // Set by the host before sendJobStart.
  int32_t m_numberOfReadersPerVolume;  // "nmReadersPVol" when above 0
  bool m_bKeepATime;                   // "keepATime"
  // Set by setJobOptions when the sync-library option is on.
  bool m_bSyncLibEnabled;
  // Set by the host: allows the sync-library option without custom selection.
  bool m_bAllowSyncLib;
};

// Creates a scan phase; the host destroys it through its virtual destructor.
extern "C" ProxyScan* createProxyScan();
