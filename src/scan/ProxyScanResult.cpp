// Reception of the scan program's results: status, tagged files, notices.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "ClBasicMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClScanMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyScan.h"
#include "ScanEventIds.h"
#include "ScanText.h"
#include "auto_handle.h"

namespace {

// A fixed wait, not a timeout kind: the abort check is asked after this
// many quiet seconds.
const int kQuietSeconds = 10;
const uint32_t kErrorFunctionFailed = 1627;  // ERROR_FUNCTION_FAILED

const ClProxyMsgType kAccepted[] = {SCAN_RESULT_MSG, FILE_HEADER_MSG,     FILE_DATA_MSG, GOOD_EOF_MSG,
                                    BAD_EOF_MSG,     DISABLE_SYNCLIB_MSG, EVENT_MSG};

bool IsAccepted(ClProxyMsgType type) {
  for (ClProxyMsgType accepted : kAccepted)
    if (accepted == type) return true;
  return false;
}

// The file a tag names, beside the directory-change file; empty for a tag
// not in the table.
std::string PathOfTag(const std::string& tag, const std::string& dirChangeFile, const std::string& folder) {
  if (tag == "DC") return dirChangeFile;
  if (tag == "SPLIT") return folder + "split_config";
  if (tag == "MSPLIT") return folder + "Merged_split_config";
  if (tag == "SFAIL") return folder + "scan_Failures.kxf";
  return std::string();
}

// Creates `path` anew (an existing file is truncated).
CWqError CreateFile(const std::string& path, auto_handle& file) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int errNo = errno;
    CWqError error =
        FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "Unable to open the dir change file [%s]", path.c_str());
    error.Push(FX_HERE, "System error %d: %s", errNo, std::strerror(errNo));
    return error;
  }
  file.reset(fd);
  return CWqError::Success();
}

// Writes the whole block; a write that makes no progress is a full disk.
CWqError WriteAll(int fd, const uint8_t* bytes, uint32_t length, const std::string& path) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = ::write(fd, bytes + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int errNo = n < 0 ? errno : ENOSPC;
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Failed to write %u bytes to [%s]: %s", length - done,
                                     path.c_str(), std::strerror(errNo));
    }
    done += static_cast<uint32_t>(n);
  }
  return CWqError::Success();
}

// The "any other type" ending: a file left open may be a partial
// directory-change file, which must not pass for a whole one.
CWqError UnexpectedMessage(ClProxyMsgType type, auto_handle& file, const std::string& dirChangeFile) {
  if (file.is_valid()) {
    file.reset();
    ::unlink(dirChangeFile.c_str());
  }
  return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "Unexpected message from client [%d]",
                                        static_cast<int>(type));
}

}  // namespace

CWqError ProxyScan::recvScanResult(const std::string& dirChangeFile, bool& failed, bool& completed, time_t& scanTime,
                                   std::list<std::string>& failures, uint32_t& failedToBackup, uint32_t& numCollect,
                                   CAbortOperationCheckPtr abortCheck) {
  failed = false;
  completed = false;
  const std::string folder = ScanText::FolderOf(dirChangeFile);
  FX_LOG(2, "removing file [%s]", dirChangeFile.c_str());
  ::unlink(dirChangeFile.c_str());  // a file of an earlier call, if any
  if (!m_pSrvConnection)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection to the scan program: init has not set it up");

  auto_handle file;
  std::string filePath;  // the file last opened in this call
  bool dirChangeOpened = false;
  bool streamEnded = false;

  while (!failed && !completed && !streamEnded) {
    ClProxyMsg* raw = nullptr;
    // Every type is taken, so that one outside the accepted list is reported
    // as an unexpected message rather than as a broken link; so is a frame
    // that is no message (unknown type, payload that does not decode): the
    // link is sound, the sender is not.
    bool dropped = false;
    ClProxyMsgHeader droppedHeader;
    CWqError result = m_pSrvConnection->recvAnyMessage(raw, kQuietSeconds, dropped, droppedHeader);
    std::unique_ptr<ClProxyMsg> message(raw);
    if (dropped) {
      FX_LOG(1, "Message from client dropped:%s", result.AsString().c_str());
      return UnexpectedMessage(droppedHeader.getMsgType(), file, dirChangeFile);
    }
    if (result.IsError()) {
      if (FXErrorUtil::IsErrNo(result, ETIME)) {
        if (!abortCheck || !abortCheck->isAbortRequested()) continue;
        sendSuspendJob();  // the job ends either way
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_OPERATION_ABORTED);
      }
      failed = true;
      FX_LOG(-1, "recvMessage failed:%s", result.AsString().c_str());
      const std::string host = m_pSrvConnection->remoteHost();
      CWqError error = FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_SCAN_FAILED);
      error << "CLIENTSCAN" << host.c_str() << host.c_str() << host.c_str();
      return error;
    }

    const ClProxyMsgType type = message->getMsgType();
    if (!IsAccepted(type)) return UnexpectedMessage(type, file, dirChangeFile);

    switch (type) {
      case EVENT_MSG: {
        const ClEventMsg* event = dynamic_cast<const ClEventMsg*>(message.get());
        if (!event) {
          FX_LOG(-1, "Failed to convert event message to ClEventMsg");
          break;
        }
        event->sendPendingCauseAndEvent();
        FX_LOG(0, "Scan has a pending event. Fail now");
        completed = true;
        return FXErrorUtil::ErrorWin32(FX_HERE, kErrorFunctionFailed, "Received pending event from client.");
      }

      case SCAN_RESULT_MSG: {
        const ClScanResultMsg* status = dynamic_cast<const ClScanResultMsg*>(message.get());
        if (!status) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "Scan status of an unexpected class");
        const int phaseStatus = status->getPhaseStatus();
        int64_t time = 0;
        status->get(time, failures, failedToBackup, numCollect);
        scanTime = static_cast<time_t>(time);
        FX_LOG(4, "jobStatus==%d failCount:%zu faileToBackup:%u numCollect:%u", phaseStatus, failures.size(),
               static_cast<unsigned>(failedToBackup), static_cast<unsigned>(numCollect));
        if (phaseStatus == 3)
          completed = true;
        else if (phaseStatus == 2)
          failed = true;
        break;
      }

      case FILE_HEADER_MSG: {
        const ClBlobMsg* header = dynamic_cast<const ClBlobMsg*>(message.get());
        if (!header) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "File tag of an unexpected class");
        // The tag is its bytes exactly: a terminating NUL is part of it.
        const std::string tag(reinterpret_cast<const char*>(header->getBlob()), header->getBlobSize());
        message.reset();
        file.reset();
        const std::string path = PathOfTag(tag, dirChangeFile, folder);
        if (path.empty())
          return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "Unknown file type [%s]", tag.c_str());
        if (tag == "DC") dirChangeOpened = true;
        FX_LOG(2, "will create file [%s]", path.c_str());
        CWqError created = CreateFile(path, file);
        if (created.IsError()) return created;
        filePath = path;
        break;
      }

      case FILE_DATA_MSG: {
        const ClBlobMsg* data = dynamic_cast<const ClBlobMsg*>(message.get());
        if (!data) return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "File data of an unexpected class");
        if (!file.is_valid()) {
          // Data without a tag belongs to the directory-change file.
          FX_LOG(2, "will create file file [%s]", dirChangeFile.c_str());
          CWqError created = CreateFile(dirChangeFile, file);
          if (created.IsError()) return created;
          filePath = dirChangeFile;
          dirChangeOpened = true;
        }
        CWqError written = WriteAll(file.get(), data->getBlob(), data->getBlobSize(), filePath);
        if (written.IsError()) {
          // A partial directory-change file must not pass for a whole one.
          file.reset();
          ::unlink(dirChangeFile.c_str());
          return written;
        }
        break;
      }

      case GOOD_EOF_MSG:
        file.reset();
        streamEnded = true;
        break;

      case BAD_EOF_MSG: {
        std::string reason;
        if (const ClBadEofMsg* bad = dynamic_cast<const ClBadEofMsg*>(message.get())) bad->get(reason);
        if (file.is_valid()) {
          file.reset();
          ::unlink(dirChangeFile.c_str());
        }
        // Without a directory-change file this ends like any stream without one.
        if (!dirChangeOpened) {
          streamEnded = true;
          break;
        }
        // The client failed the transfer: that is no scan result to go on with.
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY, "Client reported a failed transfer of [%s]: %s",
                                              (filePath.empty() ? dirChangeFile : filePath).c_str(), reason.c_str());
      }

      case DISABLE_SYNCLIB_MSG:
        FX_LOG(0, "Scan phase requested to disable SYNCLIB option.");
        m_bDisableSyncLib = true;
        break;

      default:
        break;  // not reached: the accepted types are all handled above
    }
  }

  if (failed || completed || dirChangeOpened) return CWqError::Success();
  failed = true;
  return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_TEXT_ONLY,
                                        "Client didn't sent dir change file. Failing scan phase.");
}
