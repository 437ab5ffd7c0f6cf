// CKxNetwork: the platform's network connection to a named service on
// another machine, or back to the process that launched this one. One
// connection per object; the frame is KxNetFrame.h and the records are
// encoded by type (KxsDBFBRecords.h).
//
// Services: a service that listens registers its port in the settings
// store (RegisterService: section "KxNetworkServices/<host>", the service's
// name as the value's name). Attach_RemoteService takes a mangled host
// ("<host>*<client>", ArMgrClientAPI.h), finds the port, connects, sends
// KXNET_ATTACH_MSG and waits `seconds` for the reply. A reply status other
// than 0 leaves the link attached and returns an error with `flag` set.
//
// Launch: a process started by a service gets "-kxcaller <host>:<port>"
// among its arguments; AttachBackToCaller connects there and sends
// KXNET_LAUNCH_REPLY_MSG with its process id.
//
// Limits: `seconds` > 0 bounds each connect and each send of the call as
// well as the reply wait; a connect or send with no such limit (seconds 0
// or less, AttachBackToCaller) is bounded by kKxNetDefaultLimitMs. A send
// that ran out closes the link (part of a frame may have gone).
//
// Every call returns a CWqError of errno kind on failure: ENOTCONN when no
// link is open (or the peer closed it or announced its disconnect), EINVAL
// for bad arguments, ENOENT for an unregistered service, the system's errno
// of a connect (ECONNREFUSED; ETIMEDOUT when its limit passed), ETIME when a
// send's limit passed, EPROTO for a frame or record that does not
// decode, ETIME with `flag` set when a receive's wait ran out. A link is
// closed after a frame that cannot be framed, an end of stream or a reset;
// a record that does not decode is consumed and the link stays usable.
//
// ReceiveXDRMessage gives the received type in `msgType`; a type with no
// known record is skipped with success and the record left as it was. The
// texts of a received file record live in this object until the next
// receive. One thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "CNMessageBase.h"
#include "CWqError.h"
#include "KxNetFrame.h"
#include "KxsDBFBRecords.h"
#include "kxsDatabuf.h"

// The remote handler pair a remote-DLL attach names: two NUL-filled names.
struct kxsExecuteRemoteDllType {
  char szFirst[257];
  char szSecond[257];
};

class CKxNetwork {
 public:
  static constexpr const char* kCallerArgument = "-kxcaller";

  CKxNetwork();
  ~CKxNetwork();
  CKxNetwork(const CKxNetwork&) = delete;
  CKxNetwork& operator=(const CKxNetwork&) = delete;

  CWqError Attach_RemoteService(const std::string& host, const std::string& service, const std::string& localName,
                                int seconds, bool& flag);
  CWqError AttachBackToCaller(int argc, char** argv, bool& flag);
  // Attaches to the remote handler pair `dll` on `host` (served where its
  // first handler is registered), naming the caller `localName`.
  CWqError Attach_RemoteDLL(const std::string& host, const kxsExecuteRemoteDllType& dll,
                            const std::string& localName, int seconds, bool& flag);
  // One XML message of the central server's kind, as its text form
  // (KXNET_XML_MSG). On receive, a new message the caller deletes, or null
  // when the peer answered with an empty XML frame; EPROTO for another
  // frame type or a text that does not parse.
  CWqError SendXMLMessage(const CNMessageBase& message, int flags, int seconds, bool& flag);
  CWqError ReceiveXMLMessage(void* unused, CNMessageBase*& reply, void* header, int flags, int seconds, bool& flag);
  CWqError SendXDRMessage(uint64_t msgType, kxsDatabuf_v2& buffer, int flags, int seconds, bool& flag);
  // `seconds` > 0 limits the wait; 0 or less waits without limit.
  CWqError ReceiveXDRMessage(uint64_t* msgType, kxsDatabuf_v2& buffer, void* header, int flags, int seconds,
                             bool& timedOut);
  // Tells the peer that this side closes (KXNET_DISCONNECT_MSG), when a link
  // is open.
  CWqError ReplyDisconnect(int seconds, bool& flag);
  // Closes the link; succeeds when none is open.
  CWqError Disconnect(int seconds, bool& flag);

  bool IsConnected() const { return m_iSocket >= 0; }
  // "<service> on <host>:<port>", for texts.
  const std::string& PeerName() const { return m_sPeer; }

  // The service registry in the settings store, for services (and their
  // simulations) that listen.
  static std::string ServiceSection(const std::string& host);
  static int RegisterService(const std::string& host, const std::string& service, uint16_t port);
  static int UnregisterService(const std::string& host, const std::string& service);

 private:
  // Connects to `service` as registered for `host` and sends the attach
  // frame; the attach reply's status decides.
  CWqError AttachTo(const std::string& host, const std::string& service, uint32_t attachType,
                    const std::vector<uint8_t>& attachBody, int seconds, bool& flag);
  CWqError Connect(const std::string& host, uint16_t port, int64_t limitMs);
  CWqError ReadFrame(int seconds, uint32_t& type, std::vector<uint8_t>& body, bool& timedOut);
  void Close();

  int m_iSocket;
  std::string m_sPeer;
  KxNetFrameReader m_reader;
  KxsDecodedTexts m_texts;
};
