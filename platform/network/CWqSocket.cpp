#include "CWqSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"

namespace {

uint64_t NextOpenSerial() {
  static std::atomic<uint64_t> s_uSerial(0);
  return ++s_uSerial;
}

CWqError NotOpen(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorErrNo(location, EBADF, "Socket is not open");
}

// A connect interrupted by a signal goes on in the background; wait for it
// to finish and collect its outcome.
int FinishInterruptedConnect(int descriptor) {
  pollfd entry;
  entry.fd = descriptor;
  entry.events = POLLOUT;
  entry.revents = 0;
  for (;;) {
    int rc = poll(&entry, 1, -1);
    if (rc > 0) break;
    if (rc < 0 && errno != EINTR) return errno;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace

// Messages are written whole, one call each: holding a small one back for
// the acknowledgement of a large one only adds delay.
void CWqSocket::DisableNagle(int descriptor) {
  int on = 1;
  setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

CWqError CWqSocket::Adopt(int descriptor) {
  m_descriptor = CWqSocketDescriptor(descriptor);
  m_uOpenSerial = NextOpenSerial();
  return CWqError::Success();
}

CWqError CWqSocket::Create(int family, int type) {
  if (IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Socket %s is already open",
                                   m_descriptor.AsString().c_str());
  int descriptor = socket(family, type | SOCK_CLOEXEC, 0);
  if (descriptor < 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "socket(%d, %d) failed: %s", family, type,
                                   std::strerror(errNo));
  }
  return Adopt(descriptor);
}

CWqError CWqSocket::AttachConnectedSocket(CWqSocketDescriptor descriptor) {
  if (IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Socket %s is already open",
                                   m_descriptor.AsString().c_str());
  if (static_cast<int>(descriptor) < 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Cannot attach descriptor %d",
                                   static_cast<int>(descriptor));
  return Adopt(descriptor);
}

CWqError CWqSocket::Bind(const CWqIPAddr& address) {
  if (!IsValid()) return NotOpen(FX_HERE);
  sockaddr_storage record = address.GetSockAddr();
  if (bind(m_descriptor, reinterpret_cast<const sockaddr*>(&record), address.GetSockAddrLength()) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "bind to %s:%u failed: %s",
                                   address.AsString().c_str(), address.GetPortNumber(),
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

CWqError CWqSocket::Listen(int backlog) {
  if (!IsValid()) return NotOpen(FX_HERE);
  if (listen(m_descriptor, backlog) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "listen failed: %s", std::strerror(errNo));
  }
  return CWqError::Success();
}

CWqError CWqSocket::Accept(CWqSocket& connection) {
  if (!IsValid()) return NotOpen(FX_HERE);
  if (connection.IsValid())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Target socket %s is already open",
                                   connection.m_descriptor.AsString().c_str());
  for (;;) {
    int descriptor = accept4(m_descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    if (descriptor >= 0) {
      DisableNagle(descriptor);
      return connection.Adopt(descriptor);
    }
    int errNo = errno;
    if (errNo == EINTR || errNo == ECONNABORTED) continue;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "accept failed: %s", std::strerror(errNo));
  }
}

CWqError CWqSocket::Connect(const CWqIPAddr& address) {
  if (!IsValid()) return NotOpen(FX_HERE);
  sockaddr_storage record = address.GetSockAddr();
  int errNo = 0;
  if (connect(m_descriptor, reinterpret_cast<const sockaddr*>(&record), address.GetSockAddrLength()) != 0) {
    errNo = errno;
    if (errNo == EINTR) errNo = FinishInterruptedConnect(m_descriptor);
  }
  if (errNo != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "connect to %s:%u failed: %s",
                                   address.AsString().c_str(), address.GetPortNumber(),
                                   std::strerror(errNo));
  DisableNagle(m_descriptor);
  return CWqError::Success();
}

CWqError CWqSocket::SetSockOpt(int level, int option, int value) {
  if (!IsValid()) return NotOpen(FX_HERE);
  if (setsockopt(m_descriptor, level, option, &value, sizeof value) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "setsockopt(%d, %d) failed: %s", level, option,
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

CWqError CWqSocket::GetLocalAddress(CWqIPAddr& address) const {
  if (!IsValid()) return NotOpen(FX_HERE);
  sockaddr_storage record;
  socklen_t length = sizeof record;
  if (getsockname(m_descriptor, reinterpret_cast<sockaddr*>(&record), &length) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "getsockname failed: %s", std::strerror(errNo));
  }
  return address.SetSockAddr(reinterpret_cast<const sockaddr*>(&record), length);
}

CWqError CWqSocket::GetPeerAddress(CWqIPAddr& address) const {
  if (!IsValid()) return NotOpen(FX_HERE);
  sockaddr_storage record;
  socklen_t length = sizeof record;
  if (getpeername(m_descriptor, reinterpret_cast<sockaddr*>(&record), &length) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "getpeername failed: %s", std::strerror(errNo));
  }
  return address.SetSockAddr(reinterpret_cast<const sockaddr*>(&record), length);
}

CWqError CWqSocket::Shutdown(int how) {
  if (!IsValid()) return NotOpen(FX_HERE);
  if (shutdown(m_descriptor, how) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "shutdown(%d) failed: %s", how, std::strerror(errNo));
  }
  return CWqError::Success();
}

CWqError CWqSocket::Close() {
  if (!IsValid()) return CWqError::Success();
  int descriptor = m_descriptor;
  m_descriptor = CWqSocketDescriptor();
  m_uOpenSerial = 0;
  // Linux releases the descriptor even when close reports EINTR, so it is
  // never retried.
  if (close(descriptor) != 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "close(%d) failed: %s", descriptor,
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

void CWqSocket::Clear() {
  // Clear is the quiet form: the descriptor is gone either way.
  (void)Close();
}
