// The unscripted file mode and the drain mode of the simulated restore
// program (SimRestoreProgram.h).
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
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
    return SimProgramEnd(result);
  });
}

SimScript Drain(std::shared_ptr<DrainCount> count, const Options& options) {
  return SimScript().Call([count, options](SimPeer& peer) {
    const int fd = peer.Connection().getConnectionSocket().GetSocketDescriptor();
    // Blocking reads that give up now and then, so that a stopping daemon is
    // noticed; as many frames per read as have arrived.
    timeval wait;
    wait.tv_sec = 0;
    wait.tv_usec = kPollMs * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<uint8_t> buffer(256 * 1024);
    size_t have = 0;
    bool inPayload = false;
    uint16_t type = 0;
    uint64_t left = 0;
    for (;;) {
      const ssize_t n = ::recv(fd, buffer.data() + have, buffer.size() - have, 0);
      if (n == 0) return CWqError::Success();  // the proxy closed the link
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return SimProgramEnd(FXErrorUtil::ErrorErrNo(FX_HERE, errno, "recv failed"));
        if (peer.IsStopping()) return CWqError::Success();
        continue;
      }
      have += static_cast<size_t>(n);
      size_t at = 0;
      // Counted here and published once per read, not per frame.
      uint64_t frames = 0, dataBlocks = 0, dataBytes = 0;
      auto publish = [&] {
        count->frames.fetch_add(frames, std::memory_order_relaxed);
        count->dataBlocks.fetch_add(dataBlocks, std::memory_order_relaxed);
        count->dataBytes.fetch_add(dataBytes, std::memory_order_relaxed);
      };
      for (;;) {
        if (!inPayload) {
          if (have - at < ClProxyWire::kHeaderSize) break;
          ClProxyWire::FrameHeader header;
          if (!ClProxyWire::DecodeHeader(buffer.data() + at, header))
            return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "A frame without its marker");
          at += ClProxyWire::kHeaderSize;
          type = header.type;
          left = header.length;
          inPayload = true;
          ++frames;
          if (type == FILE_DATA_MSG) ++dataBlocks;
        }
        const size_t take = static_cast<size_t>(std::min<uint64_t>(left, have - at));
        at += take;
        left -= take;
        if (type == FILE_DATA_MSG) dataBytes += take;
        if (left > 0) break;
        inPayload = false;
        CWqError result;
        if (type == JOB_START_MSG) {
          result = AnswerBaseDir(peer, options);
        } else if (type == JOB_COMPLETE_MSG) {
          publish();
          ClEmptyMsg end(GOOD_EOF_MSG);
          return SimProgramEnd(peer.Send(end));
        }
        if (result.IsError()) return SimProgramEnd(result);
      }
      publish();
      // Only part of a frame header can remain.
      std::memmove(buffer.data(), buffer.data() + at, have - at);
      have -= at;
    }
  });
}

}  // namespace SimRestoreProgram
