// The index update of a VTL DR job: the outfile-processing request and the
// stream of what the save wrote, one item per call.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyFileHeader.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "CxHeaderConversion.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "IBMiDRClientConnection.h"
#include "KXJobControl.h"
#include "ProxyEventIds.h"

namespace {

const uint32_t kErrorNotConnected = 2250;
const int32_t kIBMiClientType = 118;

enum DRStreamStatus {
  kStatusFile = 0,
  kStatusInvalidMessage = 1,
  kStatusCollectDone = 7,
  kStatusFailedFile = 8,
  kStatusGoodEof = 10,
};

const std::vector<ClProxyMsgType>& AcceptedTypes() {
  static const std::vector<ClProxyMsgType> types = {FILE_HEADER_MSG, BACKUP_STATS_MSG, FAILED_FILE_MSG,
                                                    FILE_DATA_MSG,   BAD_EOF_MSG,      GOOD_EOF_MSG};
  return types;
}

}  // namespace

int IBMiDRClientConnectionInterface::DecodeFileItem(const uint8_t* blob, uint32_t size,
                                                    ClProxyFileHeaderSerializer& header, std::string& barcode) {
  uint32_t position = 0;
  const int status = header.deserialize(blob, size, position);
  if (status != 0) return status;
  return ClProxySerializer::deserialize(blob, size, position, barcode);
}

CWqError IBMiDRClientConnectionInterface::startOutfileProcessing() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  CWqError result = connectToClientService();
  if (result.IsError()) return result.Push(FX_HERE);
  const std::string name = IBMiDRConfigurationInterface::DRLogOutfile(m_llJobId);
  FX_LOG(3, "Process outfiles for Vellicon [%d] AppID [%d] Job [%lu], name [%s]", m_iVelliconId, m_iAppId,
         static_cast<unsigned long>(m_llJobId), name.c_str());
  ClProcessOutFileMsg request(m_iVelliconId, m_iAppId, static_cast<unsigned long>(m_llJobId), name);
  result = m_ptrClientConnection->sendMessage(&request);
  if (result.IsError()) DropConnection();
  return result;
}

void IBMiDRClientConnectionInterface::FailItem(const std::string& fileName, int error, const std::string& text,
                                               int& status, std::string& name, CXFileHeader& header) {
  // A NUL would cut the name to another file's: the host gets it printed.
  const std::string shown = PrintableClientName(fileName);
  m_sFileName = fileName.find('\0') == std::string::npos ? fileName : shown;
  m_iFileError = error;
  m_sFileErrorText = text;
  FX_LOG(-1, "Failed file, fileName=%s, OS errno=%d (%s)", shown.c_str(), m_iFileError, m_sFileErrorText.c_str());
  ClProxyFileHeader bare;
  // The host header carries the name only when it fits.
  if (m_sFileName.size() < CXFileHeader::kNameCapacity) bare.name = m_sFileName;
  ConvertClientHeader(bare, kIBMiClientType, 0, header);
  name = m_sFileName;
  status = kStatusFailedFile;
  LogItem(bare, fileName, header);
}

void IBMiDRClientConnectionInterface::LogItem(const ClProxyFileHeader& decoded, const std::string& name,
                                              const CXFileHeader& header) const {
  // The printable copy is made only when the line is written.
  FX_LOG(4, "Backup %s %s with platform flags %llX size:%llu time:%llu offset:%llu Tape:[%s]",
         (decoded.mode & 0xF000) == 0x4000 ? "folder" : "file", PrintableClientName(name).c_str(),
         static_cast<unsigned long long>(header.platformFlags), static_cast<unsigned long long>(header.size),
         static_cast<unsigned long long>(header.mtime), static_cast<unsigned long long>(header.offset),
         m_sFileTapeBarCode.c_str());
}

void IBMiDRClientConnectionInterface::FillHostHeader(const ClProxyFileHeader& decoded, int& status,
                                                     std::string& name, CXFileHeader& header) {
  if (m_uiSymlinkTooLong) {
    char text[96];
    std::snprintf(text, sizeof(text), "symbolic link target of %u bytes is longer than %d", m_uiSymlinkTooLong,
                  PATH_MAX);
    // The refused target was this header's alone.
    m_uiSymlinkTooLong = 0;
    FailItem(decoded.name, ENAMETOOLONG, text, status, name, header);
    return;
  }
  CWqError converted = ConvertClientHeader(decoded, kIBMiClientType, 0, header);
  if (converted.IsError()) {
    // The host header cannot hold the name (too long, or a NUL inside): the
    // file is reported as failed, and the stream goes on.
    const int error = converted.GetNumber() ? static_cast<int>(converted.GetNumber()) : EINVAL;
    FailItem(decoded.name, error, std::strerror(error), status, name, header);
    return;
  }
  name = decoded.name;
  LogItem(decoded, decoded.name, header);
}

CWqError IBMiDRClientConnectionInterface::recvNextFileFromDR(int& status, std::string& name, CXFileHeader& header) {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  if (!isConnected()) {
    status = kStatusInvalidMessage;
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorNotConnected, "no service connection for the DR file stream");
  }
  const char* const what = "the next file of the DR save";
  const int seconds = getTimeOutValue(TIMEOUT_NEXT_FILE);
  // The silence limit runs from the call, then from the last message (0:
  // taken when a slice first passes without one, so the clock is not read
  // per message).
  int64_t deadline = AnswerDeadline();
  for (;;) {
    // Looked at on every pass: a client that never stops sending must not
    // keep a job that was asked to stop.
    CWqError quit = CheckQuit(what);
    if (quit.IsError()) {
      status = kStatusInvalidMessage;
      return quit;
    }
    ClProxyMsg* received = nullptr;
    bool ended = false;
    CWqError result = ReceiveBounded(received, AcceptedTypes(), seconds, deadline, what, ended);
    std::unique_ptr<ClProxyMsg> message(received);
    if (ended) {
      status = kStatusInvalidMessage;
      return result;
    }
    if (result.IsError() && FXErrorUtil::IsErrNo(result, ETIME)) {
      FX_LOG(3, "receive message timeout");
      continue;
    }
    if (result.IsError()) {
      FX_LOG(-1, "Failed to receive message, status=%d, errno=%d:%s", status, errno, result.AsString().c_str());
      DropConnection();
      status = kStatusInvalidMessage;
      return result.Push(FX_HERE, "Failed to receive message");
    }
    deadline = 0;
    const ClProxyMsgType type = message->getMsgType();
    FX_LOG(4, "recvMessageType:0x%X", static_cast<unsigned>(type));
    switch (type) {
      case GOOD_EOF_MSG:
        m_sSymlink.clear();
        m_uiSymlinkTooLong = 0;
        FX_LOG(5, "File backup is complete");
        status = kStatusGoodEof;
        continue;
      case FILE_DATA_MSG: {
        const ClBlobMsg& blob = static_cast<const ClBlobMsg&>(*message);
        // No path holds a longer target: the file it belongs to fails.
        if (blob.getBlobSize() > PATH_MAX) {
          m_sSymlink.clear();
          m_uiSymlinkTooLong = blob.getBlobSize();
          FX_LOG(-1, "Symlink target of %u bytes refused", m_uiSymlinkTooLong);
          continue;
        }
        m_uiSymlinkTooLong = 0;
        m_sSymlink.assign(reinterpret_cast<const char*>(blob.getBlob()), blob.getBlobSize());
        FX_LOG(3, "Symlink [%s]", PrintableClientName(m_sSymlink).c_str());
        continue;
      }
      case BAD_EOF_MSG: {
        std::string text;
        static_cast<const ClBadEofMsg&>(*message).get(text);
        FX_LOG(-1, "Job failed on client during outfile processing, %s", text.c_str());
        status = kStatusInvalidMessage;
        return CWqError::Success();
      }
      case BACKUP_STATS_MSG: {
        uint32_t files = 0, failed = 0;
        uint64_t total = 0;
        static_cast<const ClBackupStatsMsg&>(*message).get(files, failed, total);
        status = kStatusCollectDone;
        FX_LOG(4, "Collect file processing complete, numFiles=%u, numFailedFiles=%u, totSize=%llu", files, failed,
               static_cast<unsigned long long>(total));
        return CWqError::Success();
      }
      case FAILED_FILE_MSG: {
        std::string failedName, text;
        int error = 0;
        static_cast<const ClFailedFileMsg&>(*message).get(failedName, error, text);
        FailItem(failedName, error, text, status, name, header);
        return CWqError::Success();
      }
      case FILE_HEADER_MSG: {
        const ClBlobMsg& blob = static_cast<const ClBlobMsg&>(*message);
        status = DecodeFileItem(blob.getBlob(), blob.getBlobSize(), m_fileItem, m_sFileTapeBarCode);
        if (status != 0) {
          FX_LOG(-1, "Failed to deserialize proxy file header, status=%d", status);
          return FXErrorUtil::ErrorKXResult(FX_HERE, static_cast<int32_t>(EV_FILE_HEADER_DECODE_FAILED));
        }
        status = kStatusFile;
        FillHostHeader(m_fileItem, status, name, header);
        return CWqError::Success();
      }
      default:
        continue;
    }
  }
}

CWqError IBMiDRClientConnectionInterface::cleanUpClientVTLBackup() {
  if (!m_ptrConfiguration) return CWqError::Success();
  const std::string drive = m_ptrConfiguration->getDriveCode();
  if (drive.empty()) return CWqError::Success();
  FX_LOG(2, "Run cleanup for VTL DR Backup on Vellicon [%d] App [%d] Job [%lu] Drive [%s]", m_iVelliconId,
         m_iAppId, static_cast<unsigned long>(m_llJobId), drive.c_str());
  DropConnection();
  CWqError result = connectToClientService();
  if (!result.IsError()) {
    ClVTLDRCleanupMsg request(m_iVelliconId, m_iAppId, static_cast<unsigned long>(m_llJobId), drive, 0);
    result = m_ptrClientConnection->sendMessage(&request);
  }
  ClProxyMsg* received = nullptr;
  bool ended = false;
  int64_t deadline = AnswerDeadline();
  if (!result.IsError())
    result = ReceiveBounded(received, {CLIENT_ERROR_MSG, SERVICE_CHECK_MSG}, getTimeOutValue(TIMEOUT_VTL_CLEANUP_REPLY),
                            deadline, "the drive cleanup", ended);
  std::unique_ptr<ClProxyMsg> reply(received);
  if (result.IsError()) {
    const std::string text = result.AsString();
    result.Push(FX_HERE);
    FX_LOG(-1, "%s: %s", text.c_str(), result.AsString().c_str());
    return result;
  }
  if (reply->getMsgType() == SERVICE_CHECK_MSG) return CWqError::Success();
  const unsigned type = static_cast<unsigned>(reply->getMsgType());
  FX_LOG(-1, "Unexpected message received during cleanup [0x%X]", type);
  return FXErrorUtil::ErrorWin32(FX_HERE, 774, "Error during VTL DR Cleanup. Message type 0x%X", type);
}
