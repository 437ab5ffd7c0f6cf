// Log and directory-change downloads: a request, then the client's
// file-transfer sequence (a header starts a file, data follows, the job
// completion ends the download).
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "ClBasicMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyTimeouts.h"
#include "ClServiceMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXPath.h"
#include "ProxyServicesPrivate.h"

namespace {

// A name the client sends for a log file: one plain component, so that the
// file lands in the destination folder and nowhere else.
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// One download's receiving side.
class Receiver {
 public:
  explicit Receiver(bool logFiles) : m_bLogFiles(logFiles) {}
  ~Receiver() { close(); }

  // Starts the file at `path` (truncating it); a file that cannot be opened
  // is remembered as the download's failure and its data dropped.
  void start(const std::string& path) {
    close();
    m_sPath = path;
    FX_LOG(3, "will receive data to %s", path.c_str());
    std::string parent, last;
    FXPath::SplitParentPath(path, parent, last);
    if (!parent.empty() && !FXPath::DoesPathExist(parent)) {
      FX_LOG(3, "destination folder does not exists. will create %s", parent.c_str());
      CWqDirectory::Create(parent, true);
    }
    m_file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    FX_LOG(3, m_bLogFiles ? "Create client's log file [%s]" : "Downloading client's DCTmp file [%s]", path.c_str());
    if (!m_file.is_open()) fail(EACCES, "Cannot create [%s]", path);
  }
  void refuse(const std::string& name) {
    close();
    m_sPath.clear();
    FX_LOG(-1, "Refusing the client's log file name [%s]: it would leave the destination folder", name.c_str());
    fail(EACCES, "The client's log file name [%s] was refused", name);
  }
  void write(const ClBlobMsg& block) {
    if (!m_file.is_open()) return;  // data before any header, or of a refused file
    m_file.write(reinterpret_cast<const char*>(block.getBlob()), block.getBlobSize());
    if (!m_file) {
      fail(EIO, "Cannot write [%s]", m_sPath);
      m_file.close();
    }
  }
  void close() {
    if (!m_file.is_open()) return;
    m_file.close();
    if (m_file.fail()) fail(EIO, "Cannot write [%s]", m_sPath);
  }
  const std::string& path() const { return m_sPath; }
  const CWqError& failure() const { return m_failure; }

 private:
  void fail(int errNo, const char* format, const std::string& what) {
    FX_LOG(-1, format, what.c_str());
    if (!m_failure.IsError()) m_failure = FXErrorUtil::ErrorErrNo(FX_HERE, errNo, format, what.c_str());
  }

  const bool m_bLogFiles;
  std::string m_sPath;
  std::ofstream m_file;
  CWqError m_failure;
};

}  // namespace

CWqError ProxyServicesPrivate::downloadLogFiles(const std::string& destDir, unsigned long logRequest) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "MachineBrowseResp::downloadLogFiles failed");
  FX_LOG(3, "Starting log download ...");
  ClDownloadLogFile request(static_cast<unsigned int>(logRequest), 0);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);

  Receiver receiver(true);
  for (;;) {
    ClProxyMsg* received = nullptr;
    result = receive(received, {}, getTimeOutValue(TIMEOUT_DOWNLOAD));
    std::unique_ptr<ClProxyMsg> message(received);
    if (result.IsError()) {
      FX_LOG(-1, "%s", result.AsString().c_str());
      return result;
    }
    const ClProxyMsgType type = message->getMsgType();
    if (type == JOB_COMPLETE_MSG) break;
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    if (type == FILE_HEADER_MSG && blob) {
      const std::string name(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
      if (PlainName(name)) receiver.start(FXPath::Append(destDir, name, 0));
      else receiver.refuse(name);
    } else if (type == FILE_DATA_MSG && blob) {
      receiver.write(*blob);
    } else {
      FX_LOG(-1, "%s:unknown message:%d", receiver.path().c_str(), static_cast<int>(type));
    }
  }
  FX_LOG(3, "All done");
  receiver.close();
  return receiver.failure();
}

CWqError ProxyServicesPrivate::downloadDirChangeFile(const std::string& destPath, int first, int second,
                                                     unsigned long third) {
  auto_lock lock(&m_mutex);
  if (!linkOpen()) return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "downloadDirChangeFile failed");
  FX_LOG(3, "Starting dir change download ...");
  ClDownloadDirChangeFile request(first, second, third);
  CWqError result = send(request);
  if (result.IsError()) return result.Push(FX_HERE);

  Receiver receiver(false);
  for (;;) {
    ClProxyMsg* received = nullptr;
    result = receive(received, {}, getTimeOutValue(TIMEOUT_DOWNLOAD));
    std::unique_ptr<ClProxyMsg> message(received);
    if (result.IsError()) {
      FX_LOG(-1, "%s", result.AsString().c_str());
      return result;
    }
    const ClProxyMsgType type = message->getMsgType();
    if (type == JOB_COMPLETE_MSG) break;
    if (type == BAD_EOF_MSG) {
      FX_LOG(-1, "Client failed to send DCTmp file");
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "DCTmp was found missing in Client");
    }
    const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(message.get());
    if (type == FILE_HEADER_MSG) {
      receiver.start(destPath);
    } else if (type == FILE_DATA_MSG && blob) {
      receiver.write(*blob);
    } else {
      FX_LOG(-1, "%s:unknown message:%d", receiver.path().c_str(), static_cast<int>(type));
    }
  }
  FX_LOG(3, "Dir Change file download completed.");
  receiver.close();
  return receiver.failure();
}
