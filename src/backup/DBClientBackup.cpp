// The per-job bookkeeping of the database file-backup phase and its side of
// the next-file exchange.
#include "DBClientBackup.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#include "ClProxyTimeouts.h"
#include "DBProxyBackup.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KxsDBFBRecords.h"
#include "ProxyBackupStatus.h"
#include "WqSleep.h"

namespace {

const char kNoMoreFiles[] = "no_more_files";
const char kTryAgain[] = "try_again";
const uint32_t kTryAgainPauseMs = 30;

}  // namespace

void DBClientBackup::FreeDeleter::operator()(char* p) const { std::free(p); }

DBClientBackup::DBClientBackup(DBProxyBackup* phase, const std::string& host, uint16_t port, int32_t velliconId,
                               int32_t appId, uint64_t jobId, KXBkpLevel level, int64_t jobStartValue)
    : m_iVelliconId(velliconId),
      m_iAppId(appId),
      m_ullJobId(jobId),
      m_eLevel(level),
      m_llJobStartValue(jobStartValue),
      m_ullStartOffset(0),
      m_uNumFiles(0),
      m_uNumFailedFiles(0),
      m_ullTotalBytes(0),
      m_iFileErrno(0),
      m_uHeaderSize(0),
      m_uDataSize(0),
      m_ullSeqNumFromApp(0),
      m_bFailureReported(false),
      m_bFailureCounted(false),
      m_pPhase(phase) {}

DBClientBackup::~DBClientBackup() {}

void DBClientBackup::dropCurrentFile() {
  m_pReader.reset();
  m_pHeaderBuf.reset();
  m_uHeaderSize = 0;
  m_sFileName.clear();
  m_sHeaderFromApp.clear();
  m_ullSeqNumFromApp = 0;
  m_ullStartOffset = 0;
  m_iFileErrno = 0;
  m_sFileErrorText.clear();
  m_bFailureReported = false;
  m_bFailureCounted = false;
}

void DBClientBackup::countFailure() {
  if (m_bFailureCounted) return;
  m_bFailureCounted = true;
  ++m_uNumFailedFiles;
}

void DBClientBackup::failCurrentFile(int32_t errNo, const std::string& text) {
  m_iFileErrno = errNo;
  m_sFileErrorText = text;
  countFailure();
}

int DBClientBackup::getFile() {
  FX_LOG(4, "DBClientBackup::getFile");
  if (!m_pPhase) {
    FX_LOG(-1, "NULL proxy object");
    return 1;
  }
  if (!m_sFileName.empty() && !m_bFailureReported) m_pPhase->InformFileStatus(false);
  dropCurrentFile();

  // The whole request, its waits and its "try_again" rounds end within
  // TIMEOUT_NEXT_FILE seconds: a server that never names a file must not
  // hold the job forever.
  // A setting of 0 sets no limit, as on the message channel.
  const int64_t limitMs = static_cast<int64_t>(getTimeOutValue(TIMEOUT_NEXT_FILE)) * 1000;
  const int64_t deadlineMs = limitMs > 0 ? FXGetClock().MonotonicMs() + limitMs : -1;
  for (;;) {
    if (m_pPhase->MsgEngineForDBFileBackupClient(DBFB_NEXT_FILE_REQ_MSG, false) != 0) {
      // No answer can come to a request that never left.
      m_pPhase->setServerError(FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "The next-file request was not sent"));
      return kServerFailed;
    }
    DBFB_FileRecord record{};
    kxsDatabuf descriptor;
    descriptor.data = &record;
    descriptor.length = kDBFBFileLength;
    uint64_t msgType = DBFB_FILE_MSG;
    const int result = m_pPhase->OnServerMsg(msgType, &descriptor, deadlineMs);
    if (result == -1) {
      FX_LOG(-1, "Unable to receive message from DB process");
      return kServerFailed;
    }
    if (result == 1) return RECV_STATUS_NO_MORE_FILES;
    if (msgType != DBFB_FILE_MSG || !record.fileName || record.fileName[0] == '\0') {
      m_pPhase->setServerError(FXErrorUtil::ErrorErrNo(
          FX_HERE, EPROTO, "The answer to a next-file request is %s, not a file record naming a file",
          KXS_OraBackupRestore_PM_STRING(msgType)));
      FX_LOG(-1, "Unable to receive message from DB process");
      return kServerFailed;
    }
    m_sFileName = record.fileName;
    m_sHeaderFromApp = record.header ? record.header : "";
    m_ullSeqNumFromApp = record.seqNum;
    FX_LOG(4, "fileName  == %s ", m_sFileName.c_str());
    FX_LOG(4, "headerFromApp  == %s ", m_sHeaderFromApp.c_str());
    FX_LOG(4, "seqNumFromApp  == [%lld] ", static_cast<long long>(m_ullSeqNumFromApp));
    if (m_sFileName == kNoMoreFiles) {
      m_sFileName.clear();
      FX_LOG(-1, "Could not get next file to be backed up");
      return RECV_STATUS_NO_MORE_FILES;
    }
    if (m_sFileName != kTryAgain) break;
    m_sFileName.clear();
    if (deadlineMs >= 0 && FXGetClock().MonotonicMs() >= deadlineMs) {
      m_pPhase->setServerError(FXErrorUtil::ErrorErrNo(FX_HERE, ETIME,
                                                       "No file named within %lld seconds of \"try_again\" answers",
                                                       static_cast<long long>(limitMs / 1000)));
      return kServerFailed;
    }
    WQSLEEP_InTeRnAl(kTryAgainPauseMs, __FILE__, __LINE__);
  }
  ++m_uNumFiles;
  return 0;
}

int DBClientBackup::getFileHeader() {
  FX_LOG(4, "DBClientBackup::getFileHeader");
  m_pReader.reset(new (std::nothrow) DBClientFileBackup);
  if (!m_pReader) {
    FX_LOG(-1, "Failed to initialize clientFileBackup, status=%d", 1);
    m_iFileErrno = ENOMEM;
    countFailure();
    return 1;
  }
  int status = m_pReader->init(m_sFileName, m_ullStartOffset);
  if (status == 0) {
    char* header = nullptr;
    uint32_t size = 0;
    status = m_pReader->getHeader(header, size);
    if (status == 0) {
      m_pHeaderBuf.reset(header);
      m_uHeaderSize = size;
      m_ullTotalBytes += m_pReader->getFileSize();
      FX_LOG(4, "Header for file is %d bytes\n", static_cast<int>(size));
      return 0;
    }
    FX_LOG(-1, "Failed to get header for file %s, status=%d\n", m_sFileName.c_str(), status);
  } else {
    FX_LOG(-1, "Failed to initialize clientFileBackup, status=%d", status);
  }
  m_iFileErrno = m_pReader->getFileErrno();
  m_sFileErrorText = m_pReader->getFileErrorText();
  countFailure();
  return status;
}

int DBClientBackup::getFileData(char* buffer, uint32_t& size) {
  FX_LOG(4, "DBClientBackup::getFileData");
  m_uDataSize = 0;
  if (!m_pReader) {
    size = 0;
    FX_LOG(-1, "Failed to get data for file %s, status=%d\n", m_sFileName.c_str(), 11);
    return 11;
  }
  if (size > kBlockSize) size = kBlockSize;
  const int status = m_pReader->getData(buffer, size);
  if (status == 10) {
    FX_LOG(4, "Completed sending file data\n");
  } else if (status != 0) {
    FX_LOG(-1, "Failed to get data for file %s, status=%d\n", m_sFileName.c_str(), status);
    m_iFileErrno = m_pReader->getFileErrno();
    countFailure();
  }
  m_uDataSize = size;
  return status;
}

int DBClientBackup::recvCollectFile() {
  FX_LOG(4, "DBClientBackup::recvCollectFile");
  return 0;
}
int DBClientBackup::connectProxy() { return 0; }
int DBClientBackup::sendFailedFile() {
  FX_LOG(4, "DBClientBackup::sendFailedFile");
  return 0;
}
int DBClientBackup::sendFileHeader() {
  FX_LOG(4, "DBClientBackup::sendFileHeader");
  return 0;
}
int DBClientBackup::sendFileData() {
  FX_LOG(4, "DBClientBackup::sendFileData");
  return 0;
}
int DBClientBackup::sendGoodEOF() {
  FX_LOG(4, "DBClientBackup::sendGoodEOF");
  return 0;
}
int DBClientBackup::sendBadEOF() {
  FX_LOG(4, "DBClientBackup::sendBadEOF");
  return 0;
}
int DBClientBackup::sendStats() {
  FX_LOG(4, "DBClientBackup::sendStats");
  return 0;
}
int DBClientBackup::sendBadCollect() {
  FX_LOG(4, "DBClientBackup::sendBadCollect");
  return 0;
}
