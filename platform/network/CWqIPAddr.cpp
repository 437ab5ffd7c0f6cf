#include "CWqIPAddr.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "CWqString.h"
#include "FXErrorUtil.h"

namespace {

socklen_t LengthOfFamily(int family) {
  if (family == AF_INET) return sizeof(sockaddr_in);
  if (family == AF_INET6) return sizeof(sockaddr_in6);
  return 0;
}

}  // namespace

CWqIPAddr::CWqIPAddr() : m_uLength(0) {
  std::memset(&m_address, 0, sizeof m_address);
  m_address.ss_family = AF_UNSPEC;
}

namespace {

std::mutex& ResolverMutex() {
  static std::mutex mutex;
  return mutex;
}

CWqIPAddr::Resolver& InstalledResolver() {
  static CWqIPAddr::Resolver resolver;
  return resolver;
}

}  // namespace

void CWqIPAddr::SetResolver(Resolver resolver) {
  std::lock_guard<std::mutex> lock(ResolverMutex());
  InstalledResolver() = std::move(resolver);
}

CWqError CWqIPAddr::GetByName(const std::string& host, CWqIPAddr& address, int family) {
  std::vector<CWqIPAddr> all;
  CWqError result = GetAllByName(host, all, family);
  if (result.IsError()) return result;
  address = all.front();
  return CWqError::Success();
}

CWqError CWqIPAddr::GetAllByName(const std::string& host, std::vector<CWqIPAddr>& addresses, int family) {
  if (host.empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Empty host name");
  if (family != AF_INET && family != AF_INET6)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unsupported address family %d", family);

  Resolver resolver;
  {
    std::lock_guard<std::mutex> lock(ResolverMutex());
    resolver = InstalledResolver();
  }
  std::vector<CWqIPAddr> found;
  if (!resolver || !resolver(host, family, found)) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
      int errNo;
      switch (rc) {
        case EAI_AGAIN: errNo = EAGAIN; break;
        case EAI_MEMORY: errNo = ENOMEM; break;
        case EAI_SYSTEM: errNo = errno ? errno : EIO; break;
        case EAI_FAMILY: errNo = EINVAL; break;
        default: errNo = ENOENT; break;
      }
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot resolve host name '%s': %s",
                                     host.c_str(), gai_strerror(rc));
    }
    // getaddrinfo frees its list only through freeaddrinfo.
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(list, freeaddrinfo);
    for (const addrinfo* entry = list; entry; entry = entry->ai_next) {
      if (entry->ai_family != family) continue;
      CWqIPAddr resolved;
      if (resolved.SetSockAddr(entry->ai_addr, entry->ai_addrlen).IsError()) continue;
      found.push_back(resolved);
    }
  }
  std::vector<CWqIPAddr> kept;
  for (CWqIPAddr& entry : found) {
    if (entry.GetAddressFamily() != family) continue;
    entry.SetPortNumber(0);
    kept.push_back(entry);
  }
  if (kept.empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "Host name '%s' has no address of family %d",
                                   host.c_str(), family);
  addresses.swap(kept);
  return CWqError::Success();
}

CWqIPAddr CWqIPAddr::AnyAddress(int family) {
  CWqIPAddr any;
  if (family == AF_INET6) {
    sockaddr_in6 in6;
    std::memset(&in6, 0, sizeof in6);
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_any;
    any.SetSockAddr(reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
  } else {
    sockaddr_in in4;
    std::memset(&in4, 0, sizeof in4);
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = htonl(INADDR_ANY);
    any.SetSockAddr(reinterpret_cast<const sockaddr*>(&in4), sizeof in4);
  }
  return any;
}

CWqError CWqIPAddr::SetSockAddr(const sockaddr* address, socklen_t length) {
  if (!address)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No socket address");
  socklen_t expected = LengthOfFamily(address->sa_family);
  if (expected == 0 || length < expected)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unsupported socket address (family %d, length %u)",
                                   address->sa_family, static_cast<unsigned>(length));
  std::memset(&m_address, 0, sizeof m_address);
  std::memcpy(&m_address, address, expected);
  m_uLength = expected;
  return CWqError::Success();
}

CWqError CWqIPAddr::SetPortNumber(int port) {
  if (port < 0 || port > 65535)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Port number %d out of range", port);
  uint16_t networkPort = htons(static_cast<uint16_t>(port));
  if (m_address.ss_family == AF_INET) {
    sockaddr_in in4;
    std::memcpy(&in4, &m_address, sizeof in4);
    in4.sin_port = networkPort;
    std::memcpy(&m_address, &in4, sizeof in4);
  } else if (m_address.ss_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &m_address, sizeof in6);
    in6.sin6_port = networkPort;
    std::memcpy(&m_address, &in6, sizeof in6);
  } else {
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Cannot set port %d on an empty address", port);
  }
  return CWqError::Success();
}

uint16_t CWqIPAddr::GetPortNumber() const {
  if (m_address.ss_family == AF_INET) {
    sockaddr_in in4;
    std::memcpy(&in4, &m_address, sizeof in4);
    return ntohs(in4.sin_port);
  }
  if (m_address.ss_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &m_address, sizeof in6);
    return ntohs(in6.sin6_port);
  }
  return 0;
}

int CWqIPAddr::GetAddressFamily() const { return m_address.ss_family; }

std::string CWqIPAddr::AsString() const {
  char text[INET6_ADDRSTRLEN] = "";
  if (m_address.ss_family == AF_INET) {
    sockaddr_in in4;
    std::memcpy(&in4, &m_address, sizeof in4);
    if (!inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text)) return std::string();
  } else if (m_address.ss_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, &m_address, sizeof in6);
    if (!inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text)) return std::string();
  }
  return text;
}

void CWqIPAddr::GetAddressString(CWqString& text) const { text = CWqString(AsString()); }

bool CWqIPAddr::operator==(const CWqIPAddr& other) const {
  if (m_address.ss_family != other.m_address.ss_family) return false;
  if (GetPortNumber() != other.GetPortNumber()) return false;
  if (m_address.ss_family == AF_INET) {
    sockaddr_in a, b;
    std::memcpy(&a, &m_address, sizeof a);
    std::memcpy(&b, &other.m_address, sizeof b);
    return a.sin_addr.s_addr == b.sin_addr.s_addr;
  }
  if (m_address.ss_family == AF_INET6) {
    sockaddr_in6 a, b;
    std::memcpy(&a, &m_address, sizeof a);
    std::memcpy(&b, &other.m_address, sizeof b);
    return std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
  }
  return true;  // both empty
}
