// CWqSocket: a socket descriptor with the calls made on it.
//
// A plain value, as the platform's callers expect: copies share the
// descriptor, and nothing closes it implicitly. The owner of a socket (a
// connection object, say) closes it with Close() or Clear(). Operations that
// give a socket a descriptor (Create, Accept into it, AttachConnectedSocket)
// refuse with EBUSY while it still holds one, so that no descriptor is
// dropped or closed behind a copy's back. Every failure is an errno-kind
// CWqError carrying the system's errno (a refused connect is 111).
// Descriptors are made close-on-exec.
#pragma once

#include <cstdint>

#include "CWqError.h"
#include "CWqIPAddr.h"
#include "CWqSocketDescriptor.h"

class CWqSocket {
 public:
  CWqSocket() : m_uOpenSerial(0) {}

  CWqSocketDescriptor GetSocketDescriptor() const { return m_descriptor; }
  bool IsValid() const { return static_cast<int>(m_descriptor) != -1; }
  // Changes whenever this object is given a new descriptor, so that state
  // kept about one connection is not applied to the next one that happens
  // to reuse the descriptor number. 0 while not open.
  uint64_t GetOpenSerial() const { return m_uOpenSerial; }

  // A new socket of `family` (2 = AF_INET) and `type` (stream by default).
  CWqError Create(int family, int type = SOCK_STREAM);
  // Wraps a descriptor opened elsewhere (a pipe end, say) so that it can be
  // waited on and closed like a socket; EBADF for a negative descriptor.
  CWqError AttachConnectedSocket(CWqSocketDescriptor descriptor);

  CWqError Bind(const CWqIPAddr& address);
  CWqError Listen(int backlog);
  // Waits for one peer and gives its descriptor to `connection`, which must
  // not be open. Interrupted waits and peers that gave up are retried.
  CWqError Accept(CWqSocket& connection);
  CWqError Connect(const CWqIPAddr& address);
  CWqError SetSockOpt(int level, int option, int value);
  CWqError GetLocalAddress(CWqIPAddr& address) const;
  CWqError GetPeerAddress(CWqIPAddr& address) const;
  // `how`: 0 receive side, 1 send side, 2 both (SHUT_RD, SHUT_WR, SHUT_RDWR).
  CWqError Shutdown(int how);
  // Closes the descriptor; the socket is not valid afterwards, even when the
  // system reports a failure. Closing a socket that is not open succeeds.
  CWqError Close();
  // Close() without a result: back to the state of a new object.
  void Clear();

  // Sockets are equal when they wrap the same descriptor.
  bool operator==(const CWqSocket& other) const {
    return static_cast<int>(m_descriptor) == static_cast<int>(other.m_descriptor);
  }
  bool operator!=(const CWqSocket& other) const { return !(*this == other); }

 private:
  CWqError Adopt(int descriptor);
  static void DisableNagle(int descriptor);

  CWqSocketDescriptor m_descriptor;  // first member, as the platform lays the class out
  uint64_t m_uOpenSerial;
};
