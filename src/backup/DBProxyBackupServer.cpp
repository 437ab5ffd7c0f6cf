// The database file-backup phase's conversation with its server: the launch
// acknowledgement, the connect, the message engine, one receive and the
// disconnect.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "ApplicationId.h"
#include "DBProxyBackup.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "KxException.h"
#include "WqSleep.h"

#define DB_RAISE(label, text) throw KxException(label, text, __FILE__, __LINE__, -1)

namespace {

const int kAttachSeconds = 120;
const int kReceiveSeconds = 20;
const int kConnectAttempts = 100;
const int64_t kConnectSeconds = 180;
const uint32_t kConnectPauseMs = 1800;

// The largest record any message carries.
union AnyRecord {
  DBFB_ShortRecord shortRecord;
  DBFB_RequestRecord request;
  DBFB_FileRecord file;
  unsigned char bytes[kDBFBFileLength];
};

void CloseSession(CKxNetwork& session) {
  bool flag = false;
  session.ReplyDisconnect(kAttachSeconds, flag);
  session.Disconnect(kAttachSeconds, flag);
}

}  // namespace

int DBProxyBackup::ReplyToDBFileBackupSvrRequest(int argc, char** argv) {
  std::unique_ptr<CKxNetwork> launchSession;
  try {
    launchSession.reset(new (std::nothrow) CKxNetwork);
    if (!launchSession) DB_RAISE("DBProxyBackup::ReplyToDBFileBackupSvrRequest", "failed to create launchSession object");
    bool flag = false;
    CWqError result = launchSession->AttachBackToCaller(argc, argv, flag);
    if (result.IsError()) {
      FX_LOG(-1, "failed to attachBackToRequester. Error:[%s]", result.AsString().c_str());
      DB_RAISE("DBProxyBackup::ReplyToDBFileBackupSvrRequest", "failed to attachBackToRequester.");
    }
    FX_LOG(4, "launchSession->attachBackToRequester success");
    CloseSession(*launchSession);
    return 0;
  } catch (const KxException& e) {
    FX_LOG(-1, "Exception encountered %d:%s", e.getErrno(), e.formatError().c_str());
    if (launchSession) CloseSession(*launchSession);
    return -1;
  }
}

int DBProxyBackup::ConnectToDBFileBackupSvr(const int& velliconId, const int& appId, const int& stream) {
  try {
    ApplicationId application(velliconId, appId);
    KXClient* client = application.getClient(NULL);
    if (!client) {
      FX_LOG(-1, "Failed to get client information [getClient] for Application ID [%u] Error [%d]",
             static_cast<unsigned>(appId), application.getLastError());
      setServerError(FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No client record for application %d", appId));
      DB_RAISE("DBProxyBackup::ConnectToDBFileBackupSvr",
               "Failed to get client information [getClient] for Application ID");
    }
    std::string host;
    const int rc = client->getNetworkHostnameMangled(host, NULL);
    if (rc != 0) {
      FX_LOG(-1, "getNetworkHostnameMangled failed (%d) ", rc);
      setServerError(FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No network host name for application %d", appId));
      DB_RAISE("DBProxyBackup::ConnectToDBFileBackupSvr", "getNetworkHostnameMangled failed");
    }
    FX_LOG(4, "backup client NetworkHostname [%s]", host.c_str());
    char service[31] = {};
    std::snprintf(service, sizeof service, "%s%s", "KX_COMMANDID_", "ORAARCHIVE_BACKUP");
    FX_LOG(4, "Service Name %s", service);
    FX_LOG(4, "mangled client Hostname  %s", host.c_str());
    m_sServerHost = host;

    m_pServerSession.reset(new (std::nothrow) CKxNetwork);
    if (!m_pServerSession) {
      FX_LOG(-1, "new CKxNetwork (m_ServerSession) failed for stream=%d\n", stream);
      DB_RAISE("DBProxyBackup::ConnectToDBFileBackupSvr", "new CKxNetwork (m_ServerSession) failed");
    }
    FX_LOG(4, "CKxNetwork allocated !!");
    const int64_t start = FXGetClock().UnixTime();
    const int64_t deadline = start + kConnectSeconds;

    KXPlatformInfo platform;
    std::string localName;
    if (platform.getKXPlatformType() & 1) {
      char name[256] = {};
      platform.getZentraverClientName(name, sizeof name);
      localName = name;
    } else {
      localName = platform.getPhysicalMachine();
    }
    FX_LOG(4, "CKxNetwork started ");

    int64_t now = start;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
      FX_LOG(4, "Connecting to Control Proc with hostname = %s, serviceName=%s", host.c_str(), service);
      bool flag = false;
      CWqError result = m_pServerSession->Attach_RemoteService(host, service, localName, kAttachSeconds, flag);
      if (!result.IsError() || flag) {
        FX_LOG(4, "Connection with Control Proc was established for stream=%u", static_cast<unsigned>(stream));
        m_serverError = CWqError();
        return 0;
      }
      FX_LOG(-1, "m_kxsSBT.getLastError: Error=[%s] for stream=%u", result.AsString().c_str(),
             static_cast<unsigned>(stream));
      setServerError(result);
      WQSLEEP_InTeRnAl(kConnectPauseMs, __FILE__, __LINE__);
      now = FXGetClock().UnixTime();
      if (now > deadline) break;
    }
    FX_LOG(-1, "connection with Control Proc failed(%ld secs) for stream=%u.", static_cast<long>(now - start),
           static_cast<unsigned>(stream));
    DB_RAISE("DBProxyBackup::ConnectToDBFileBackupSvr", "connection with Control Proc failed");
  } catch (const KxException& e) {
    FX_LOG(-1, "Exception encountered %d:%s", e.getErrno(), e.formatError().c_str());
    if (m_pServerSession) {
      CloseSession(*m_pServerSession);
      m_pServerSession.reset();
    }
    return -1;
  }
}

void DBProxyBackup::DisconnectFromDBFileBackupSvr() {
  if (!m_pServerSession) return;
  CloseSession(*m_pServerSession);
  m_pServerSession.reset();
}

int DBProxyBackup::MsgEngineForDBFileBackupClient(const uint64_t msgType, const bool& failed) {
  try {
    m_pBackupFileName.reset();
    AnyRecord record;
    std::memset(&record, 0, sizeof record);
    kxsDatabuf descriptor;
    descriptor.data = &record;
    const char* name = KXS_OraBackupRestore_PM_STRING(msgType);
    FX_LOG(4, "Sending to server msgType=%s.", name);
    switch (msgType) {
      case DBFB_FILE_MSG: {
        const std::string& current = m_sCurrentFile;
        m_pBackupFileName.reset(new (std::nothrow) char[current.size() + 1]);
        if (!m_pBackupFileName)
          DB_RAISE("DBProxyBackup::MsgEngineForDBFileBackupClient", "memory allocation for m_backupFileName failed ");
        std::memcpy(m_pBackupFileName.get(), current.c_str(), current.size() + 1);
        descriptor.length = kDBFBFileLength;
        DBFB_FileRecord& file = record.file;
        file.jobId = m_ullJobId;
        file.threadId = static_cast<uint64_t>(::getpid());
        file.fileName = m_pBackupFileName.get();
        file.bytes = m_pClientBackup ? m_pClientBackup->getLastBlockSize() : 0;
        file.files = 1;
        file.phase = failed ? 1 : 0;
        FX_LOG(4,
               "Sending to server msgType=%s jobId=[%lld] threadId=[%lu] BackupFileName=[%s] phase[%d] bytes=[%lld] "
               "files=[%lld].",
               name, static_cast<long long>(file.jobId), static_cast<unsigned long>(file.threadId), file.fileName,
               file.phase, static_cast<long long>(file.bytes), static_cast<long long>(file.files));
        break;
      }
      case DBFB_JOB_COMPLETE_MSG:
      case DBFB_NEXT_FILE_REQ_MSG:
        descriptor.length = kDBFBRequestLength;
        record.request.jobId = m_ullJobId;
        record.request.threadId = static_cast<uint64_t>(::getpid());
        FX_LOG(4, "Sending to server msgType=%s jobId=[%lld] threadId=[%ld] status=[%d] phase=[%d] channel=[%d].",
               name, static_cast<long long>(record.request.jobId), static_cast<long>(record.request.threadId),
               record.request.status, record.request.phase, record.request.channel);
        break;
      case DBFB_JOB_START_MSG:
      case DBFB_JOB_STOP_MSG:
        descriptor.length = kDBFBShortLength;
        record.shortRecord.jobId = m_ullJobId;
        FX_LOG(4, "Sending to server msgType=%s jobId=[%lld] status=[%d].", name,
               static_cast<long long>(record.shortRecord.jobId), record.shortRecord.status);
        break;
      default:
        FX_LOG(-1, "Network Connectivity Problem: unexpected msgType=%ld", static_cast<long>(msgType));
        DB_RAISE("DBProxyBackup::MsgEngineForDBFileBackupClient", "Network Connectivity Problem: unexpected msgType");
    }
    if (SendMsgToDBFileBackupSvr(msgType, &descriptor, m_pServerSession.get()) != 0) {
      FX_LOG(-1, "SendMsg msgType=%s failed", name);
      DB_RAISE("DBProxyBackup::MsgEngineForDBFileBackupClient", "SendMsg msgType failed");
    }
    return 0;
  } catch (const KxException& e) {
    FX_LOG(-1, "Exception encountered %d:%s", e.getErrno(), e.formatError().c_str());
    return -1;
  }
}

int DBProxyBackup::SendMsgToDBFileBackupSvr(uint64_t msgType, kxsDatabuf* record, CKxNetwork* connection) {
  FX_LOG(4, "Sending msg to %s: msgType=%s", "DBBkupInvoker", KXS_OraBackupRestore_PM_STRING(msgType));
  if (!connection || !record) {
    CWqError error = FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to send %s on",
                                             KXS_OraBackupRestore_PM_STRING(msgType));
    FX_LOG(-1, "-getLastError: Error=[%s]\n", error.AsString().c_str());
    setServerError(error);
    return -1;
  }
  kxsDatabuf_v2 buffer;
  buffer.setExternalBuffer(record->data, record->length);
  bool flag = false;
  CWqError result = connection->SendXDRMessage(msgType, buffer, 0, -1, flag);
  if (result.IsError()) {
    FX_LOG(-1, "-getLastError: Error=[%s]\n", result.AsString().c_str());
    setServerError(result);
    return -1;
  }
  return 0;
}

int DBProxyBackup::OnServerMsg(uint64_t& msgType, kxsDatabuf* record, int64_t deadlineMs) {
  int result = 0;
  try {
    if (!m_pServerSession || !record) {
      setServerError(FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to receive on"));
      DB_RAISE("DBProxyBackup::OnServerMsg", "No connection to the database file-backup server");
    }
    kxsDatabuf_v2 buffer;
    buffer.setExternalBuffer(record->data, record->length);
    for (;;) {
      int seconds = kReceiveSeconds;
      if (deadlineMs >= 0) {
        const int64_t left = deadlineMs - FXGetClock().MonotonicMs();
        if (left <= 0) {
          CWqError silent = FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "No answer within the time allowed");
          FX_LOG(-1, "-getLastError: Error=%s\n", silent.AsString().c_str());
          setServerError(silent);
          // The answer may still come: a later request must not take it
          // for its own, so the link goes now.
          DisconnectFromDBFileBackupSvr();
          return -1;
        }
        const int64_t leftSeconds = (left + 999) / 1000;
        if (leftSeconds < seconds) seconds = static_cast<int>(leftSeconds);
      }
      bool flag = false;
      CWqError received = m_pServerSession->ReceiveXDRMessage(&msgType, buffer, nullptr, 0, seconds, flag);
      if (flag) continue;
      if (received.IsError()) {
        FX_LOG(-1, "-getLastError: Error=%s\n", received.AsString().c_str());
        setServerError(received);
        return -1;
      }
      break;
    }
    const char* name = KXS_OraBackupRestore_PM_STRING(msgType);
    FX_LOG(4, "backup client Received msgType=%s\n", name);
    switch (msgType) {
      case DBFB_JOB_STOP_MSG:
        result = 1;
        break;
      case DBFB_NEXT_FILE_REQ_MSG: {
        const DBFB_RequestRecord& r = *static_cast<const DBFB_RequestRecord*>(record->data);
        FX_LOG(4, "backup client Received msgType=%s jobId=[%lld] threadId=[%ld] status=[%d] phase=[%d]\n", name,
               static_cast<long long>(r.jobId), static_cast<long>(r.threadId), r.status, r.phase);
        break;
      }
      case DBFB_JOB_COMPLETE_MSG: {
        const DBFB_RequestRecord& r = *static_cast<const DBFB_RequestRecord*>(record->data);
        FX_LOG(4, "backup client Received msgType=%s jobId=[%lld] threadId=[%ld] status=[%d]\n", name,
               static_cast<long long>(r.jobId), static_cast<long>(r.threadId), r.status);
        break;
      }
      case DBFB_FILE_MSG: {
        const DBFB_FileRecord& r = *static_cast<const DBFB_FileRecord*>(record->data);
        const char* file = r.fileName ? r.fileName : "";
        const char* header = r.header ? r.header : "";
        FX_LOG(4,
               "backup client Received msgType=%s jobId=[%lld] threadId=[%ld] BackupFileName=[%s] +++header=[%s] "
               "phase=[%d]bytes=[%lld] files=[%lld]\n",
               name, static_cast<long long>(r.jobId), static_cast<long>(r.threadId), file, header, r.phase,
               static_cast<long long>(r.bytes), static_cast<long long>(r.files));
        FX_LOG(4, "FileName  == %s ", file);
        FX_LOG(4, "header  == %s ", header);
        break;
      }
      case DBFB_JOB_START_MSG:
      case DBFB_IGNORED_MSG:
        break;
      default:
        FX_LOG(-1, "Error: unexpected msgType=%ld   %s\n", static_cast<long>(msgType), name);
    }
    return result;
  } catch (const KxException& e) {
    FX_LOG(-1, "Exception encountered %d:%s", e.getErrno(), e.formatError().c_str());
    return -1;
  }
}
