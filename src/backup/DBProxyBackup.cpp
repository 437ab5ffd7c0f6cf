// The database file-backup phase object: its entry points in the host's
// order and how failures inside become results.
#include "DBProxyBackup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KxException.h"
#include "ProxyEventIds.h"

#define DB_RAISE(label, text) throw KxException(label, text, __FILE__, __LINE__, -1)

namespace {

const int32_t kNoStatus = 0;

}  // namespace

DBProxyBackup::DBProxyBackup(int argc, char** argv, DBClientBackup* clientBackup)
    : m_iArgc(argc), m_ppArgv(argv), m_pClientBackup(clientBackup) {}

DBProxyBackup::~DBProxyBackup() {
  DisconnectFromDBFileBackupSvr();
  m_pBackupFileName.reset();
  m_pOwnedClientBackup.reset();
}

CWqError DBProxyBackup::notForThisPhase(const FXCodeLocation& where, const char* operation) const {
  return FXErrorUtil::ErrorErrNo(where, ENOTCONN, "%s needs a client-program link, which a database file backup never opens",
                                 operation);
}

CWqError DBProxyBackup::noServer(const FXCodeLocation& where) const {
  return FXErrorUtil::ErrorErrNo(where, ENOTCONN, "No connection to the database file-backup server: init has not made it");
}

CWqError DBProxyBackup::caught(const FXCodeLocation& where, int errNo, const std::string& text, int32_t status) {
  FX_LOG(-1, "Exception encountered %d:%s", errNo, text.c_str());
  CWqError result;
  if (status == DBClientBackup::kServerFailed) {
    // A broken conversation is not the end of the files: the host must see
    // it as the failure it is.
    const int cause = m_serverError.IsError() ? FXErrorUtil::GetErrNo(m_serverError) : ENOTCONN;
    result = FXErrorUtil::ErrorErrNo(where, cause ? cause : EPROTO, "Exception encountered %d:%s: %s", errNo,
                                     text.c_str(), m_serverError.AsString().c_str());
  } else {
    result = FXErrorUtil::ErrorInt(where, status, "Exception encountered %d:%s", errNo, text.c_str());
  }
  FX_LOG(-1, "WQERR_INT: %s\n", result.AsString().c_str());
  return result;
}

void DBProxyBackup::setServerError(const CWqError& error) {
  const int cause = FXErrorUtil::IsErrNo(error) ? FXErrorUtil::GetErrNo(error) : EPROTO;
  const std::string peer = m_pServerSession && !m_pServerSession->PeerName().empty()
                               ? m_pServerSession->PeerName()
                               : std::string(kServiceName) + " on " + m_sServerHost;
  m_serverError = FXErrorUtil::ErrorErrNo(FX_HERE, cause, "Lost the database file-backup server [%s]: %s",
                                          peer.c_str(), error.AsString().c_str());
}

CWqError DBProxyBackup::init(int velliconId, int appId, int clientId, uint64_t jobId, KXBkpLevel level,
                             int64_t jobStartValue, const std::string& host, uint16_t port) {
  FX_LOG(4, "DBProxyBackup::init");
  try {
    m_pOwnedClientBackup.reset(new (std::nothrow) DBClientBackup(this, "dummy", 0xffff, velliconId, appId, jobId,
                                                                 level, jobStartValue));
    if (!m_pOwnedClientBackup) DB_RAISE("DBProxyBackup::init", "memory allocation for clientBackup failed");
    m_pClientBackup = m_pOwnedClientBackup.get();
    m_iVelliconId = velliconId;
    m_iAppId = appId;
    m_iClientId = clientId;
    m_ullJobId = jobId;
    m_eBackupLevel = level;
    m_llJobStartValue = jobStartValue;
    if (ConnectToDBFileBackupSvr(velliconId, appId, 0) == -1)
      DB_RAISE("DBProxyBackup::init", "FAILED TO CONNECT TO DBSessionServer");
    return CWqError::Success();
  } catch (const KxException& e) {
    return caught(FX_HERE, e.getErrno(), e.formatError(), -1);
  }
}

CWqError DBProxyBackup::init(int, int, int, uint64_t, KXBkpLevel, int64_t, const std::string&, const std::string&,
                             uint16_t) {
  return notForThisPhase(FX_HERE, "init with a client program");
}

CWqError DBProxyBackup::launchClientProcess() {
  FX_LOG(4, "DBProxyBackup::launchClientProcess");
  return CWqError::Success();
}

CWqError DBProxyBackup::getClientProcessStatus(int&) {
  FX_LOG(4, "DBProxyBackup::getClientProcessStatus");
  return CWqError::Success();
}

CWqError DBProxyBackup::acceptClientProcessConnection() {
  FX_LOG(4, "DBProxyBackup::acceptClientProcessConnection");
  return CWqError::Success();
}

CWqError DBProxyBackup::sendJobStart() {
  FX_LOG(4, "DBProxyBackup::sendJobStart");
  if (!m_pServerSession) return noServer(FX_HERE);
  try {
    MsgEngineForDBFileBackupClient(DBFB_JOB_START_MSG, false);
  } catch (...) {
    FX_LOG(-1, "Could not inform job start to DB");
  }
  return CWqError::Success();
}

CWqError DBProxyBackup::sendJobComplete() {
  FX_LOG(4, "DBProxyBackup::sendJobComplete");
  if (!m_pServerSession) return noServer(FX_HERE);
  try {
    MsgEngineForDBFileBackupClient(DBFB_JOB_COMPLETE_MSG, false);
  } catch (...) {
    FX_LOG(-1, "Could not inform job complete to DB");
  }
  return CWqError::Success();
}

CWqError DBProxyBackup::sendSuspendJob() {
  FX_LOG(4, "DBProxyBackup::sendSuspendJob");
  if (!m_pServerSession) return noServer(FX_HERE);
  InformFileStatus(true);
  return CWqError::Success();
}

CWqError DBProxyBackup::sendJobStart(bool) { return notForThisPhase(FX_HERE, "sendJobStart(bool)"); }
CWqError DBProxyBackup::recvCOBConfigMsg() { return notForThisPhase(FX_HERE, "recvCOBConfigMsg"); }
CWqError DBProxyBackup::recvPrepipelineDedupeConfigRequest() {
  return notForThisPhase(FX_HERE, "recvPrepipelineDedupeConfigRequest");
}
CWqError DBProxyBackup::sendPrepipelineDedupeConfigResponse(_PrePipelineDedupe_Config&) {
  return notForThisPhase(FX_HERE, "sendPrepipelineDedupeConfigResponse");
}
CWqError DBProxyBackup::sendCollectFile(unsigned int, unsigned long) {
  return notForThisPhase(FX_HERE, "sendCollectFile");
}
CWqError DBProxyBackup::recvReferenceList() { return notForThisPhase(FX_HERE, "recvReferenceList"); }

CWqError DBProxyBackup::sendCollectFile(uint16_t, uint64_t) {
  FX_LOG(4, "DBProxyBackup::sendCollectFile");
  return CWqError::Success();
}

CWqError DBProxyBackup::sendSCCollectFile() {
  FX_LOG(4, "DBProxyBackup::sendSCCollectFile");
  return CWqError::Success();
}

CWqError DBProxyBackup::sendSyntheticFullCollectFile(const std::string&, unsigned short) {
  FX_LOG(4, "DBProxyBackup::sendSyntheticFullCollectFile");
  return CWqError::Success();
}

CWqError DBProxyBackup::failFile(CWqError error) {
  const int errNo = FXErrorUtil::IsErrNo(error) ? FXErrorUtil::GetErrNo(error) : -1;
  m_pClientBackup->failCurrentFile(errNo, error.AsString(ERROR_OUTPUT_TEXT));
  InformFileStatus(true);
  FX_LOG(-1, "Failed file, fileName=%s, fileErrno=%d: %s", m_sCurrentFile.c_str(), m_nFailedErrno,
         m_sErrorText.c_str());
  return error;
}

void DBProxyBackup::InformFileStatus(const bool& failed) {
  if (!m_pClientBackup) return;
  m_nFailedErrno = m_pClientBackup->getFileErrno();
  m_sCurrentFile = m_pClientBackup->getFileName();
  m_sErrorText = m_pClientBackup->getFileErrorText();
  // The server hears of a failed file once.
  if (m_pClientBackup->isFailureReported()) return;
  try {
    if (MsgEngineForDBFileBackupClient(DBFB_FILE_MSG, failed) != 0)
      FX_LOG(-1, "Could not inform %s file status to DB", failed ? "failed" : "the");
  } catch (...) {
    FX_LOG(-1, "Could not inform failed file to DB");
  }
  if (failed) m_pClientBackup->setFailureReported();
}

CWqError DBProxyBackup::recvNextFile() {
  FX_LOG(4, "DBProxyBackup::recvNextFile");
  int32_t status = kNoStatus;
  m_sCurrentFile.clear();
  m_sFailedFile.clear();
  m_nFailedErrno = 0;
  m_sErrorText.clear();
  m_headerSerializer.clearHeader();
  std::free(m_pOptHeader);
  m_pOptHeader = nullptr;
  m_nOptHeaderSize = 0;
  if (!m_pServerSession || !m_pClientBackup) return noServer(FX_HERE);
  try {
    status = m_pClientBackup->getFile();
    if (status == DBClientBackup::kServerFailed) {
      FX_LOG(-1, "Could not get next file ");
      DB_RAISE("DBProxyBackup::recvNextFile", "The conversation with the database file-backup server broke");
    }
    if (status != 0) {
      FX_LOG(-1, "Could not get next file ");
      DB_RAISE("DBProxyBackup::recvNextFile", "No more items to back up in DB");
    }
    status = m_pClientBackup->getFileHeader();
    if (status != 0) {
      status = RECV_STATUS_FAILED_FILE;
      InformFileStatus(true);
      FX_LOG(-1, "Failed file, fileName=%s, fileErrno=%d, status=%d", m_sCurrentFile.c_str(), m_nFailedErrno,
             status);
      DB_RAISE("DBProxyBackup::recvNextFile", "Failed file");
    }
    return CWqError::Success();
  } catch (const KxException& e) {
    return caught(FX_HERE, e.getErrno(), e.formatError(), status);
  }
}

CWqError DBProxyBackup::getCxHeader(CXFileHeader& cx) {
  FX_LOG(4, "DBProxyBackup::getCxHeader");
  if (!m_pServerSession || !m_pClientBackup) return noServer(FX_HERE);
  uint32_t used = 0;
  const int status = m_headerSerializer.deserialize(m_pClientBackup->getHeaderBuffer(),
                                                    m_pClientBackup->getHeaderSize(), used);
  if (status != 0 || !m_pClientBackup->getHeaderBuffer()) {
    FX_LOG(-1, "Failed to deserialize proxy file header, status=%d", status);
    return failFile(FXErrorUtil::ErrorKXResult(FX_HERE, static_cast<int32_t>(EV_FILE_HEADER_DECODE_FAILED),
                                               "The header of [%s] does not decode",
                                               m_pClientBackup->getFileName().c_str()));
  }
  const std::string& headerText = m_pClientBackup->getHeaderFromApp();
  if (headerText.size() >= CXFileHeader::kNameCapacity) {
    // Refused rather than cut: the archive would name a file nobody asked for.
    FX_LOG(-1, "Failed file, header text of %zu bytes does not fit the file header", headerText.size());
    return failFile(FXErrorUtil::ErrorErrNo(
        FX_HERE, ENAMETOOLONG, "The server's header text of %zu characters does not fit the header's %u: %.200s...",
        headerText.size(), CXFileHeader::kNameCapacity - 1, headerText.c_str()));
  }
  const uint32_t optSize = m_pClientBackup->getHeaderSize() - used;
  std::free(m_pOptHeader);  // a second call for the same file
  m_pOptHeader = nullptr;
  m_nOptHeaderSize = 0;
  if (optSize > 0) {
    char* opt = static_cast<char*>(std::malloc(optSize));
    if (!opt)
      return failFile(
          FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for an optional header of %u bytes", optSize));
    std::memcpy(opt, m_pClientBackup->getHeaderBuffer() + used, optSize);
    m_pOptHeader = opt;
    m_nOptHeaderSize = optSize;
  }
  CWqError result = ProxyBackup::getCxHeader(cx);
  if (result.IsError()) {
    m_sFailedFile.clear();  // the file's own name names it, not its header's
    return failFile(result.Push(FX_HERE));
  }
  std::memcpy(cx.name, headerText.c_str(), headerText.size() + 1);
  cx.nameLength = static_cast<uint32_t>(headerText.size() + 1);
  cx.offset = m_pClientBackup->getSeqNumFromApp();
  return result;
}

CWqError DBProxyBackup::recvData(char*& data, uint32_t& size) {
  FX_LOG(4, "DBProxyBackup::recvData");
  data = nullptr;
  size = 0;
  if (!m_pServerSession || !m_pClientBackup) return noServer(FX_HERE);
  int32_t status = 0;
  try {
    // The block is read straight into the buffer the host receives.
    char* block = static_cast<char*>(std::malloc(DBClientBackup::kBlockSize));
    if (!block) {
      status = RECV_STATUS_BAD_EOF;
      InformFileStatus(true);
      DB_RAISE("DBProxyBackup::recvData", "memory allocation for data failed");
    }
    uint32_t got = DBClientBackup::kBlockSize;
    status = m_pClientBackup->getFileData(block, got);
    if (status != 0 && status != RECV_STATUS_GOOD_EOF) {
      std::free(block);
      FX_LOG(-1, "Could not get data");
      InformFileStatus(true);
      DB_RAISE("DBProxyBackup::recvData", "Could not get data");
    }
    if (status == RECV_STATUS_GOOD_EOF || got == 0) {
      std::free(block);
      return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_GOOD_EOF);
    }
    data = block;
    size = got;
    return CWqError::Success();
  } catch (const KxException& e) {
    return caught(FX_HERE, e.getErrno(), e.formatError(), status);
  }
}

CWqError DBProxyBackup::recvData(char*& buf, unsigned int& size, unsigned int* msgType, _PipelineDataHdr*) {
  if (msgType) *msgType = 0;
  // As ProxyBackup::recvData: a buffer still set from the last call is freed.
  std::free(buf);
  buf = nullptr;
  uint32_t got = 0;
  CWqError result = recvData(buf, got);
  size = got;
  return result;
}

CWqError DBProxyBackup::getOptHeader(char*& buf, unsigned int& size) {
  FX_LOG(4, "DBProxyBackup::getOptHeader");
  return ProxyBackup::getOptHeader(buf, size);
}

CWqError DBProxyBackup::getStats(unsigned int& numFiles, unsigned int& numFailedFiles, unsigned long& totSize) {
  FX_LOG(4, "DBProxyBackup::getStats");
  numFiles = m_pClientBackup ? m_pClientBackup->getNumFiles() : 0;
  numFailedFiles = m_pClientBackup ? m_pClientBackup->getNumFailedFiles() : 0;
  totSize = m_pClientBackup ? m_pClientBackup->getTotalBytes() : 0;
  return CWqError::Success();
}

CWqError DBProxyBackup::getFailedFile(std::string& name, int& error, std::string& text) {
  FX_LOG(4, "DBProxyBackup::getFailedFile");
  return ProxyBackup::getFailedFile(name, error, text);
}

bool DBProxyBackup::isProxyFile(const std::string&) const { return false; }
