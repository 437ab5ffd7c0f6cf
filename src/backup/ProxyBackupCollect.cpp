// Job start with the control port, the collect-file announcements (with the
// synthetic-full collect file's content) and the job completion.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxySerializer.h"
#include "ClProxyTimeouts.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ProxyBackup.h"
#include "ProxyFileUtil.h"

namespace {

const size_t kCollectBlockSize = 0x40000;

CWqError NoLink(const FXCodeLocation& where) {
  return FXErrorUtil::ErrorErrNo(where, ENOTCONN, "No connection to the client program: init has not set it up");
}

}  // namespace

CWqError ProxyBackup::DecodeControlPort(const ClBlobMsg& msg, uint32_t& port) {
  uint32_t offset = 0;
  uint32_t value = 0;
  if (ClProxySerializer::deserialize(msg.getBlob(), msg.getBlobSize(), offset, value) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Control port message of %u bytes holds no port",
                                   msg.getBlobSize());
  port = value;
  return CWqError::Success();
}

CWqError ProxyBackup::sendJobStart(bool waitForControlPort) {
  CWqError result = Proxy::sendJobStart();
  if (result.IsError()) {
    result.Push(FX_HERE);
    return result;
  }
  if ((m_bSyncBackup || m_bVTLBackup) && waitForControlPort) {
    FX_LOG(0, "m_bSyncBackup=%d. Wait for CTL port", m_bSyncBackup ? 1 : 0);
    static const std::vector<ClProxyMsgType> kPortTypes = {BACKUP_CONTROL_PORT_MSG, EVENT_MSG};
    std::unique_ptr<ClProxyMsg> message;
    for (;;) {
      ClProxyMsg* raw = nullptr;
      result = m_pSrvConnection->recvMessage(raw, kPortTypes, getTimeOutValue(TIMEOUT_CONTROL_PORT));
      message.reset(raw);
      if (result.IsError()) {
        result.Push(FX_HERE);
        return result;
      }
      if (message->getMsgType() != EVENT_MSG) break;
      if (const ClEventMsg* event = dynamic_cast<const ClEventMsg*>(message.get())) event->sendEvent();
    }
    const ClBlobMsg* portMsg = dynamic_cast<const ClBlobMsg*>(message.get());
    if (!portMsg)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Control port message of an unexpected class");
    // A port that did not arrive must not go out with every collect file.
    uint32_t port = 0;
    result = DecodeControlPort(*portMsg, port);
    if (result.IsError()) return result;
    m_nControlPort = port;
    FX_LOG(0, "KXBKPCTL port number is %d", static_cast<int>(m_nControlPort));
  }
  m_sCachedGUID.clear();
  return CWqError::Success();
}

CWqError ProxyBackup::recvCollectFileRequest() {
  ClProxyMsg* raw = nullptr;
  CWqError result =
      m_pSrvConnection->recvMessage(raw, COLLECT_FILE_REQUEST_MSG, getTimeOutValue(TIMEOUT_COLLECT_FILE_REQUEST));
  delete raw;
  if (result.IsError()) result.Push(FX_HERE, "Failed to receive collect file request message");
  return result;
}

CWqError ProxyBackup::sendCollectFile(unsigned int collectNum, unsigned long restartOffset) {
  if (!m_pSrvConnection) return NoLink(FX_HERE);
  m_sCachedGUID.clear();
  CWqError result = recvCollectFileRequest();
  if (result.IsError()) return result;
  unsigned int number = collectNum;
  if (m_bSyncBackup || m_bVTLBackup) {
    number = m_nControlPort;
    FX_LOG(0, "Will send port number %u", number);
  }
  ClCollectFileMsg announcement(static_cast<int32_t>(number), restartOffset);
  result = m_pSrvConnection->sendMessage(&announcement);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to send collect file message");
    return result;
  }
  FX_LOG(4, "Sent collect file message, collectNum=%u, restartOffset=%llu", number,
         static_cast<unsigned long long>(restartOffset));
  return CWqError::Success();
}

CWqError ProxyBackup::sendSCCollectFile() {
  if (!m_pSrvConnection) return NoLink(FX_HERE);
  m_sCachedGUID.clear();
  CWqError result = recvCollectFileRequest();
  if (result.IsError()) return result;
  ClEmptyMsg announcement(SC_COLLECT_FILE_MSG);
  result = m_pSrvConnection->sendMessage(&announcement);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to send collect file message");
    return result;
  }
  FX_LOG(4, "Sent SC collect file message");
  return CWqError::Success();
}

CWqError ProxyBackup::sendSyntheticFullCollectFile(const std::string& path, unsigned short number) {
  if (!m_pSrvConnection) return NoLink(FX_HERE);
  m_sCachedGUID.clear();
  CWqError result = recvCollectFileRequest();
  if (result.IsError()) return result;
  ClSyntheticFullCollectFileMsg announcement(static_cast<int32_t>(number));
  result = m_pSrvConnection->sendMessage(&announcement);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to send collect file message");
    return result;
  }
  return sendCollectFileData(path);
}

CWqError ProxyBackup::sendCollectFileData(const std::string& path) {
  // A file that cannot be opened is a failure whatever the error number:
  // an empty file ended by GOOD_EOF would drop the whole collect file.
  ProxyFileUtil::ScopedDescriptor file(ProxyFileUtil::OpenForReading(path));
  if (!file.IsOpen()) {
    const int errNo = errno ? errno : EIO;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Unable open collect file [%s]", path.c_str());
  }
  std::unique_ptr<uint8_t, ClMallocFree> buffer(static_cast<uint8_t*>(std::malloc(kCollectBlockSize)));
  if (!buffer) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory to read collect file [%s]", path.c_str());

  // Each block is filled before it goes (a FIFO or pipe hands out less per
  // read): only the last one may be short.
  bool atEnd = false;
  while (!atEnd) {
    size_t filled = 0;
    int readErrNo = 0;
    while (filled < kCollectBlockSize) {
      const ssize_t got = ProxyFileUtil::ReadSome(file.Get(), buffer.get() + filled, kCollectBlockSize - filled);
      if (got == 0) {
        atEnd = true;
        break;
      }
      if (got < 0) {
        readErrNo = errno ? errno : EIO;
        break;
      }
      filled += static_cast<size_t>(got);
    }
    CWqError sent;
    if (filled > 0) {
      ClBlobMsg block(FILE_DATA_MSG, ClBlobMsg::Borrow, buffer.get(), static_cast<uint32_t>(filled));
      sent = m_pSrvConnection->sendMessage(&block);
    }
    if (readErrNo != 0 && !sent.IsError()) {
      file.Close();
      buffer.reset();
      // What was read went out; the client is told why the file broke off:
      // the read's own error.
      CWqError readError =
          FXErrorUtil::ErrorErrNo(FX_HERE, readErrNo, "Failed to read data from file %s", path.c_str());
      ClBadEofMsg badEof(readError.AsString());
      m_pSrvConnection->sendMessage(&badEof);
      FX_LOG(3, "sent bad eof for collect file");
      return readError;
    }
    if (sent.IsError()) {
      file.Close();
      buffer.reset();
      ClBadEofMsg badEof(sent.AsString());
      m_pSrvConnection->sendMessage(&badEof);
      FX_LOG(3, "sent bad eof for collect file");
      sent.Push(FX_HERE, "Failed to send data for file %s", path.c_str());
      return sent;
    }
    if (filled > 0) FX_LOG(3, "sent %zu of collect file", filled);
  }
  file.Close();
  buffer.reset();
  ClEmptyMsg goodEof(GOOD_EOF_MSG);
  CWqError result = m_pSrvConnection->sendMessage(&goodEof);
  if (result.IsError()) {
    const std::string text = result.AsString();
    result.Push(FX_HERE, "Failed to send EOF. %s", text.c_str());
    return result;
  }
  FX_LOG(3, "sent good eof for collect file");
  return CWqError::Success();
}

CWqError ProxyBackup::sendJobComplete() {
  if (!m_pSrvConnection) return NoLink(FX_HERE);
  CWqError result = recvCollectFileRequest();
  if (result.IsError()) return result;
  FX_LOG(0, "Sending job completion message");
  ClEmptyMsg complete(JOB_COMPLETE_MSG);
  result = m_pSrvConnection->sendMessage(&complete);
  if (result.IsError()) {
    result.Push(FX_HERE, "Failed to send job completion message");
    return result;
  }
  return CWqError::Success();
}
