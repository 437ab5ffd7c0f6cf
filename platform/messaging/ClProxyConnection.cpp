#include "ClProxyConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "ClProxyMsgFactory.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"

void initUseRecvWithTimeout() {}

namespace {

bool Accepts(const ClProxyMsgType* types, size_t count, uint16_t type) {
  if (!types) return true;
  for (size_t i = 0; i < count; ++i)
    if (types[i] == type) return true;
  return false;
}

std::string TypeList(const ClProxyMsgType* types, size_t count) {
  std::string text;
  char one[16];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(one, sizeof one, "%s0x%04x", i ? ", " : "", static_cast<unsigned>(types[i]));
    text += one;
  }
  return text;
}

}  // namespace

ClProxyConnection::ClProxyConnection()
    : m_bPrePipelineEnabled(false),
      m_bDisconnectOnDelete(true),
      m_uMaxPayload(ClProxyWire::kDefaultMaxPayload) {}

ClProxyConnection::~ClProxyConnection() {
  if (m_bDisconnectOnDelete && m_connectionSocket.IsValid()) {
    CWqError closed = m_connectionSocket.Close();
    if (closed.IsError())
      FX_LOG_CAT(1, FX_LOG_CATEGORY_CONNECTION, "Closing the connection failed: %s",
                 closed.AsString().c_str());
  }
}

std::string ClProxyConnection::remoteHost() const { return m_sRemoteHost; }

void ClProxyConnection::setRemoteHost(const std::string& host) { m_sRemoteHost = host; }

// ---------------------------------------------------------------- sending

namespace {

// Writes one frame; `sent` tells how much of it went out, also on failure.
CWqError WriteFrame(int descriptor, uint16_t type, const uint8_t* payload, uint32_t length, size_t& sent) {
  uint8_t header[ClProxyWire::kHeaderSize];
  ClProxyWire::EncodeHeader(type, length, header);

  iovec parts[2];
  parts[0].iov_base = header;
  parts[0].iov_len = sizeof header;
  parts[1].iov_base = const_cast<uint8_t*>(payload);
  parts[1].iov_len = length;
  msghdr message;
  std::memset(&message, 0, sizeof message);
  message.msg_iov = parts;
  message.msg_iovlen = length ? 2 : 1;

  const size_t total = sizeof header + static_cast<size_t>(length);
  sent = 0;
  while (sent < total) {
    ssize_t n = sendmsg(descriptor, &message, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      // Step over what went out.
      size_t done = static_cast<size_t>(n);
      while (message.msg_iovlen > 0 && done >= message.msg_iov[0].iov_len) {
        done -= message.msg_iov[0].iov_len;
        ++message.msg_iov;
        --message.msg_iovlen;
      }
      if (message.msg_iovlen > 0) {
        message.msg_iov[0].iov_base = static_cast<uint8_t*>(message.msg_iov[0].iov_base) + done;
        message.msg_iov[0].iov_len -= done;
      }
      continue;
    }
    int errNo = n < 0 ? errno : EIO;
    if (errNo == EINTR) continue;
    if (errNo == EAGAIN || errNo == EWOULDBLOCK) {
      // A socket someone made non-blocking: wait until it takes more.
      if (FXGetClock().WaitForDescriptor(descriptor, POLLOUT, -1) >= 0 || errno == EINTR) continue;
      errNo = errno;
    }
    if (errNo == EPIPE || errNo == ECONNRESET)
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo,
                                     "Peer has closed the connection (sent %zu of %zu bytes of message type 0x%04x)",
                                     sent, total, static_cast<unsigned>(type));
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Send failed after %zu of %zu bytes of message type 0x%04x: %s",
                                   sent, total, static_cast<unsigned>(type), std::strerror(errNo));
  }
  return CWqError::Success();
}

}  // namespace

CWqError ClProxyConnection::writeFrame(CWqSocket& socket, uint16_t type, const uint8_t* payload,
                                       uint32_t length) {
  if (!socket.IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Connection socket is not open");
  size_t sent = 0;
  return WriteFrame(socket.GetSocketDescriptor(), type, payload, length, sent);
}

CWqError ClProxyConnection::sendMessage(ClProxyMsg* msg) {
  if (!msg) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No message to send");
  std::lock_guard<std::mutex> lock(m_sendMutex);
  if (!m_connectionSocket.IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Connection socket is not open");

  const uint16_t type = msg->getMsgType();
  ClProxyPayloadView view;
  CWqError result = msg->encodePayload(m_sendScratch, view);
  if (result.IsError()) {
    result.Push(FX_HERE, "Cannot encode message type 0x%04x", static_cast<unsigned>(type));
    return result;
  }
  const uint32_t maxPayload = m_uMaxPayload;
  if (view.size > maxPayload)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EMSGSIZE, "Message type 0x%04x has %u payload bytes, above the maximum %u",
                                   static_cast<unsigned>(type), view.size, maxPayload);

  size_t sent = 0;
  result = WriteFrame(m_connectionSocket.GetSocketDescriptor(), type, view.data, view.size, sent);
  if (result.IsError()) {
    // A frame cut short leaves the stream unframeable: end it, so that the
    // peer sees a truncated frame rather than garbage.
    if (sent > 0) (void)m_connectionSocket.Shutdown(SHUT_RDWR);
    FX_LOG_CAT(1, FX_LOG_CATEGORY_CONNECTION, "Send of message type 0x%04x failed: %s",
               static_cast<unsigned>(type), result.AsString().c_str());
  }
  return result;
}

// ---------------------------------------------------------------- receiving

void ClProxyConnection::breakLink() {
  // Wake a sender that may be blocked on this socket, then close it under
  // the send lock so that no sender still uses the descriptor.
  (void)m_connectionSocket.Shutdown(SHUT_RDWR);
  {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_connectionSocket.Clear();
  }
  m_recv = RecvState();
}

CWqError ClProxyConnection::takeHeader() {
  RecvState& state = m_recv;
  if (!ClProxyWire::DecodeHeader(state.header, state.frame)) {
    uint32_t marker = ClProxyWire::GetU32(state.header);
    breakLink();
    FX_LOG(-1, "Bad frame marker 0x%08x; connection closed", marker);
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Bad frame: marker 0x%08x instead of 0x%08x; connection closed",
                                   marker, ClProxyWire::kMarker);
  }
  const uint32_t maxPayload = m_uMaxPayload;
  if (state.frame.length > maxPayload) {
    ClProxyWire::FrameHeader frame = state.frame;
    breakLink();
    FX_LOG(-1, "Frame of message type 0x%04x announces %u bytes, above the maximum %u; connection closed",
           static_cast<unsigned>(frame.type), frame.length, maxPayload);
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO,
                                   "Bad frame: message type 0x%04x announces %u payload bytes, above the maximum %u; "
                                   "connection closed",
                                   static_cast<unsigned>(frame.type), frame.length, maxPayload);
  }
  if (state.frame.length > 0) {
    state.payload = ClMallocBlockOf(state.frame.length);
    if (!state.payload) {
      ClProxyWire::FrameHeader frame = state.frame;
      breakLink();
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOMEM, "No memory for %u payload bytes of message type 0x%04x; connection closed",
                                     frame.length, static_cast<unsigned>(frame.type));
    }
  }
  state.uPayloadGot = 0;
  state.bHaveHeader = true;
  return CWqError::Success();
}

CWqError ClProxyConnection::fillFrame(int seconds, bool headerOnly) {
  if (!m_connectionSocket.IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Connection socket is not open");
  RecvState& state = m_recv;
  if (state.uSocketSerial != m_connectionSocket.GetOpenSerial()) {
    // A new connection on this link: nothing of the old one applies.
    state = RecvState();
    state.uSocketSerial = m_connectionSocket.GetOpenSerial();
  }

  const int descriptor = m_connectionSocket.GetSocketDescriptor();
  const bool unlimited = seconds == 0;
  const bool noWait = seconds < 0;
  const int64_t deadlineMs = seconds > 0 ? FXGetClock().MonotonicMs() + static_cast<int64_t>(seconds) * 1000 : 0;

  bool drained = false;
  for (;;) {
    if (state.bHaveHeader && (headerOnly || state.uPayloadGot == state.frame.length))
      return CWqError::Success();

    uint8_t* into;
    size_t want;
    if (!state.bHaveHeader) {
      into = state.header + state.uHeaderGot;
      want = ClProxyWire::kHeaderSize - state.uHeaderGot;
    } else {
      into = state.payload.get() + state.uPayloadGot;
      want = state.frame.length - state.uPayloadGot;
    }
    // After a short read the socket is most likely drained: wait before the
    // next receive instead of spending a call on EAGAIN.
    ssize_t n = -1;
    errno = EAGAIN;
    if (!drained) n = recv(descriptor, into, want, MSG_DONTWAIT);
    drained = false;
    if (n > 0) {
      drained = static_cast<size_t>(n) < want;
      if (!state.bHaveHeader) {
        state.uHeaderGot += static_cast<size_t>(n);
        if (state.uHeaderGot == ClProxyWire::kHeaderSize) {
          CWqError header = takeHeader();
          if (header.IsError()) return header;
        }
      } else {
        state.uPayloadGot += static_cast<uint32_t>(n);
      }
      continue;
    }
    if (n == 0) {
      if (state.bHaveHeader)
        return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN,
                                       "End of stream: peer closed the connection after %u of %u payload bytes of "
                                       "message type 0x%04x",
                                       state.uPayloadGot, state.frame.length, static_cast<unsigned>(state.frame.type));
      if (state.uHeaderGot > 0)
        return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN,
                                       "End of stream: peer closed the connection after %zu of %zu header bytes",
                                       state.uHeaderGot, ClProxyWire::kHeaderSize);
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "End of stream: peer closed the connection");
    }
    int errNo = errno;
    if (errNo == EINTR) continue;
    if (errNo == ECONNRESET)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ECONNRESET, "Connection reset by the peer");
    if (errNo != EAGAIN && errNo != EWOULDBLOCK)
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Receive failed: %s", std::strerror(errNo));

    // Nothing more yet: wait for it.
    int waitMs = -1;
    if (noWait) {
      waitMs = 0;
    } else if (!unlimited) {
      int64_t leftMs = deadlineMs - FXGetClock().MonotonicMs();
      if (leftMs <= 0) waitMs = 0;
      else waitMs = leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
    }
    int ready = waitMs == 0 ? 0 : FXGetClock().WaitForDescriptor(descriptor, POLLIN, waitMs);
    if (ready > 0) continue;
    if (ready < 0) {
      errNo = errno;
      if (errNo == EINTR) continue;
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Wait for data failed: %s", std::strerror(errNo));
    }
    if (waitMs == INT_MAX) continue;  // a limit longer than one poll
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "No message within %d seconds", seconds < 0 ? 0 : seconds);
  }
}

CWqError ClProxyConnection::recvAccepted(ClProxyMsg*& msg, const ClProxyMsgType* types, size_t count,
                                         int seconds, bool* dropped, ClProxyMsgHeader* droppedHeader) {
  msg = nullptr;
  if (dropped) *dropped = false;
  std::lock_guard<std::mutex> lock(m_recvMutex);
  CWqError result = fillFrame(seconds, false);
  if (result.IsError()) return result;

  // The frame is whole: take it out of the receive state.
  const uint16_t type = m_recv.frame.type;
  const uint32_t length = m_recv.frame.length;
  ClMallocBlock payload = std::move(m_recv.payload);
  const uint64_t serial = m_recv.uSocketSerial;
  m_recv = RecvState();
  m_recv.uSocketSerial = serial;

  if (!Accepts(types, count, type)) {
    if (dropped) *dropped = true;
    if (droppedHeader) *droppedHeader = ClProxyMsgHeader(type, length);
    FX_LOG_CAT(1, FX_LOG_CATEGORY_CONNECTION, "Unexpected message type 0x%04x (expected %s) dropped",
               static_cast<unsigned>(type), TypeList(types, count).c_str());
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Unexpected message type 0x%04x (%u bytes), expected %s",
                                   static_cast<unsigned>(type), length, TypeList(types, count).c_str());
  }
  ClProxyMsg* built = nullptr;
  result = ClProxyMsgFactory::Create(type, std::move(payload), length, built);
  if (result.IsError()) {
    delete built;
    if (dropped) *dropped = true;
    if (droppedHeader) *droppedHeader = ClProxyMsgHeader(type, length);
    result.Push(FX_HERE, "Received message type 0x%04x (%u bytes) dropped", static_cast<unsigned>(type), length);
    return result;
  }
  msg = built;
  return CWqError::Success();
}

CWqError ClProxyConnection::recvMessage(ClProxyMsg*& msg, ClProxyMsgType type, int seconds) {
  return recvAccepted(msg, &type, 1, seconds);
}

CWqError ClProxyConnection::recvMessage(ClProxyMsg*& msg, const std::vector<ClProxyMsgType>& types, int seconds) {
  if (types.empty()) {
    msg = nullptr;
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No accepted message type given");
  }
  return recvAccepted(msg, types.data(), types.size(), seconds);
}

CWqError ClProxyConnection::recvMessage(ClProxyMsg*& msg, int seconds) {
  return recvAccepted(msg, nullptr, 0, seconds);
}

CWqError ClProxyConnection::recvAnyMessage(ClProxyMsg*& msg, int seconds, bool& dropped, ClProxyMsgHeader& header) {
  return recvAccepted(msg, nullptr, 0, seconds, &dropped, &header);
}

CWqError ClProxyConnection::peekMessageHeader(ClProxyMsgHeader& header, int seconds) {
  std::lock_guard<std::mutex> lock(m_recvMutex);
  CWqError result = fillFrame(seconds, true);
  if (result.IsError()) {
    if (FXErrorUtil::IsErrNo(result, ETIME)) return result;
    std::vector<FXErrorFrame> frames = result.GetFrames();
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "Message check failed (errno %d): %s", FXErrorUtil::GetErrNo(result),
                                 frames.empty() ? "" : frames.front().text.c_str());
  }
  header = ClProxyMsgHeader(m_recv.frame.type, m_recv.frame.length);
  return CWqError::Success();
}
