// The unscripted file mode and the drain mode of the simulated restore
// program (SimRestoreProgram.h).
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "ClBasicMsgs.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"
#include "SimRestoreFiles.h"
#include "SimRestoreProgram.h"

namespace SimRestoreProgram {

namespace {

const int kPollMs = 50;

bool LinkEnded(const CWqError& error) {
  return FXErrorUtil::IsErrNo(error, ENOTCONN) || FXErrorUtil::IsErrNo(error, ECONNRESET) ||
         FXErrorUtil::IsErrNo(error, EPIPE) || FXErrorUtil::IsErrNo(error, ECANCELED) ||
         FXErrorUtil::IsErrNo(error, EBADF);
}

CWqError End(const CWqError& result) { return LinkEnded(result) ? CWqError::Success() : result; }

CWqError AnswerBaseDir(SimPeer& peer, const Options& options) {
  ClBlobMsg baseDir(CLIENT_BASE_DIR_MSG, ClBlobMsg::Copy, options.baseDir.data(),
                    static_cast<uint32_t>(options.baseDir.size()));
  return peer.Send(baseDir);
}

// The next message of the proxy. Data blocks are not recorded (a restore
// may move more than a record should hold); everything else is. A frame the
// link cannot make into a message is skipped, as a client would.
CWqError ReceiveStream(SimPeer& peer, std::shared_ptr<ClProxyMsg>& message) {
  for (;;) {
    if (peer.IsStopping()) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
    ClProxyMsg* raw = nullptr;
    bool dropped = false;
    ClProxyMsgHeader header;
    CWqError result = peer.Connection().recvAnyMessage(raw, -1, dropped, header);
    if (!result.IsError()) {
      message.reset(raw);
      if (message->getMsgType() != FILE_DATA_MSG) peer.Recorder().AddReceived(message);
      return result;
    }
    if (dropped) continue;
    if (!FXErrorUtil::IsErrNo(result, ETIME)) return result;
    pollfd fd;
    fd.fd = peer.Connection().getConnectionSocket().GetSocketDescriptor();
    fd.events = POLLIN;
    fd.revents = 0;
    if (::poll(&fd, 1, kPollMs) < 0 && errno != EINTR)
      return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "poll failed: %s", std::strerror(errno));
  }
}

// Exactly `size` bytes from the socket, waiting in short polls so that a
// stopping daemon is noticed. ECONNRESET for an end of stream.
CWqError ReadExactly(SimPeer& peer, int fd, uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, data + got, size - got, MSG_DONTWAIT);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ECONNRESET, "The proxy closed the link");
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "recv failed");
    if (peer.IsStopping()) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
    pollfd wait;
    wait.fd = fd;
    wait.events = POLLIN;
    wait.revents = 0;
    ::poll(&wait, 1, kPollMs);
  }
  return CWqError::Success();
}

}  // namespace

SimScript Files(const std::string& root, const Options& options) {
  return SimScript().Call([root, options](SimPeer& peer) {
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>{JOB_START_MSG}, SimScript::kDefaultExpectSeconds);
    if (!result.IsError()) result = AnswerBaseDir(peer, options);
    SimRestoreFiles files(root);
    bool done = false;
    std::vector<std::shared_ptr<ClProxyMsg>> replies;
    while (!result.IsError() && !done) {
      std::shared_ptr<ClProxyMsg> message;
      result = ReceiveStream(peer, message);
      if (result.IsError()) break;
      replies.clear();
      files.Handle(*message, replies, done);
      for (const std::shared_ptr<ClProxyMsg>& reply : replies) {
        result = peer.Send(*reply);
        if (result.IsError()) break;
      }
    }
    return End(result);
  });
}

SimScript Drain(std::shared_ptr<DrainCount> count, const Options& options) {
  return SimScript().Call([count, options](SimPeer& peer) {
    const int fd = peer.Connection().getConnectionSocket().GetSocketDescriptor();
    std::vector<uint8_t> payload(64 * 1024);
    CWqError result;
    while (!result.IsError()) {
      uint8_t bytes[ClProxyWire::kHeaderSize];
      result = ReadExactly(peer, fd, bytes, sizeof bytes);
      if (result.IsError()) break;
      ClProxyWire::FrameHeader header;
      if (!ClProxyWire::DecodeHeader(bytes, header)) {
        result = FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "A frame without its marker");
        break;
      }
      if (header.length > payload.size()) payload.resize(header.length);
      result = ReadExactly(peer, fd, payload.data(), header.length);
      if (result.IsError()) break;
      count->frames.fetch_add(1, std::memory_order_relaxed);
      if (header.type == FILE_DATA_MSG) {
        count->dataBlocks.fetch_add(1, std::memory_order_relaxed);
        count->dataBytes.fetch_add(header.length, std::memory_order_relaxed);
      } else if (header.type == JOB_START_MSG) {
        result = AnswerBaseDir(peer, options);
      } else if (header.type == JOB_COMPLETE_MSG) {
        ClEmptyMsg end(GOOD_EOF_MSG);
        result = peer.Send(end);
        break;
      }
    }
    return End(result);
  });
}

}  // namespace SimRestoreProgram
