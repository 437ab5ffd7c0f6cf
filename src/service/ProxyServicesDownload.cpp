// Log and directory-change downloads: a request, then the client's
// file-transfer sequence (a header starts a file, data follows, the job
// completion ends the download).
//
// A file appears under its name only once complete: it is written to a
// hidden temporary file beside its target (".receiving-" and six letters or
// digits), synced and renamed over the target when it ends (the next header,
// or the job completion), then the folder is synced (FXAtomicFile). A cut
// transfer removes the temporary and leaves an older file of that name as it
// was, so a caller never reads a cut file as a whole one. A log file's name is walked from
// the destination folder without following links (DownloadFolder.h).

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "ClServiceMsgs.h"
#include "FXAtomicFile.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "ProxyServicesPrivate.h"
#include "DownloadFolder.h"
#include "ServiceDownload.h"

namespace {

// A name the client sends for a log file: relative, and every component a
// plain name, so that the file lands inside the destination folder.
bool SafeRelativeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find('/', start);
    const std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// One download's receiving side: the file being written and the download's
// first failure.
class Receiver {
 public:
  Receiver(bool logFiles, const std::string& destination) : m_bLogFiles(logFiles), m_sDestination(destination) {}
  ~Receiver() { discard(); }

  // Finishes the file before and starts the next: `name` under the
  // destination folder (log files) or the destination itself. False when
  // the transfer must be cut (an unsafe name, the file cannot be made).
  bool start(const std::string& name) {
    if (!finish()) return false;
    if (m_bLogFiles && !SafeRelativeName(name))
      return fail(FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The client's log file name [%s] would leave [%s]",
                                          name.c_str(), m_sDestination.c_str()));
    const std::string path = m_bLogFiles ? FXPath::Append(m_sDestination, name, 0) : m_sDestination;
    FX_LOG(3, "will receive data to %s", path.c_str());
    m_sPath = path;
    CWqError result;
    if (m_bLogFiles) {
      // The destination is opened (made where missing) once; each file
      // walks from a copy of its descriptor.
      if (!m_destination.IsOpen()) result = DownloadFolder::OpenCallers(m_sDestination, m_destination);
      if (!result.IsError()) {
        m_folder.Reset(::fcntl(m_destination.Get(), F_DUPFD_CLOEXEC, 0));
        if (!m_folder.IsOpen()) {
          const int errNo = errno;
          result = FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot copy the descriptor of the folder [%s]: %s",
                                            m_sDestination.c_str(), std::strerror(errNo));
        }
      }
      if (!result.IsError()) result = DownloadFolder::OpenInside(m_sDestination, name, m_folder, m_sName);
    } else {
      std::string parent;
      FXPath::SplitParentPath(path, parent, m_sName);
      result = DownloadFolder::OpenCallers(parent.empty() ? std::string(".") : parent, m_folder);
    }
    // A short hidden name of its own: no name the client sends can be taken
    // for it, and it fits wherever the target's name fits.
    if (!result.IsError()) result = m_file.Begin(m_folder.Get(), m_sName, path, ".receiving-", 6, 0644);
    if (result.IsError()) return fail(result);
    FX_LOG(3, m_bLogFiles ? "Create client's log file [%s]" : "Downloading client's DCTmp file [%s]", path.c_str());
    ++m_iStarted;
    return true;
  }
  // False when the transfer must be cut: data before any header, or a
  // failed write.
  bool write(const ClBlobMsg& block) {
    if (!m_file.InProgress()) {
      if (m_bDropping) return true;  // the rest of a file the client reported failed
      return fail(FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "The client sent data before any file header"));
    }
    CWqError result = m_file.Write(block.getBlob(), block.getBlobSize());
    return result.IsError() ? fail(result) : true;
  }
  // The client reported the current file failed: its data are dropped, the
  // download goes on, and the call fails at its end.
  void failedByClient(const std::string& text) {
    FX_LOG(-1, "The client failed to send [%s]: %s", m_sPath.c_str(), text.c_str());
    if (!m_failure.IsError())
      m_failure = FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "The client failed to send [%s]: %s", m_sPath.c_str(),
                                          text.c_str());
    discard();
    m_bDropping = true;
  }
  // Renames the finished file over its target. False when that fails.
  bool finish() {
    m_bDropping = false;
    if (!m_file.InProgress()) return true;
    CWqError result = m_file.Commit();
    return result.IsError() ? fail(result) : true;
  }
  // Removes an unfinished file.
  void discard() { m_file.Abandon(); }
  bool fail(CWqError error) {
    FX_LOG(-1, "%s", error.AsString().c_str());
    discard();
    m_cut = error;
    return false;
  }

  const std::string& path() const { return m_sPath; }
  int started() const { return m_iStarted; }
  const CWqError& cut() const { return m_cut; }
  const CWqError& failure() const { return m_failure; }

 private:
  const bool m_bLogFiles;
  const std::string m_sDestination;
  std::string m_sPath;                       // for the log lines
  ProxyFileUtil::ScopedDescriptor m_destination{-1};  // log files: the destination, once open
  ProxyFileUtil::ScopedDescriptor m_folder{-1};  // holds the current file
  std::string m_sName;                       // the current file's name in m_folder
  FXAtomicFile m_file;                       // its new content, in m_folder
  bool m_bDropping = false;
  int m_iStarted = 0;
  CWqError m_cut;      // ended the transfer
  CWqError m_failure;  // reported at the end
};

}  // namespace

CWqError ReceiveDownload(ClProxyConnection& link, bool logFiles, const std::string& destination,
                         const std::function<void()>& cut) {
  Receiver receiver(logFiles, destination);
  for (;;) {
    ClProxyMsg* received = nullptr;
    CWqError result = link.recvMessage(received, getTimeOutValue(TIMEOUT_DOWNLOAD));
    std::unique_ptr<ClProxyMsg> message(received);
    if (result.IsError()) {
      cut();
      FX_LOG(-1, "%s", result.AsString().c_str());
      return result;
    }
    const ClProxyMsgType type = message->getMsgType();
    if (type == JOB_COMPLETE_MSG) break;
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    bool goOn = true;
    if (type == FILE_HEADER_MSG && blob) {
      goOn = receiver.start(logFiles ? std::string(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize())
                                     : std::string());
    } else if (type == FILE_DATA_MSG && blob) {
      goOn = receiver.write(*blob);
    } else if (type == BAD_EOF_MSG && !logFiles) {
      FX_LOG(-1, "Client failed to send DCTmp file");
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "DCTmp was found missing in Client");
    } else if (type == BAD_EOF_MSG && receiver.started() > 0) {
      std::string text;
      if (const ClBadEofMsg* bad = dynamic_cast<const ClBadEofMsg*>(message.get())) bad->get(text);
      receiver.failedByClient(text);
    } else {
      FX_LOG(-1, "%s:unknown message:%d", receiver.path().c_str(), static_cast<int>(type));
    }
    if (!goOn) {
      cut();  // what is still coming must not answer the next request
      return receiver.cut();
    }
  }
  if (!receiver.finish()) return receiver.cut();
  if (!logFiles && receiver.started() == 0) {
    FX_LOG(-1, "Client failed to send DCTmp file");
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "DCTmp was found missing in Client");
  }
  FX_LOG(3, logFiles ? "All done" : "Dir Change file download completed.");
  return receiver.failure();
}

CWqError ProxyServicesPrivate::receiveFiles(bool logFiles, const std::string& destination) {
  return ReceiveDownload(*m_pConnection, logFiles, destination, [this] { closeLink(); });
}

CWqError ProxyServicesPrivate::downloadLogFiles(const std::string& destDir, unsigned long logRequest) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::downloadLogFiles failed");
  FX_LOG(3, "Starting log download ...");
  ClDownloadLogFile request(static_cast<unsigned int>(logRequest), 0);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);
  return receiveFiles(true, destDir);
}

CWqError ProxyServicesPrivate::downloadDirChangeFile(const std::string& destPath, int first, int second,
                                                     unsigned long third) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "downloadDirChangeFile failed");
  FX_LOG(3, "Starting dir change download ...");
  ClDownloadDirChangeFile request(first, second, third);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);
  return receiveFiles(false, destPath);
}
