// ClProxyConnection: one message link over a connected TCP socket.
//
// A message travels as one frame (ClProxyWire.h: marker, type, length, then
// the payload). The link promises:
//
// Sending (sendMessage): one whole frame per call, header and payload handed
// to the system together, short writes and interrupted calls resumed, never
// a SIGPIPE. Any number of threads may send at once: frames never
// interleave. The message stays the caller's.
//
// Receiving (recvMessage, peekMessageHeader): one thread at a time. The
// link never reads past the frame it is taking, so a wait on the socket
// (CWqSocketSelector) still tells whether more is waiting. A wait that
// times out loses nothing: a frame that arrived in part is kept and the next
// receive completes it. On success `msg` is a new message of an accepted
// type, which the caller deletes; after any failure `msg` is null.
//
// seconds: 0 waits without limit, a positive value is the limit for the
// whole message, a negative value takes only what has already arrived.
//
// Receive failures, all errno-kind:
//   ETIME 62        nothing complete within the limit; the link is intact
//   ENOTCONN 107    end of stream: the peer closed the connection (the text
//                   says so when it happened inside a frame)
//   ECONNRESET 104  the peer reset the connection
//   EPROTO 71       bad frame: wrong marker, or a length above the maximum
//                   payload; refused before any buffer of that size is
//                   allocated, and the link is closed (the socket is no
//                   longer valid)
//   EPROTO 71       a whole message of a type the caller did not accept
//                   ("Unexpected message type 0x...") or whose payload does
//                   not decode: the message is consumed and dropped, the
//                   link stays open and usable
//   EBADF 9         the link's socket is not open
//   EINVAL 22       an empty list of accepted types (nothing is consumed)
// peekMessageHeader reports the time-out the same way (ETIME 62) and every
// failure of the link itself (end of stream, reset, bad frame, socket not
// open) as the plain integer error 1.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CWqError.h"
#include "CWqSocket.h"
#include "ClMallocBlock.h"
#include "ClPrePipelineRecords.h"
#include "ClProxyMsg.h"
#include "ClProxyMsgType.h"
#include "ClProxyWire.h"

// Base of the messaging library's link classes.
class iClProxyPipeCallback {
 public:
  virtual ~iClProxyPipeCallback() {}
};

// The header of a message: its type and payload length.
class ClProxyMsgHeader {
 public:
  ClProxyMsgHeader() : m_uType(0), m_uLength(0) {}
  ClProxyMsgHeader(uint16_t type, uint32_t length) : m_uType(type), m_uLength(length) {}

  ClProxyMsgType getMsgType() const { return static_cast<ClProxyMsgType>(m_uType); }
  uint32_t getPayloadLength() const { return m_uLength; }

 private:
  uint16_t m_uType;
  uint32_t m_uLength;
};

// Prepares the library for receives with a time limit before a listener is
// set up. Every wait of the library carries its own limit, so there is
// nothing left to prepare: the call may be made any number of times.
void initUseRecvWithTimeout();

class ClProxyConnection : public iClProxyPipeCallback {
 public:
  // Not connected, no remote host, disconnect-on-delete set, pre-pipeline
  // off, maximum payload ClProxyWire::kDefaultMaxPayload.
  ClProxyConnection();
  // Closes the socket when it is open and disconnect-on-delete is set;
  // otherwise leaves the descriptor to whoever took it.
  ~ClProxyConnection() override;
  ClProxyConnection(const ClProxyConnection&) = delete;
  ClProxyConnection& operator=(const ClProxyConnection&) = delete;

  // The link's socket: connect, accept into, wait on, shut down and close
  // it through this reference. A receive notices when it was given a new
  // descriptor and starts afresh.
  CWqSocket& getConnectionSocket() { return m_connectionSocket; }

  std::string remoteHost() const;
  void setRemoteHost(const std::string& host);
  void setDisconnectOnDelete(bool disconnect) { m_bDisconnectOnDelete = disconnect; }
  bool IsPrePipelineEnabled() const { return m_bPrePipelineEnabled; }

  // Largest payload sent or accepted. A frame announcing more is a bad
  // frame; a message encoding to more is refused with EMSGSIZE (90).
  void setMaxPayload(uint32_t bytes) { m_uMaxPayload = bytes; }
  uint32_t getMaxPayload() const { return m_uMaxPayload; }

  // Errors: EINVAL for a null message, EBADF when the socket is not open,
  // EMSGSIZE, the encoder's error, or the system's errno of the write
  // (EPIPE 32 or ECONNRESET 104 when the peer has gone). When a write fails
  // after part of the frame went out, the link is shut down: the rest of
  // the stream could not be framed.
  virtual CWqError sendMessage(ClProxyMsg* msg);

  virtual CWqError recvMessage(ClProxyMsg*& msg, ClProxyMsgType type, int seconds);
  virtual CWqError recvMessage(ClProxyMsg*& msg, const std::vector<ClProxyMsgType>& types, int seconds);
  virtual CWqError recvMessage(ClProxyMsg*& msg, int seconds);
  // As recvMessage(msg, seconds) (every type accepted); when the call
  // consumed a whole frame that it could not make into a message (a type the
  // library does not know, a payload that does not decode: EPROTO, link
  // still usable), `dropped` is set and `header` is that frame's header;
  // after any other result `dropped` is false.
  CWqError recvAnyMessage(ClProxyMsg*& msg, int seconds, bool& dropped, ClProxyMsgHeader& header);
  // The header of the next message, which stays to be received.
  virtual CWqError peekMessageHeader(ClProxyMsgHeader& header, int seconds);
  // Whether the link was told to end by its platform's kill message. The
  // platform of these links has none, so this stays false; listeners test
  // it beside the socket's validity all the same.
  bool isKillMsgReceived() const { return false; }

  // Writes one whole frame on `socket`, bypassing any link's send lock; for
  // code that writes a message straight onto a socket that no other thread
  // writes at the same time.
  static CWqError writeFrame(CWqSocket& socket, uint16_t type, const uint8_t* payload, uint32_t length);

 protected:
  _PrePipelineDedupe_Config m_PrePipelineConfig;
  bool m_bPrePipelineEnabled;

 private:
  // The frame being received, kept across calls.
  struct RecvState {
    uint64_t uSocketSerial = 0;  // the socket the bytes came from
    uint8_t header[ClProxyWire::kHeaderSize] = {};
    size_t uHeaderGot = 0;
    bool bHaveHeader = false;
    ClProxyWire::FrameHeader frame;
    ClMallocBlock payload;  // handed on to the message as it is
    uint32_t uPayloadGot = 0;
  };

  CWqError recvAccepted(ClProxyMsg*& msg, const ClProxyMsgType* types, size_t count, int seconds,
                        bool* dropped = nullptr, ClProxyMsgHeader* droppedHeader = nullptr);
  // Reads until the header (headerOnly) or the whole frame is in.
  CWqError fillFrame(int seconds, bool headerOnly);
  CWqError takeHeader();
  // Bad frame: shut down and close the socket, drop the receive state.
  void breakLink();

  CWqSocket m_connectionSocket;
  std::string m_sRemoteHost;
  bool m_bDisconnectOnDelete;
  std::atomic<uint32_t> m_uMaxPayload;

  std::mutex m_sendMutex;             // one frame on the wire at a time
  std::vector<uint8_t> m_sendScratch; // typed payload encoding, reused
  std::mutex m_recvMutex;
  RecvState m_recv;
};
