// The receiver thread: its start and stop, the loop, and the handling of one
// received message that the loop and the completion wait share.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "ClBasicMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyTimeouts.h"
#include "CWqSocketSelector.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ISendEventInterface.h"
#include "ProxyRestore.h"

namespace {

const uint32_t kErrorOutOfMemory = 14;
const uint32_t kErrorFunctionFailed = 1627;
const uint32_t kWsaEintr = 10004;

}  // namespace

CWqError ProxyRestore::startReceiverThread() {
  std::lock_guard<std::mutex> lock(m_stopMutex);
  if (receiverThread) return CWqError::Success();
  receiverThread.reset(new (std::nothrow) KXThread);
  if (!receiverThread) return FXErrorUtil::ErrorWin32(FX_HERE, kErrorOutOfMemory, "Failed create thread object");
  // Close-on-exec: a process the host starts meanwhile must not keep the pipe.
  if (::pipe2(stopPipe, O_CLOEXEC) != 0) {
    const int errNo = errno;
    receiverThread.reset();
    stopPipe[0] = stopPipe[1] = -1;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Failed create pipe object for receiver thread");
  }
  m_receiverRunning.store(true, std::memory_order_release);
  if (!receiverThread->createThread(&ProxyRestore::staticReceiverThread, this)) {
    m_receiverRunning.store(false, std::memory_order_release);
    const std::string text = receiverThread->getLastError();
    receiverThread.reset();
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    stopPipe[0] = stopPipe[1] = -1;
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorFunctionFailed, "Failed create receiver thread:%s", text.c_str());
  }
  return CWqError::Success();
}

void* ProxyRestore::staticReceiverThread(void* restore) {
  ProxyRestore* self = static_cast<ProxyRestore*>(restore);
  CWqError result = self->handleIncomingMessage();
  if (result.IsError()) FX_LOG(-1, "%s", result.AsString().c_str());
  FX_LOG(2, "Receiver thread finished for proxy connection.");
  // Released after everything the thread did to the link: a host that sees
  // it cleared may look at the link again.
  self->m_receiverRunning.store(false, std::memory_order_release);
  self->m_statusChanged.Set();
  return nullptr;
}

CWqError ProxyRestore::stopReceiverThread() {
  std::lock_guard<std::mutex> lock(m_stopMutex);
  // A completion wait in progress ends too (the host's way to end a restore
  // whose program hangs with its link open).
  if (m_completionWake[1] >= 0) {
    const char stop = '1';
    ssize_t written = ::write(m_completionWake[1], &stop, 1);
    (void)written;
  }
  stopReceiverLocked();
  return CWqError::Success();
}

void ProxyRestore::stopReceiverLocked() {
  if (!receiverThread) return;
  // Written whether the thread still runs or not: one that has not reached
  // its wait yet sees the byte there and ends, so the join never hangs.
  if (stopPipe[1] >= 0) {
    const char stop = '1';
    ssize_t written = ::write(stopPipe[1], &stop, 1);
    (void)written;
  }
  receiverThread->joinThread(0, nullptr);
  receiverThread.reset();
  ::close(stopPipe[0]);
  ::close(stopPipe[1]);
  stopPipe[0] = stopPipe[1] = -1;
}

void ProxyRestore::failReceiver(const CWqError& error) {
  receiverError = error;
  receiverFailed.store(true, std::memory_order_release);
  m_statusChanged.Set();
}

CWqError ProxyRestore::handleIncomingMessage() {
  ClProxyConnection* link = m_pSrvConnection.get();
  if (!link) {
    CWqError error = FXErrorUtil::ErrorWin32(FX_HERE, 2250, "The restore program is not connected");
    failReceiver(error);
    return error;
  }
  // A plain value around the pipe's read end: nothing closes it but
  // stopReceiverThread.
  CWqSocket pipeSocket;
  pipeSocket.AttachConnectedSocket(CWqSocketDescriptor(stopPipe[0]));
  CWqSocketSelector selector;
  bool stop = false;
  while (!stop && !receiverFailed.load(std::memory_order_acquire)) {
    if (m_receiverSeam) m_receiverSeam(kBeforeWait);
    const CWqSocket linkSocket = link->getConnectionSocket();
    selector.ClearAll();
    selector.SetReadSocket(pipeSocket);
    selector.SetReadSocket(linkSocket);
    // No limit: the pipe wakes the wait for a stop, the link for a message.
    CWqError result = selector.Select(-1);
    if (result.IsError()) {
      if (FXErrorUtil::IsErrNo(result, EINTR) || FXErrorUtil::IsWin32(result, kWsaEintr)) continue;
      FX_LOG(-1, "select failed. %s", result.AsString(ERROR_OUTPUT_ONE_LINE).c_str());
      failReceiver(result.Copy());
      return result.Push(FX_HERE);
    }
    for (const CWqSocket& ready : selector.GetReadSelected()) {
      if (ready == pipeSocket) {
        FX_LOG(3, "thread stop signaled");
        stop = true;
        continue;
      }
      if (ready != linkSocket || receiverFailed.load(std::memory_order_acquire)) continue;
      // Only what has arrived: a frame still coming stays in the link.
      ClProxyMsg* raw = nullptr;
      bool dropped = false;
      ClProxyMsgHeader header;
      result = link->recvAnyMessage(raw, -1, dropped, header);
      std::unique_ptr<ClProxyMsg> msg(raw);
      if (result.IsError()) {
        if (FXErrorUtil::IsErrNo(result, ETIME)) continue;
        if (dropped) {
          result = handleDroppedFrame(header, kReceiverSite);
        } else {
          FX_LOG(-1, "Failed to receive message from client: %s", result.AsString(ERROR_OUTPUT_ONE_LINE).c_str());
        }
        if (result.IsError()) failReceiver(result);
      } else {
        bool finished = false;
        result = handleRestoreMessage(*msg, kReceiverSite, finished);
        if (result.IsError()) failReceiver(result);
        if (finished) stop = true;
      }
      if (m_receiverSeam) m_receiverSeam(kAfterMessage);
    }
  }
  return CWqError::Success();
}

CWqError ProxyRestore::handleDroppedFrame(const ClProxyMsgHeader& header, MessageSite site) {
  const unsigned type = static_cast<unsigned>(header.getMsgType());
  if (header.getMsgType() == FAILED_FILE_MSG) {
    // A failure the client reported and nobody could read: the restore can
    // no longer say which files it restored.
    FX_LOG(-1, "Malformed failed-file report from client (%u bytes)", header.getPayloadLength());
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Failed-file report of %u bytes from the client does not decode",
                                   header.getPayloadLength());
  }
  if (site == kCompletionSite) {
    FX_LOG(0, "Unexpected result from client type=%d", type);
    return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Unexpected result from client type=%d", type);
  }
  if (header.getMsgType() == TAPE_INFO_MSG) {
    // The client waits for an answer to its request: tell it the request was
    // not understood instead of leaving it waiting.
    FX_LOG(-1, "Malformed next-volume request from client (%u bytes)", header.getPayloadLength());
    ClBadEofMsg answer("Malformed next-volume request");
    CWqError sent = sendToProgram(answer);
    if (sent.IsError()) FX_LOG(-1, "Failed to answer a malformed next-volume request: %s", sent.AsString().c_str());
    return CWqError::Success();
  }
  FX_LOG(0, "Unexpected message from client type=0x%X", type);
  return CWqError::Success();
}

CWqError ProxyRestore::handleRestoreMessage(ClProxyMsg& msg, MessageSite site, bool& finished) {
  const bool completion = site == kCompletionSite;
  switch (msg.getMsgType()) {
    case TAPE_CLOSE_MSG:
      // Later offsets still need the receiver: logged, not an end.
      FX_LOG(0, "client finished processing current offsets");
      return CWqError::Success();
    case DISK_FULL_MSG:
      diskFull.store(true, std::memory_order_release);
      m_statusChanged.Set();
      if (completion) {
        FX_LOG(-1, "Disk full error received");
        return FXErrorUtil::ErrorErrNo(FX_HERE, ENOSPC, "Disk full error reported");
      }
      FX_LOG(-1, "Disk FULL error from client");
      return CWqError::Success();
    case SERVICE_CHECK_MSG:
      if (!completion) return CWqError::Success();
      break;
    case GOOD_EOF_MSG:
      if (completion) FX_LOG(0, "Client restore complete");
      finished = true;
      return CWqError::Success();
    case FILE_DATA_NOT_NEEDED_MSG: {
      if (completion) return CWqError::Success();
      const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(&msg);
      if (!blob) return CWqError::Success();
      RestoreStatus status;
      status.itemName.assign(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
      status.itemStatus = kStatusDataNotNeeded;
      status.origin = RestoreStatus::kDataNotNeeded;
      appendStatus(status);
      FX_LOG(0, "file [%s] don't need data anymore", status.itemName.c_str());
      return CWqError::Success();
    }
    case ITEM_STATUS_MSG: {
      FX_LOG(3, "Got status message.");
      CWqError result = processItemsStatusMessages(&msg);
      if (result.IsError()) result.Push(FX_HERE);
      return result;
    }
    case TAPE_INFO_MSG: {
      ClTapeInfoMsg* request = dynamic_cast<ClTapeInfoMsg*>(&msg);
      if (!request) return CWqError::Success();
      CWqError result = handleNextTapeMessage(request);
      if (result.IsError())
        FX_LOG(-1, "Error while processing next tape request: %s", result.AsString(ERROR_OUTPUT_ONE_LINE).c_str());
      return CWqError::Success();
    }
    case FAILED_FILE_MSG: {
      const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(&msg);
      if (!failed) return CWqError::Success();
      RestoreStatus status;
      int code = 0;
      failed->get(status.itemName, code, status.itemMessage);
      status.itemStatus = static_cast<uint32_t>(code);
      status.origin = RestoreStatus::kFailedFile;
      FX_LOG(completion ? -1 : 2, "file [%s] error %d:%s", status.itemName.c_str(), code, status.itemMessage.c_str());
      appendStatus(status);
      return CWqError::Success();
    }
    case EVENT_MSG: {
      const ClEventMsg* event = dynamic_cast<const ClEventMsg*>(&msg);
      if (!event) {
        FX_LOG(-1, "Not instance of ClEventMsg");
        return CWqError::Success();
      }
      FX_LOG(3, "Got EVENT_MSG event %d", static_cast<int>(event->getEventID()));
      // The host's sender when it installed one; else one of this job's own,
      // never installed over anybody's.
      boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
      if (sender) {
        event->sendEvent(*sender);
      } else {
        if (!m_pOwnEventSender) m_pOwnEventSender.reset(new CProxyFileSystemSendEvents(m_ullJobId, nullptr));
        event->sendEvent(*m_pOwnEventSender);
      }
      return CWqError::Success();
    }
    default:
      if (!completion) {
        FX_LOG(0, "Unexpected message from client type=0x%X", static_cast<unsigned>(msg.getMsgType()));
        return CWqError::Success();
      }
      break;
  }
  const int type = static_cast<int>(msg.getMsgType());
  FX_LOG(0, "Unexpected result from client type=%d", type);
  return FXErrorUtil::ErrorErrNo(FX_HERE, EFAULT, "Unexpected result from client type=%d", type);
}

CWqError ProxyRestore::openCompletionWake() {
  std::lock_guard<std::mutex> lock(m_stopMutex);
  if (::pipe2(m_completionWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int errNo = errno;
    m_completionWake[0] = m_completionWake[1] = -1;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Failed create pipe object for the completion wait");
  }
  stopReceiverLocked();
  return CWqError::Success();
}

void ProxyRestore::closeCompletionWake() {
  std::lock_guard<std::mutex> lock(m_stopMutex);
  ::close(m_completionWake[0]);
  ::close(m_completionWake[1]);
  m_completionWake[0] = m_completionWake[1] = -1;
}

CWqError ProxyRestore::sendJobComplete() {
  // From here on a stopReceiverThread from another thread ends the wait.
  CWqError result = openCompletionWake();
  if (result.IsError()) return result.Push(FX_HERE);
  result = completeJob();
  closeCompletionWake();
  return result;
}

CWqError ProxyRestore::completeJob() {
  FX_LOG(0, "Discarded %llu bytes during this job", static_cast<unsigned long long>(discardedBytes));
  CWqError result;
  if (!preHeaderHeadName.empty()) {
    result = pushPreHeadersToClient();
    if (result.IsError()) return result.Push(FX_HERE);
  }
  ClEmptyMsg complete(JOB_COMPLETE_MSG);
  const CWqError sent = sendToProgram(complete);
  if (!programConnected()) {
    // A link the receiver saw break: its error says why.
    if (receiverFailed.load(std::memory_order_acquire)) return receiverError.Copy().Push(FX_HERE);
    return sent;
  }
  ClProxyConnection& link = *m_pSrvConnection;
  // A probe after each TIMEOUT_RESTORE_COMPLETE without a message (0: no
  // probes); no overall limit, but the host's stop ends the wait. The wait
  // is a real poll on the client's link, so the interval is kept on the real
  // clock too: a virtual clock that nothing moves would never send a probe.
  const int seconds = getTimeOutValue(TIMEOUT_RESTORE_COMPLETE);
  FXRealClock clock;
  int64_t probeAtMs = clock.MonotonicMs() + static_cast<int64_t>(seconds) * 1000;
  for (bool finished = false; !finished;) {
    ClProxyMsg* raw = nullptr;
    bool dropped = false;
    ClProxyMsgHeader header;
    // Only what has arrived: the wait below covers the stop as well.
    result = link.recvAnyMessage(raw, -1, dropped, header);
    std::unique_ptr<ClProxyMsg> msg(raw);
    if (!result.IsError()) {
      result = handleRestoreMessage(*msg, kCompletionSite, finished);
      if (result.IsError()) return result.Push(FX_HERE);
      probeAtMs = clock.MonotonicMs() + static_cast<int64_t>(seconds) * 1000;
      continue;
    }
    if (!FXErrorUtil::IsErrNo(result, ETIME) && !FXErrorUtil::IsInt(result, 15)) {
      if (dropped) result = handleDroppedFrame(header, kCompletionSite);
      return result.Push(FX_HERE);
    }
    int waitMs = -1;
    if (seconds > 0) {
      const int64_t leftMs = probeAtMs - clock.MonotonicMs();
      if (leftMs <= 0) {
        ClEmptyMsg probe(SERVICE_CHECK_MSG);
        CWqError probed = sendToProgram(probe);
        if (probed.IsError()) {
          FX_LOG(-1, "Failed to send service check:%s", probed.AsString(ERROR_OUTPUT_ONE_LINE).c_str());
          return probed.Push(FX_HERE);
        }
        probeAtMs = clock.MonotonicMs() + static_cast<int64_t>(seconds) * 1000;
        continue;
      }
      waitMs = leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
    }
    pollfd fds[2];
    fds[0].fd = link.getConnectionSocket().GetSocketDescriptor();
    fds[0].events = POLLIN;
    fds[0].revents = 0;
    fds[1].fd = m_completionWake[0];
    fds[1].events = POLLIN;
    fds[1].revents = 0;
    if (::poll(fds, 2, waitMs) < 0) {
      const int errNo = errno;
      if (errNo == EINTR) continue;
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Wait for the client's end of the restore failed: %s",
                                     std::strerror(errNo));
    }
    if (fds[1].revents != 0) {
      FX_LOG(-1, "The wait for the client's end of the restore was stopped");
      return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED,
                                     "The wait for the client's end of the restore was stopped by the host");
    }
  }
  if (sent.IsError()) return sent;
  // A full disk or a failed receiver is never reported as a good restore.
  if (diskFull.load(std::memory_order_acquire))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOSPC, "Disk full error reported");
  if (receiverFailed.load(std::memory_order_acquire)) return receiverError.Copy().Push(FX_HERE);
  return CWqError::Success();
}
