// DBProxyBackup: the backup phase of a database file backup. No client
// program and no daemon: a database file-backup server on the client host
// (service "KX_COMMANDID_ORAARCHIVE_BACKUP") names one file of the proxy
// host after another; the phase reads each (DBClientBackup,
// DBClientFileBackup) and hands header and data to the host, and reports
// the job start, every file's outcome (DBFB_FILE_MSG, phase 1 for a failed
// file, sent once) and the job completion to the server.
//
// Host order: construct; init (connects within 100 attempts 1.8 s apart and
// 180 s); sendJobStart(); per file recvNextFile, then getCxHeader,
// getOptHeader and recvData until RECV_STATUS_GOOD_EOF, or getFailedFile
// after RECV_STATUS_FAILED_FILE; getStats; sendJobComplete; destroy. A host
// process that the server launched first calls the static
// ReplyToDBFileBackupSvrRequest with its own arguments.
//
// Results: recvNextFile success, RECV_STATUS_NO_MORE_FILES (12: the server
// has no more files or stopped the job), RECV_STATUS_FAILED_FILE (8), or an
// errno-kind error naming the server when the conversation broke (lost
// link, silence past TIMEOUT_NEXT_FILE, an answer that is not a file
// record). TIMEOUT_NEXT_FILE of 0 waits without limit; silence past a limit
// drops the link (its answer may still come and must not pair with a later
// request), so every later operation that needs the server fails.
// recvData: success with a block of 1 to 2048 bytes (malloc'd, the host
// frees it), RECV_STATUS_GOOD_EOF (10, null buffer), RECV_STATUS_BAD_EOF
// (11). getCxHeader: EV_FILE_HEADER_DECODE_FAILED, or ENAMETOOLONG when the
// server's header text does not fit CXFileHeader's name; the file then
// counts as failed and getFailedFile names it with that errno and text.
// sendJobStart() and sendJobComplete() log a failure and report success.
// Without a server connection (after a failed init) every operation that
// needs the server fails with ENOTCONN; so do the inherited operations
// that need a client-program link. Failures inside raise KxException, which
// each entry point catches. One host thread; no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CKxNetwork.h"
#include "DBClientBackup.h"
#include "ProxyBackup.h"
#include "kxsDatabuf.h"

class DBProxyBackup : public ProxyBackup {
 public:
  static constexpr const char* kServiceName = "KX_COMMANDID_ORAARCHIVE_BACKUP";

  DBProxyBackup(int argc, char** argv, DBClientBackup* clientBackup);
  ~DBProxyBackup() override;

  CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level, int64_t jobStartValue,
                const std::string& clientProgram, const std::string& host, uint16_t port) override;
  CWqError launchClientProcess() override;
  CWqError getClientProcessStatus(int& status) override;
  CWqError acceptClientProcessConnection() override;
  CWqError sendJobStart() override;
  CWqError sendSuspendJob() override;
  CWqError init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level, int64_t jobStartValue,
                const std::string& host, uint16_t port) override;
  CWqError sendJobStart(bool waitForControlPort) override;
  CWqError recvCOBConfigMsg() override;
  CWqError recvPrepipelineDedupeConfigRequest() override;
  CWqError sendPrepipelineDedupeConfigResponse(_PrePipelineDedupe_Config& config) override;
  CWqError sendJobComplete() override;
  CWqError sendCollectFile(unsigned int collectNum, unsigned long restartOffset) override;
  CWqError sendSCCollectFile() override;
  CWqError sendSyntheticFullCollectFile(const std::string& path, unsigned short number) override;
  CWqError recvNextFile() override;
  // The database blocks; `msgType` (when given) receives 0, `hdr` is unused.
  CWqError recvData(char*& buf, unsigned int& size, unsigned int* msgType, _PipelineDataHdr* hdr) override;
  CWqError getCxHeader(CXFileHeader& cx) override;
  CWqError getOptHeader(char*& buf, unsigned int& size) override;
  CWqError getStats(unsigned int& numFiles, unsigned int& numFailedFiles, unsigned long& totSize) override;
  CWqError getFailedFile(std::string& name, int& error, std::string& text) override;
  bool isProxyFile(const std::string& path) const override;
  CWqError recvReferenceList() override;

  CWqError sendCollectFile(uint16_t collectNum, uint64_t restartOffset);
  CWqError recvData(char*& data, uint32_t& size);

  // The file-status report of the current file (phase 1 when `failed`); a
  // failed file is reported once.
  void InformFileStatus(const bool& failed);

  // The server conversation; -1 on failure, which getServerError() explains.
  static int ReplyToDBFileBackupSvrRequest(int argc, char** argv);
  int ConnectToDBFileBackupSvr(const int& velliconId, const int& appId, const int& stream);
  void DisconnectFromDBFileBackupSvr();
  int MsgEngineForDBFileBackupClient(const uint64_t msgType, const bool& failed);
  int SendMsgToDBFileBackupSvr(uint64_t msgType, kxsDatabuf* record, CKxNetwork* connection);
  // Waits for one message and decodes it into `record`; `msgType` receives
  // the type that came. 0, 1 (the server stopped the job) or -1. With
  // `deadlineMs` (platform clock) the waits end there.
  int OnServerMsg(uint64_t& msgType, kxsDatabuf* record, int64_t deadlineMs = -1);

  // Why the conversation with the server failed last (errno kind).
  const CWqError& getServerError() const { return m_serverError; }
  void setServerError(const CWqError& error);

 protected:
  int m_iArgc;
  char** m_ppArgv;
  std::unique_ptr<CKxNetwork> m_pServerSession;
  std::unique_ptr<char[]> m_pBackupFileName;
  DBClientBackup* m_pClientBackup;

 private:
  CWqError notForThisPhase(const FXCodeLocation& where, const char* operation) const;
  CWqError noServer(const FXCodeLocation& where) const;
  CWqError caught(const FXCodeLocation& where, int errNo, const std::string& text, int32_t status);
  // The current file failed in getCxHeader: counted, reported to the
  // server, and named by getFailedFile with `error`'s errno and text.
  CWqError failFile(CWqError error);

  std::unique_ptr<DBClientBackup> m_pOwnedClientBackup;
  std::string m_sServerHost;
  CWqError m_serverError;
};
