#include "CKxNetwork.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ArMgrClientAPI.h"
#include "CWqIPAddr.h"
#include "FXErrorUtil.h"
#include "KXPlatformInfo.h"
#include "KxXdr.h"

namespace {

const char kServiceSection[] = "KxNetworkServices/";

// The bound of a connect or send: the caller's seconds, or the default.
int64_t LimitMs(int seconds) { return seconds > 0 ? static_cast<int64_t>(seconds) * 1000 : kKxNetDefaultLimitMs; }

// Waits for a non-blocking connect to finish; 0 or its errno (ETIMEDOUT
// when the limit passed first).
int WaitForConnect(int descriptor, int64_t limitMs) {
  const int waited = KxNetWaitWritable(descriptor, limitMs);
  if (waited != 0) return waited;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

}  // namespace

CKxNetwork::CKxNetwork() : m_iSocket(-1) {}

CKxNetwork::~CKxNetwork() { Close(); }

void CKxNetwork::Close() {
  if (m_iSocket >= 0) ::close(m_iSocket);
  m_iSocket = -1;
  m_reader.Reset();
}

std::string CKxNetwork::ServiceSection(const std::string& host) { return kServiceSection + host; }

int CKxNetwork::RegisterService(const std::string& host, const std::string& service, uint16_t port) {
  KXPlatformInfo settings;
  return settings.setNumber(ServiceSection(host), service, port);
}

int CKxNetwork::UnregisterService(const std::string& host, const std::string& service) {
  KXPlatformInfo settings;
  return settings.deleteField(ServiceSection(host), service);
}

CWqError CKxNetwork::Connect(const std::string& host, uint16_t port, int64_t limitMs) {
  Close();
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName(host, address, AF_INET);
  if (result.IsError()) return result.Push(FX_HERE, "Cannot resolve the host [%s]", host.c_str());
  result = address.SetPortNumber(port);
  if (result.IsError()) return result.Push(FX_HERE);
  const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (descriptor < 0) {
    const int error = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot create a socket");
  }
  // Connected without blocking and waited for within the limit: a listener
  // that never accepts (or a host that never answers) holds no one.
  const sockaddr_storage sa = address.GetSockAddr();
  int error = 0;
  if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&sa), address.GetSockAddrLength()) != 0) {
    error = errno;
    if (error == EINPROGRESS || error == EINTR) error = WaitForConnect(descriptor, limitMs);
  }
  if (error == 0 && ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0) error = errno;
  if (error != 0) {
    ::close(descriptor);
    if (error == ETIMEDOUT)
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot connect to %s:%u within %lld ms", host.c_str(), port,
                                     static_cast<long long>(limitMs));
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot connect to %s:%u: %s", host.c_str(), port,
                                   std::strerror(error));
  }
  // Records are small and answered at once: no waiting for a fuller segment.
  int on = 1;
  ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_iSocket = descriptor;
  return CWqError::Success();
}

CWqError CKxNetwork::ReadFrame(int seconds, uint32_t& type, std::vector<uint8_t>& body, bool& timedOut) {
  if (m_iSocket < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection is open");
  CWqError result = m_reader.Read(m_iSocket, seconds > 0 ? static_cast<int64_t>(seconds) * 1000 : -1, type, body,
                                  timedOut);
  if (result.IsError()) {
    if (!timedOut) Close();
    return result.Push(FX_HERE, "Receiving from %s", m_sPeer.c_str());
  }
  if (type == KXNET_DISCONNECT_MSG) {
    Close();
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "%s disconnected", m_sPeer.c_str());
  }
  return CWqError::Success();
}

CWqError CKxNetwork::Attach_RemoteService(const std::string& host, const std::string& service,
                                          const std::string& localName, int seconds, bool& flag) {
  if (service.empty() || service.size() > kKxNetNameBound)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Cannot attach to service [%s] on host [%s]", service.c_str(),
                                   host.c_str());
  std::vector<uint8_t> body;
  KxXdrWriter writer(body);
  writer.PutString(service.data(), service.size(), kKxNetNameBound);
  const std::string name = localName.substr(0, kKxNetNameBound);
  writer.PutString(name.data(), name.size(), kKxNetNameBound);
  CWqError result = AttachTo(host, service, KXNET_ATTACH_MSG, body, seconds, flag);
  return result.IsError() ? result.Push(FX_HERE) : result;
}

CWqError CKxNetwork::Attach_RemoteDLL(const std::string& host, const kxsExecuteRemoteDllType& dll,
                                      const std::string& localName, int seconds, bool& flag) {
  const std::string first(dll.szFirst, strnlen(dll.szFirst, sizeof dll.szFirst));
  const std::string second(dll.szSecond, strnlen(dll.szSecond, sizeof dll.szSecond));
  if (first.empty() || first.size() > kKxNetNameBound || second.size() > kKxNetNameBound)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Cannot attach to the handlers [%s][%s] on host [%s]",
                                   first.c_str(), second.c_str(), host.c_str());
  std::vector<uint8_t> body;
  KxXdrWriter writer(body);
  writer.PutString(first.data(), first.size(), kKxNetNameBound);
  writer.PutString(second.data(), second.size(), kKxNetNameBound);
  const std::string name = localName.substr(0, kKxNetNameBound);
  writer.PutString(name.data(), name.size(), kKxNetNameBound);
  // The handler pair is served where its first handler is registered.
  CWqError result = AttachTo(host, first, KXNET_ATTACH_DLL_MSG, body, seconds, flag);
  return result.IsError() ? result.Push(FX_HERE) : result;
}

CWqError CKxNetwork::AttachTo(const std::string& host, const std::string& service, uint32_t attachType,
                              const std::vector<uint8_t>& attachBody, int seconds, bool& flag) {
  std::string plainHost, client;
  int n1 = 0, n2 = 0;
  DemangleHostName(host, plainHost, client, n1, n2);
  if (plainHost.empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Cannot attach to service [%s] on host [%s]", service.c_str(),
                                   host.c_str());
  KXPlatformInfo settings;
  unsigned long port = 0;
  if (!settings.getNumber(ServiceSection(plainHost), service, &port) || port == 0 || port > 65535)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "The service [%s] is not registered on host [%s]",
                                   service.c_str(), plainHost.c_str());
  m_sPeer = service + " on " + plainHost + ":" + std::to_string(port);
  CWqError result = Connect(plainHost, static_cast<uint16_t>(port), LimitMs(seconds));
  if (result.IsError()) return result.Push(FX_HERE, "Cannot attach to %s", m_sPeer.c_str());

  result = KxNetWriteFrame(m_iSocket, attachType, attachBody.data(), attachBody.size(), LimitMs(seconds));
  if (result.IsError()) {
    Close();
    return result.Push(FX_HERE, "Cannot attach to %s", m_sPeer.c_str());
  }
  uint32_t type = 0;
  bool timedOut = false;
  std::vector<uint8_t> body;
  result = ReadFrame(seconds, type, body, timedOut);
  if (result.IsError()) {
    Close();
    return result.Push(FX_HERE, "No answer to the attach from %s", m_sPeer.c_str());
  }
  KxXdrReader reader(body.data(), body.size());
  int32_t status = 0;
  if (type != KXNET_ATTACH_REPLY_MSG || !reader.GetInt32(status)) {
    Close();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s answered the attach with a message of type 0x%x",
                                   m_sPeer.c_str(), type);
  }
  if (status != 0) {
    flag = true;
    return FXErrorUtil::ErrorErrNo(FX_HERE, EALREADY, "%s attached with the warning %d", m_sPeer.c_str(), status);
  }
  return CWqError::Success();
}

CWqError CKxNetwork::SendXMLMessage(const CNMessageBase& message, int flags, int seconds, bool& flag) {
  if (m_iSocket < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection is open");
  std::string text;
  message.serialize(text, false);
  CWqError result =
      KxNetWriteFrame(m_iSocket, KXNET_XML_MSG, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                      LimitMs(seconds));
  if (result.IsError()) {
    Close();
    return result.Push(FX_HERE, "Sending an XML message to %s", m_sPeer.c_str());
  }
  return CWqError::Success();
}

CWqError CKxNetwork::ReceiveXMLMessage(void* unused, CNMessageBase*& reply, void* header, int flags, int seconds,
                                       bool& flag) {
  reply = nullptr;
  uint32_t type = 0;
  std::vector<uint8_t> body;
  CWqError result = ReadFrame(seconds, type, body, flag);
  if (result.IsError()) return result.Push(FX_HERE);
  if (type != KXNET_XML_MSG)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s sent a message of type 0x%x, not an XML message",
                                   m_sPeer.c_str(), type);
  if (body.empty()) return CWqError::Success();  // an answer without a message
  std::unique_ptr<CNMessageBase> received(new CNMessageBase(0, 0));
  std::string problem;
  if (received->unserialize(std::string(body.begin(), body.end()), &problem) != CN_PARSE_OK)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s sent an XML message that does not parse: %s",
                                   m_sPeer.c_str(), problem.c_str());
  reply = received.release();
  return CWqError::Success();
}

CWqError CKxNetwork::AttachBackToCaller(int argc, char** argv, bool& flag) {
  std::string caller;
  for (int i = 0; argv && i + 1 < argc; ++i)
    if (argv[i] && argv[i + 1] && std::strcmp(argv[i], kCallerArgument) == 0) caller = argv[i + 1];
  const size_t colon = caller.rfind(':');
  char* end = nullptr;
  const unsigned long port = colon == std::string::npos ? 0 : std::strtoul(caller.c_str() + colon + 1, &end, 10);
  if (caller.empty() || colon == 0 || port == 0 || port > 65535 || (end && *end != '\0'))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No caller address (%s <host>:<port>) in the launch arguments",
                                   kCallerArgument);
  const std::string host = caller.substr(0, colon);
  m_sPeer = "the launching service at " + caller;
  CWqError result = Connect(host, static_cast<uint16_t>(port), kKxNetDefaultLimitMs);
  if (result.IsError()) return result.Push(FX_HERE, "Cannot reach %s", m_sPeer.c_str());
  std::vector<uint8_t> body;
  KxXdrWriter(body).PutUint64(static_cast<uint64_t>(::getpid()));
  result = KxNetWriteFrame(m_iSocket, KXNET_LAUNCH_REPLY_MSG, body.data(), body.size(), kKxNetDefaultLimitMs);
  if (result.IsError()) {
    Close();
    return result.Push(FX_HERE, "Cannot answer %s", m_sPeer.c_str());
  }
  return CWqError::Success();
}

CWqError CKxNetwork::SendXDRMessage(uint64_t msgType, kxsDatabuf_v2& buffer, int flags, int seconds, bool& flag) {
  if (m_iSocket < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN, "No connection is open");
  if (msgType > UINT32_MAX)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Message type %llu is out of range",
                                   static_cast<unsigned long long>(msgType));
  std::vector<uint8_t> body;
  std::string why;
  if (!KxsEncodeRecord(msgType, buffer.getBuffer(), buffer.getLength(), body, why))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "%s", why.c_str());
  CWqError result =
      KxNetWriteFrame(m_iSocket, static_cast<uint32_t>(msgType), body.data(), body.size(), LimitMs(seconds));
  if (result.IsError()) {
    Close();
    return result.Push(FX_HERE, "Sending %s to %s", KXS_OraBackupRestore_PM_STRING(msgType), m_sPeer.c_str());
  }
  return CWqError::Success();
}

CWqError CKxNetwork::ReceiveXDRMessage(uint64_t* msgType, kxsDatabuf_v2& buffer, void* header, int flags,
                                       int seconds, bool& timedOut) {
  timedOut = false;
  uint32_t type = 0;
  std::vector<uint8_t> body;
  CWqError result = ReadFrame(seconds, type, body, timedOut);
  if (result.IsError()) return result.Push(FX_HERE);
  if (msgType) *msgType = type;
  if (KxsRecordKindOf(type) == KXS_RECORD_UNKNOWN) return CWqError::Success();
  std::string why;
  if (!KxsDecodeRecord(type, body.data(), body.size(), buffer.getBuffer(), buffer.getLength(), m_texts, why))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "%s sent a record that does not decode: %s", m_sPeer.c_str(),
                                   why.c_str());
  return CWqError::Success();
}

CWqError CKxNetwork::ReplyDisconnect(int seconds, bool& flag) {
  if (m_iSocket < 0) return CWqError::Success();
  CWqError result = KxNetWriteFrame(m_iSocket, KXNET_DISCONNECT_MSG, nullptr, 0, LimitMs(seconds));
  if (result.IsError()) {
    Close();
    result.Push(FX_HERE, "Cannot tell %s of the disconnect", m_sPeer.c_str());
  }
  return result;
}

CWqError CKxNetwork::Disconnect(int seconds, bool& flag) {
  Close();
  return CWqError::Success();
}
