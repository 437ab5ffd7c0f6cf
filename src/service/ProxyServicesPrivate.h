// ProxyServicesPrivate: one cached service instance of one client, with its
// own message connection to the client daemon (opened with the launch
// request "SERVICE"). Shared by the service cache, every handle on it and
// the release thread's working copy (ProxyServices.h).
//
// m_mutex guards the connection, the host and display names and the
// connected state; connectToClient and every operation hold it for their
// whole exchange, so exchanges of handles sharing one instance never
// interleave. isConnected and the release-time and handle-count reads take
// no lock: they read atomic values.
//
// An exchange that does not end with one of its answers (time-out, end of
// stream, reset, bad frame, failed send, an answer it cannot use) closes the
// connection before it returns, so a late answer never answers the next
// request; the client's own failure answers keep it open.
//
// Errors: the operations' own codes are listed with each; the channel's
// errors come back with the operation's code location pushed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CWqError.h"
#include "FXMutex.h"
#include "ClProxyMsgType.h"
#include "KXJobTypes.h"

class ClProxyClientConnection;
class ClProxyMsg;
class CWqSocket;
class CKxNetwork;
namespace App {
class MachineBrowseResp;
class GenericResp;
}  // namespace App

class ProxyServicesPrivate {
 public:
  // Daemon port when the client's record gives none.
  static constexpr uint16_t kDefaultDaemonPort = 9401;
  // Seconds an idle instance stays cached.
  static constexpr int kReleaseDelaySeconds = 120;
  // Messages found waiting on an open connection that are read and dropped
  // before it is given up for a new one.
  static constexpr int kMaxDrained = 64;
  // Largest request of the VTL tape preparation.
  static constexpr uint32_t kTapeRequestBytes = 256;

  ProxyServicesPrivate(int32_t shareKey, int32_t clientId);
  virtual ~ProxyServicesPrivate();
  ProxyServicesPrivate(const ProxyServicesPrivate&) = delete;
  ProxyServicesPrivate& operator=(const ProxyServicesPrivate&) = delete;

  // True while the connection is open, as last seen under m_mutex.
  bool isConnected() const { return m_bConnected.load(std::memory_order_acquire); }
  // Shuts the connection down and deletes it; always success.
  CWqError disconnectFromClient();
  // Reuses an open connection that still goes to the client's host and
  // port and is not in a broken state; otherwise connects afresh (with the
  // installation check unless noManage) and sends the "SERVICE" launch.
  // EINVAL when the client's properties or host name cannot be read.
  CWqError connectToClient(KXJobID jobId, bool noManage, bool sendCriticalEvent);

  // EFAULT when not connected; EINVAL for a null path; EINVAL when the
  // client reports a failure (its code and text in a detail frame); Win32
  // 1018 when the client detected an error.
  CWqError createNewFolder(const char* path);
  // Success once sent; no answer is read. EFAULT when not connected.
  CWqError commitBackupJob(int32_t first, uint64_t second, int32_t third, int32_t fourth);
  // Waits as long as the client says it is still working. Win32 2250 when
  // not connected; EINVAL when drive and tape do not fit the request; EFAULT
  // when the client reports the tape was not cleared.
  CWqError prepareVTLTape(const std::string& drive, const std::string& tape);
  // Win32 2250 when not connected; the client's failure code as a plain
  // integer error with its text.
  CWqError clearCreateIndexFlag(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId);
  CWqError createIndexComplete(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId);
  // `required` is true unless the client answered that the index was made.
  CWqError isCreateIndexRequired(int32_t velliconId, int32_t clientId, int32_t appId, uint64_t jobId,
                                 bool& required);

  // Lists the client directory `path`: into `machineBrowseResp` (field 1
  // the path, field 2 the items) when `fillResponse`, else item by item
  // back to the requester over `socket`. "." and ".." are left out. EFAULT
  // when not connected; EINVAL for a missing response object; EPROTO for
  // the client's failure, a wrong reply or an unexpected type (the text also
  // goes into the response or ends the stream); the receive's error as it
  // is (ETIME for a time-out). Stream mode: a write to the requester that
  // fails (EPIPE, EBADF) or is not taken within TIMEOUT_REQUESTER_WRITE
  // seconds (ETIME) ends the walk and fails the call; the link stays open.
  CWqError machineBrowse(char* path, CWqSocket socket, long sequenceNumber, unsigned long requestedDriveTypes,
                         bool fillResponse, App::MachineBrowseResp* machineBrowseResp, App::GenericResp* genericResp,
                         CKxNetwork* network);
  // The client's log files into `destDir`, one local file per header, each
  // under its name only once complete. EFAULT when not connected; the
  // receive's error as it is. A name that would leave `destDir` or lead
  // through a link inside it (EPROTO; DownloadFolder.h), a
  // folder or file that cannot be made or written, or data before any header
  // (EPROTO) cut the transfer and close the link. A file the client reports
  // failed is dropped and the download goes on, then fails with EIO.
  CWqError downloadLogFiles(const std::string& destDir, unsigned long logRequest);
  // The client's temporary directory-change file into `destPath`. ENOENT
  // when the client has none (BAD_EOF_MSG, or the end with no file);
  // otherwise as downloadLogFiles.
  CWqError downloadDirChangeFile(const std::string& destPath, int first, int second, unsigned long third);

  int32_t shareKey() const { return m_iShareKey; }
  int32_t clientId() const { return m_iClientId; }
  // 0 while a handle holds the instance, else when it may be released.
  int64_t releaseTime() const { return m_tReleaseTime.load(std::memory_order_acquire); }
  // Under m_mutex: true when the release time has come by `now`; else
  // lowers `next` to a release time before it.
  bool releaseDue(int64_t now, int64_t& next);
  int handleCount() const { return m_iHandles.load(std::memory_order_acquire); }

  // The fixed waits (30 s for the create-index answers, 5 s for each
  // message drained from an open connection); tests lower them.
  static void SetFixedWaits(int createIndexSeconds, int drainSeconds);
  static int CreateIndexSeconds();

 private:
  friend class ProxyServices;

  // Handle bookkeeping, under m_mutex. Taking clears the release time;
  // dropping the last handle sets it and returns true.
  void takeHandle();
  bool dropHandle(int64_t releaseAt);

  // Under m_mutex: the connection open and its socket valid.
  bool linkOpen();
  // Under m_mutex: closes the socket (the object stays) and records it.
  void closeLink();
  // Under m_mutex: deletes the connection.
  void deleteLink();
  void syncConnected();
  // Under m_mutex: checks an open connection; true when it stays in use.
  // A failed host-name resolve is returned in `failure` (connection kept).
  bool checkOpenLink(uint16_t port, CWqError& failure);
  // Under m_mutex: send, and receive one answer from `types` (empty: any
  // type) within `seconds`; a failure of either closes the link.
  CWqError send(ClProxyMsg& msg);
  CWqError receive(ClProxyMsg*& answer, const std::vector<ClProxyMsgType>& types, int seconds);
  // Under m_mutex: the file-transfer sequence of a download into
  // `destination` (a folder for log files, the file's path otherwise).
  CWqError receiveFiles(bool logFiles, const std::string& destination);
  // Under m_mutex: sends one create-index request.
  CWqError createIndexRequest(uint32_t command, int32_t velliconId, int32_t appId);
  // Clear (1) or complete (2): the request and its acknowledgement.
  CWqError setCreateIndexFlag(uint32_t command, int32_t velliconId, int32_t appId);

  FXMutex m_mutex;
  const int32_t m_iShareKey;
  const int32_t m_iClientId;
  std::string m_sHostName;
  std::string m_sDisplayName;
  std::unique_ptr<ClProxyClientConnection> m_pConnection;
  std::atomic<int64_t> m_tReleaseTime;
  std::atomic<int> m_iHandles;
  std::atomic<bool> m_bConnected;
};
