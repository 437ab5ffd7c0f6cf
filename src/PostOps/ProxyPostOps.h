// ProxyPostOps: the post-operations phase, run after a backup. Its client
// program "PST.EXE" takes the job start and, for an OpenVMS client, the list
// of files that the backup saved, which the host leaves on the proxy host as
// "BackedUpFiles.kxf".
//
// A host creates it with new and calls in order: init, launchClientProcess,
// acceptClientProcessConnection, sendJobStart, sendVMSBackedUpFilesList (an
// OpenVMS client only), sendJobComplete; then deletes it. Every call comes
// from the host's thread, one at a time; a call that needs the client
// program's link before init made it fails with ENOTCONN.
//
// sendVMSBackedUpFilesList sends the list as one file transfer: the header
// (the proxy-side path and its NUL), the file's bytes in blocks of at most
// 65536, then GOOD_EOF_MSG. It reads nothing back.
//   success                       the whole list went out
//   EV_CLIENT_OPERATION_FAILED, "failed to open the PostOps file"
//                                 nothing was sent
//   EV_CLIENT_OPERATION_FAILED, "failed to read the PostOps file"
//                                 reading broke off: the blocks read so far
//                                 and BAD_EOF_MSG went out, so the client
//                                 does not hold the whole list
//   EV_CLIENT_OPERATION_FAILED, "message send failed"
//                                 the link failed; nothing more is sent
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Proxy.h"

class ProxyPostOps : public Proxy {
 public:
  ProxyPostOps();
  ~ProxyPostOps() override;

  using Proxy::init;

  // Only the job-log block of the job options ("Log_Output_..."): neither
  // the base options nor any IBM i subclient option. Fails with
  // EV_SUBCLIENT_NOT_FOUND when the subclient has no record. A null message
  // adds nothing.
  CWqError setJobOptions(ClJobStartMsg* msg) override;

  // Proxy::init with the client program "PST.EXE"; its result unchanged.
  virtual CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                        int64_t jobStartValue, const std::string& host, uint16_t port);
  // One JOB_COMPLETE_MSG; no reply is awaited.
  virtual CWqError sendJobComplete();
  // Sends `dir`/BackedUpFiles.kxf; see above.
  virtual CWqError sendVMSBackedUpFilesList(const std::string& dir);

 private:
  // Part of the object as hosts know it; no operation uses them.
  std::vector<std::string> m_list;
  std::vector<std::pair<std::string, std::string>> m_pairs;
};
