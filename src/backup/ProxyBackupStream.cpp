// Reception of the backup file stream: headers and stream events
// (recvNextFile), data items (recvData) and what they leave for the host.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "ClTapeMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyBackup.h"
#include "ProxyEventIds.h"

namespace {

const uint32_t kErrorInternal = 1359;  // ERROR_INTERNAL_ERROR
const unsigned int kPipelineDataType = 0x51;
const unsigned int kSignatureType = 0x50;

CWqError StatusResult(const FXCodeLocation& where, int32_t status) {
  if (status == 0) return CWqError::Success();
  return FXErrorUtil::ErrorInt(where, status);
}

CWqError DecodeFailed(const FXCodeLocation& where) {
  return FXErrorUtil::ErrorKXResult(where, static_cast<int32_t>(EV_FILE_HEADER_DECODE_FAILED));
}

void LogMessageType(ClProxyMsgType type) {
  FX_LOG(4, "recvMessageType:0x%X (H:0x%X,F:0x%X,S:0x%X,C:0x%X)", static_cast<unsigned>(type),
         static_cast<unsigned>(FILE_HEADER_MSG), static_cast<unsigned>(FAILED_FILE_MSG),
         static_cast<unsigned>(BACKUP_STATS_MSG), static_cast<unsigned>(BAD_COLLECT_FILE_MSG));
}

}  // namespace

CWqError ProxyBackup::DecodeHeaderPayload(const uint8_t* payload, uint32_t length, bool vtl, HeaderPayload& out) {
  uint32_t used = 0;
  int status = out.header.deserialize(payload, length, used);
  if (status != 0) {
    FX_LOG(-1, "Failed to deserialize proxy file header, status=%d", status);
    return DecodeFailed(FX_HERE);
  }
  if (vtl) {
    status = ClProxySerializer::deserialize(payload, length, used, out.barcode);
    if (status != 0) {
      FX_LOG(-1, "Failed to deserialize file barCode, status=%d", status);
      return DecodeFailed(FX_HERE);
    }
    out.streamCount = 1;
    out.streamNumber = 1;
    out.archiveObjectName.clear();
    if (used < length) {
      status = ClProxySerializer::deserialize(payload, length, used, out.streamCount);
      if (status == 0) status = ClProxySerializer::deserialize(payload, length, used, out.streamNumber);
      if (status != 0) {
        FX_LOG(-1, "Failed to deserialize file barCode, status=%d", status);
        return DecodeFailed(FX_HERE);
      }
      status = ClProxySerializer::deserialize(payload, length, used, out.archiveObjectName);
      if (status != 0) {
        FX_LOG(-1, "Failed to deserialize file ArchiveObjectName, status=%d", status);
        return DecodeFailed(FX_HERE);
      }
    }
    if (out.streamCount == 1) {
      out.archiveObjectName.clear();
    } else {
      // In 64 bits: the largest stream number must not overflow.
      out.archiveObjectName += "-" + std::to_string(static_cast<int64_t>(out.streamNumber) + 1);
    }
  }
  out.optHeaderOffset = used;
  return CWqError::Success();
}

CWqError ProxyBackup::handleHeader(const ClBlobMsg& msg) {
  HeaderPayload decoded;
  decoded.barcode = m_nBarcode;
  CWqError result = DecodeHeaderPayload(msg.getBlob(), msg.getBlobSize(), m_bVTLBackup, decoded);
  if (result.IsError()) return result;
  const uint32_t optSize = msg.getBlobSize() - decoded.optHeaderOffset;
  if (optSize > 0) {
    char* optHeader = static_cast<char*>(std::malloc(optSize));
    if (!optHeader)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for an optional header of %u bytes", optSize);
    std::memcpy(optHeader, msg.getBlob() + decoded.optHeaderOffset, optSize);
    m_pOptHeader = optHeader;
    m_nOptHeaderSize = optSize;
  }
  m_headerSerializer.setHeader(decoded.header);
  if (m_bVTLBackup) {
    m_nBarcode = decoded.barcode;
    m_nStreamCount = decoded.streamCount;
    m_nStreamNumber = decoded.streamNumber;
    m_sArchiveObjectName = decoded.archiveObjectName;
  }
  const ClProxyFileHeader& header = m_headerSerializer;
  FX_LOG(4, "New backup file [%s] received flags:%llX size:%llu mtime:%llu streamCount:%d streamNumber:%d archive:%s",
         header.name.c_str(), static_cast<unsigned long long>(header.flags),
         static_cast<unsigned long long>(header.size), static_cast<unsigned long long>(header.mtime), m_nStreamCount,
         m_nStreamNumber, m_sArchiveObjectName.c_str());
  return CWqError::Success();
}

void ProxyBackup::takeFailedFile(const ClProxyMsg& msg, bool nameOnlyHeader) {
  const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(&msg);
  if (failed) failed->get(m_sFailedFile, m_nFailedErrno, m_sErrorText);
  if (nameOnlyHeader) {
    ClProxyFileHeader header;
    header.name = m_sFailedFile;
    m_headerSerializer.setHeader(header);
  }
  FX_LOG(-1, "Failed file, fileName=%s, OS errno=%d (%s)", m_sFailedFile.c_str(), m_nFailedErrno,
         m_sErrorText.c_str());
}

void ProxyBackup::readFileDataTimeouts() {
  m_iFileDataSeconds = getTimeOutValue(TIMEOUT_FILE_DATA);
  const int attempts = getTimeOutValue(TIMEOUT_FILE_DATA_RETRIES);
  m_iFileDataAttempts = attempts < 1 ? 1 : attempts;
  m_bFileDataTimeoutsRead = true;
}

CWqError ProxyBackup::recvNextFile() {
  m_sCurrentFile.clear();
  m_nFailedErrno = 0;
  m_sErrorText.clear();
  m_sFailedFile.clear();
  m_headerSerializer.clearHeader();
  std::free(m_pOptHeader);
  m_pOptHeader = nullptr;
  m_nOptHeaderSize = 0;
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");
  readFileDataTimeouts();

  static const std::vector<ClProxyMsgType> kAccepted = {FILE_HEADER_MSG,  FAILED_FILE_MSG, BACKUP_STATS_MSG,
                                                        BAD_COLLECT_FILE_MSG, TAPE_INFO_MSG, TAPE_FULL_MSG,
                                                        EVENT_MSG,        NEW_LIBRARY_MSG};
  const int seconds = getTimeOutValue(TIMEOUT_NEXT_FILE);
  std::unique_ptr<ClProxyMsg> message;
  for (;;) {
    ClProxyMsg* raw = nullptr;
    CWqError result = m_pSrvConnection->recvMessage(raw, kAccepted, seconds);
    message.reset(raw);
    if (result.IsError()) {
      if (!FXErrorUtil::IsErrNo(result, ETIME))
        FX_LOG(-1, "Failed to receive message, status=%d, errno=%d:%s", 0, FXErrorUtil::GetErrNo(result),
               result.AsString().c_str());
      result.Push(FX_HERE, "Failed to receive message");
      return result;
    }
    LogMessageType(message->getMsgType());
    if (message->getMsgType() != EVENT_MSG) break;
    if (const ClEventMsg* event = dynamic_cast<const ClEventMsg*>(message.get())) event->sendEvent();
  }

  int32_t status = 0;
  switch (message->getMsgType()) {
    case TAPE_FULL_MSG: {
      if (const ClTapeFullMsg* full = dynamic_cast<const ClTapeFullMsg*>(message.get()))
        m_sTapeBarCode = full->getTapeBarCode();
      FX_LOG(0, "Client report that tape %s is full.", m_sTapeBarCode.c_str());
      status = RECV_STATUS_TAPE_FULL;
      break;
    }
    case BACKUP_STATS_MSG: {
      if (const ClBackupStatsMsg* stats = dynamic_cast<const ClBackupStatsMsg*>(message.get()))
        stats->get(m_numFiles, m_numFailedFiles, m_totSize);
      FX_LOG(4, "Collect file processing complete, numFiles=%u, numFailedFiles=%u, totSize=%llu", m_numFiles,
             m_numFailedFiles, static_cast<unsigned long long>(m_totSize));
      status = RECV_STATUS_COLLECT_DONE;
      break;
    }
    case NEW_LIBRARY_MSG:
      FX_LOG(0, "Starting new library");
      status = RECV_STATUS_NEW_LIBRARY;
      break;
    case FAILED_FILE_MSG:
      takeFailedFile(*message, true);
      status = RECV_STATUS_FAILED_FILE;
      break;
    case BAD_COLLECT_FILE_MSG:
      FX_LOG(-1, "Client report bad collect file");
      status = RECV_STATUS_BAD_COLLECT;
      break;
    case TAPE_INFO_MSG: {
      const ClTapeInfoMsg* info = dynamic_cast<const ClTapeInfoMsg*>(message.get());
      if (!info) return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_INVALID_MESSAGE, "Invalid message");
      m_sTapeBarCode = info->currentTapeBarCode();
      m_sDriveSerial = info->currentDriveSerial();
      // Each report replaces all four fields: an argument left out empties
      // its field rather than hand back an earlier tape's value.
      m_sMSGQName.clear();
      m_sMessageKey.clear();
      info->getArgument(ClTapeInfoMsg::keyMSGQName, m_sMSGQName);
      info->getArgument(ClTapeInfoMsg::keyMessage_Key, m_sMessageKey);
      status = RECV_STATUS_TAPE_INFO;
      break;
    }
    case FILE_HEADER_MSG: {
      const ClBlobMsg* header = dynamic_cast<const ClBlobMsg*>(message.get());
      if (!header) return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_INVALID_MESSAGE, "Invalid message");
      CWqError result = handleHeader(*header);
      if (result.IsError()) return result;
      break;
    }
    default:
      FX_LOG(-1, "Invalid message type %d. expected %d", static_cast<int>(message->getMsgType()),
             static_cast<int>(FILE_HEADER_MSG));
      return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_INVALID_MESSAGE, "Invalid message type %d. expected %d",
                                   static_cast<int>(message->getMsgType()), static_cast<int>(FILE_HEADER_MSG));
  }
  return StatusResult(FX_HERE, status);
}

CWqError ProxyBackup::recvDataMessage(ClProxyMsg*& msg) {
  static const std::vector<ClProxyMsgType> kAccepted = {FILE_DATA_MSG,   GOOD_EOF_MSG,
                                                        BAD_EOF_MSG,     FAILED_FILE_MSG,
                                                        PROXY_PREPIPELINEDEDUPE_SIGNATURE, PROXY_PREPIPELINE_DATA_MSG};
  if (!m_bFileDataTimeoutsRead) readFileDataTimeouts();
  CWqError result;
  for (int attempt = 0; attempt < m_iFileDataAttempts; ++attempt) {
    result = m_pSrvConnection->recvMessage(msg, kAccepted, m_iFileDataSeconds);
    if (!result.IsError()) return result;
    if (!FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(-1, "Failed to recv message, status=%d, errno=%d\n", 0, FXErrorUtil::GetErrNo(result));
      break;
    }
  }
  result.Push(FX_HERE);
  return result;
}

CWqError ProxyBackup::recvData(char*& buf, unsigned int& size, unsigned int* msgType, _PipelineDataHdr* hdr) {
  std::free(buf);
  buf = nullptr;
  size = 0;
  if (msgType) *msgType = 0;
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the client program: init has not set it up");

  ClProxyMsg* raw = nullptr;
  CWqError result = recvDataMessage(raw);
  std::unique_ptr<ClProxyMsg> message(raw);
  if (result.IsError()) return result;

  const ClProxyMsgType type = message->getMsgType();
  int32_t status = 0;
  switch (type) {
    case GOOD_EOF_MSG:
      FX_LOG(4, "File %s backup is complete", m_sCurrentFile.c_str());
      status = RECV_STATUS_GOOD_EOF;
      break;
    case BAD_EOF_MSG:
      FX_LOG(4, "File %s backup partially failed", m_sCurrentFile.c_str());
      m_nFailedErrno = -1;
      if (const ClBadEofMsg* badEof = dynamic_cast<const ClBadEofMsg*>(message.get())) badEof->get(m_sErrorText);
      status = RECV_STATUS_BAD_EOF;
      break;
    case FILE_DATA_MSG: {
      ClBlobMsg* block = dynamic_cast<ClBlobMsg*>(message.get());
      if (!block) return FXErrorUtil::ErrorInt(FX_HERE, RECV_STATUS_INVALID_REPLY);
      // The very buffer the frame was read into goes to the host.
      uint32_t length = 0;
      result = block->handOut(buf, length);
      if (result.IsError()) {
        result.Push(FX_HERE);
        return result;
      }
      size = length;
      FX_LOG(4, "File %s data, dataSize=%d", m_sCurrentFile.c_str(), static_cast<int>(size));
      break;
    }
    case FAILED_FILE_MSG:
      takeFailedFile(*message, false);
      status = RECV_STATUS_FAILED_FILE;
      break;
    case PROXY_PREPIPELINE_DATA_MSG: {
      const ClPipelineBlobMsg* block = dynamic_cast<const ClPipelineBlobMsg*>(message.get());
      if (!block) {
        FX_LOG(-1, "[ERROR] unexpected class type for ClPipelineBlobMsg messge %X", static_cast<unsigned>(type));
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal, "unexpected class type for ClPipelineBlobMsg messge %X",
                                       static_cast<unsigned>(type));
      }
      if (!msgType || !hdr) {
        FX_LOG(-1, "[ERROR] Invalid Parameter");
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal,
                                       "Invalid Parameter for messge PROXY_PREPIPELINE_DATA_MSG %X",
                                       static_cast<unsigned>(type));
      }
      // The archive records the header's size: it must be the size of the
      // data that comes with it.
      const _PipelineDataHdr* header = block->GetPipelineDataHdr();
      if (header->uDataSize != block->getBlobSize()) {
        FX_LOG(-1, "[ERROR] Dedupe-data header names %u bytes, the message carries %u", header->uDataSize,
               block->getBlobSize());
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal,
                                       "Pre-pipeline data header names %u bytes but the message carries %u",
                                       header->uDataSize, block->getBlobSize());
      }
      if (block->getBlobSize() > 0) {
        char* copy = static_cast<char*>(std::malloc(block->getBlobSize()));
        if (!copy)
          return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for %u bytes of pre-pipeline data",
                                         block->getBlobSize());
        std::memcpy(copy, block->getBlob(), block->getBlobSize());
        buf = copy;
      }
      size = block->getBlobSize();
      *hdr = *header;
      *msgType = kPipelineDataType;
      FX_LOG(4, "File %s Dedupe-data, dataSize=%d", m_sCurrentFile.c_str(), static_cast<int>(size));
      break;
    }
    case PROXY_PREPIPELINEDEDUPE_SIGNATURE: {
      if (!msgType || !hdr) {
        FX_LOG(-1, "[ERROR] Invalid Parameter");
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal,
                                       "Invalid Parameter for messge PROXY_PREPIPELINEDEDUPE_SIGNATURE");
      }
      *msgType = kSignatureType;
      const ClPipelineSignatureMsg* signatureMsg = dynamic_cast<const ClPipelineSignatureMsg*>(message.get());
      if (!signatureMsg) {
        FX_LOG(-1, "[ERROR] unexpected class type for ClPipelineSignatureMsg messge %X", static_cast<unsigned>(type));
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal,
                                       "unexpected class type for ClPipelineSignatureMsg messge %X",
                                       static_cast<unsigned>(type));
      }
      const _PrePipelineDedupe_Signature* signature = signatureMsg->GetSignature();
      if (!signature) {
        FX_LOG(-1, "[ERROR] Invalide data found in ClPipelineSignatureMsg messge %X", static_cast<unsigned>(type));
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorInternal,
                                       "Invalide data found in  ClPipelineSignatureMsg messge %X",
                                       static_cast<unsigned>(type));
      }
      char* copy = static_cast<char*>(std::malloc(sizeof *signature));
      if (!copy) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for a signature record");
      std::memcpy(copy, signature, sizeof *signature);
      buf = copy;
      break;
    }
    default:
      FX_LOG(-1, "Invalid message reply. Message type:%d", static_cast<int>(type));
      status = RECV_STATUS_INVALID_REPLY;
      break;
  }
  return StatusResult(FX_HERE, status);
}

CWqError ProxyBackup::getOptHeader(char*& buf, unsigned int& size) {
  buf = m_pOptHeader;
  size = m_nOptHeaderSize;
  return CWqError::Success();
}

CWqError ProxyBackup::getStats(unsigned int& numFiles, unsigned int& numFailedFiles, unsigned long& totSize) {
  numFiles = m_numFiles;
  numFailedFiles = m_numFailedFiles;
  totSize = m_totSize;
  return CWqError::Success();
}

CWqError ProxyBackup::getFailedFile(std::string& name, int& error, std::string& text) {
  name = m_sFailedFile.empty() ? m_sCurrentFile : m_sFailedFile;
  error = m_nFailedErrno;
  text = m_sErrorText;
  return CWqError::Success();
}
