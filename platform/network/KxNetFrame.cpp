#include "KxNetFrame.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "FXErrorUtil.h"

void KxNetEncodeHeader(uint32_t type, uint32_t length, uint8_t out[kKxNetHeaderSize]) {
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(type >> (24 - 8 * i));
    out[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
  }
}

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

CWqError WriteAll(int descriptor, const uint8_t* data, size_t length, int64_t milliseconds) {
  const KxNetSendResult sent = KxNetSendAll(descriptor, data, length, milliseconds);
  if (sent.error == 0) return CWqError::Success();
  if (sent.error == ETIME)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The peer took nothing for %lld ms; %zu bytes were not sent",
                                   static_cast<long long>(milliseconds), length - sent.sent);
  if (sent.waiting) return FXErrorUtil::ErrorErrNo(FX_HERE, sent.error, "Cannot wait on the network connection");
  return FXErrorUtil::ErrorErrNo(FX_HERE, sent.error, "Cannot write to the network connection");
}

}  // namespace

KxNetSendResult KxNetSendAll(int descriptor, const uint8_t* data, size_t length, int64_t milliseconds) {
  const int64_t deadline = NowMs() + milliseconds;
  KxNetSendResult result;
  while (result.sent < length) {
    const ssize_t n = ::send(descriptor, data + result.sent, length - result.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      result.sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      result.error = n < 0 ? errno : EPIPE;
      return result;
    }
    const int waited = KxNetWaitWritable(descriptor, deadline - NowMs());
    if (waited != 0) {
      result.error = waited == ETIMEDOUT ? ETIME : waited;
      result.waiting = waited != ETIMEDOUT;
      return result;
    }
  }
  return result;
}

int KxNetWaitWritable(int descriptor, int64_t milliseconds) {
  const int64_t deadline = NowMs() + milliseconds;
  for (;;) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) return ETIMEDOUT;
    pollfd entry{descriptor, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left > 1000000 ? 1000000 : left));
    if (ready < 0 && errno != EINTR) return errno;
    if (ready > 0) return 0;
  }
}

CWqError KxNetWriteFrame(int descriptor, uint32_t type, const uint8_t* body, size_t length, int64_t milliseconds) {
  if (length > kKxNetMaxBody)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EMSGSIZE, "A body of %zu bytes is above the frame's %u", length,
                                   kKxNetMaxBody);
  // One buffer, so that header and body go out in one call.
  std::vector<uint8_t> frame(kKxNetHeaderSize + length);
  KxNetEncodeHeader(type, static_cast<uint32_t>(length), frame.data());
  if (length) std::copy(body, body + length, frame.begin() + kKxNetHeaderSize);
  return WriteAll(descriptor, frame.data(), frame.size(), milliseconds > 0 ? milliseconds : kKxNetDefaultLimitMs);
}

void KxNetFrameReader::Reset() {
  m_uHeaderGot = 0;
  m_body.clear();
  m_uBodyGot = 0;
  m_bHaveHeader = false;
  m_uType = 0;
  m_uLength = 0;
}

CWqError KxNetFrameReader::Read(int descriptor, int64_t milliseconds, uint32_t& type, std::vector<uint8_t>& body,
                                bool& timedOut) {
  timedOut = false;
  const int64_t deadline = milliseconds < 0 ? -1 : NowMs() + milliseconds;
  for (;;) {
    if (m_bHaveHeader && m_uBodyGot == m_uLength) {
      type = m_uType;
      body.swap(m_body);
      Reset();
      return CWqError::Success();
    }
    int wait = -1;
    if (deadline >= 0) {
      const int64_t left = deadline - NowMs();
      wait = left <= 0 ? 0 : static_cast<int>(left > 1000000 ? 1000000 : left);
    }
    pollfd entry{descriptor, POLLIN, 0};
    const int ready = ::poll(&entry, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot wait on the network connection");
    }
    if (ready == 0) {
      timedOut = true;
      return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "Nothing arrived within %lld ms",
                                     static_cast<long long>(milliseconds));
    }
    uint8_t* target;
    size_t want;
    if (!m_bHaveHeader) {
      target = m_header + m_uHeaderGot;
      want = kKxNetHeaderSize - m_uHeaderGot;
    } else {
      target = m_body.data() + m_uBodyGot;
      want = m_uLength - m_uBodyGot;
    }
    const ssize_t n = ::recv(descriptor, target, want, 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      const int error = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot read from the network connection");
    }
    if (n == 0)
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "The peer closed the connection%s",
                                     (m_uHeaderGot || m_bHaveHeader) ? " inside a frame" : "");
    if (!m_bHaveHeader) {
      m_uHeaderGot += static_cast<size_t>(n);
      if (m_uHeaderGot == kKxNetHeaderSize) {
        m_uType = (uint32_t(m_header[0]) << 24) | (uint32_t(m_header[1]) << 16) | (uint32_t(m_header[2]) << 8) |
                  m_header[3];
        m_uLength = (uint32_t(m_header[4]) << 24) | (uint32_t(m_header[5]) << 16) | (uint32_t(m_header[6]) << 8) |
                    m_header[7];
        if (m_uLength > kKxNetMaxBody) {
          const uint32_t length = m_uLength;
          Reset();
          return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "A frame announces %u bytes, above the limit of %u",
                                         length, kKxNetMaxBody);
        }
        m_bHaveHeader = true;
        m_body.assign(m_uLength, 0);
        m_uBodyGot = 0;
      }
    } else {
      m_uBodyGot += static_cast<size_t>(n);
    }
  }
}
