// CWqIPAddr: one socket address (IPv4 or IPv6 address and port).
//
// A new address is empty (no family). GetByName resolves a host name or a
// numeric address; AnyAddress gives the wildcard address of a family. The
// port is kept in host order by the accessors and in network order inside
// the socket-address record.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CWqError.h"

class CWqString;

class CWqIPAddr {
 public:
  CWqIPAddr();

  // Resolves `host` (a name or a numeric address) into `address` with port 0,
  // taking the first address of `family` (2 = AF_INET, 10 = AF_INET6) that
  // the resolver gives. Errors (errno kind): EINVAL for an empty host or an
  // unsupported family, ENOENT for an unknown name, EAGAIN for a temporary
  // resolver failure, ENOMEM; `address` is left unchanged on failure.
  static CWqError GetByName(const std::string& host, CWqIPAddr& address, int family = AF_INET);
  // Every address of `family` that `host` resolves to, port 0, in the
  // resolver's order (which may change between calls); errors as GetByName.
  static CWqError GetAllByName(const std::string& host, std::vector<CWqIPAddr>& addresses, int family = AF_INET);
  // Test seam: names a test resolves itself (a host with several addresses,
  // a host that moves). The resolver fills `addresses` and returns true for a
  // name it knows; false leaves the name to the system. Null removes it.
  typedef std::function<bool(const std::string& host, int family, std::vector<CWqIPAddr>& addresses)> Resolver;
  static void SetResolver(Resolver resolver);
  // The wildcard address of `family` (IPv4 0.0.0.0 or IPv6 ::), port 0.
  static CWqIPAddr AnyAddress(int family = AF_INET);

  // Fails with EINVAL when the address is empty or the port is outside
  // 0..65535.
  CWqError SetPortNumber(int port);
  // 0 for an empty address.
  uint16_t GetPortNumber() const;
  // AF_INET, AF_INET6, or AF_UNSPEC (0) for an empty address.
  int GetAddressFamily() const;

  // The numeric address without the port ("127.0.0.1"); "" when empty.
  std::string AsString() const;
  void GetAddressString(CWqString& text) const;

  // A copy of the socket-address record and its length (0 when empty).
  sockaddr_storage GetSockAddr() const { return m_address; }
  socklen_t GetSockAddrLength() const { return m_uLength; }
  // Takes a record that the system filled (accept, getsockname); EINVAL for
  // a family other than IPv4/IPv6 or a length that does not fit it.
  CWqError SetSockAddr(const sockaddr* address, socklen_t length);

  // Same family, address and port.
  bool operator==(const CWqIPAddr& other) const;
  bool operator!=(const CWqIPAddr& other) const { return !(*this == other); }

 private:
  sockaddr_storage m_address;
  socklen_t m_uLength;
};
