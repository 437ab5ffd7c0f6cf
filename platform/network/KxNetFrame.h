// The frame of the platform network connection (CKxNetwork) over TCP:
//
//   offset 0  uint32  message type
//   offset 4  uint32  body length in bytes (at most kKxNetMaxBody)
//   offset 8  the body: the message's record in XDR (KxsDBFBRecords.h) or
//             a control body below
//
// Big-endian throughout. Control messages of the connection itself:
//   KXNET_ATTACH_MSG        string service<255>, string caller name<255>
//   KXNET_ATTACH_REPLY_MSG  int status: 0 attached; another value attached
//                           with a warning the service reports
//   KXNET_LAUNCH_REPLY_MSG  unsigned hyper process id of the launched host
//   KXNET_DISCONNECT_MSG    empty: the sender is about to close
//   KXNET_ATTACH_DLL_MSG    string first handler<255>, string second
//                           handler<255>, string caller name<255>; answered
//                           as KXNET_ATTACH_MSG
//   KXNET_XML_MSG           an XML message's text form; empty: an answer
//                           without a message
//
// KxNetFrameReader takes one frame from a descriptor, keeping a frame that
// arrived in part across time-outs. KxNetWriteFrame writes one whole frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CWqError.h"

enum : uint32_t {
  KXNET_ATTACH_MSG = 0x7f000001,
  KXNET_ATTACH_REPLY_MSG = 0x7f000002,
  KXNET_LAUNCH_REPLY_MSG = 0x7f000003,
  KXNET_DISCONNECT_MSG = 0x7f000004,
  KXNET_ATTACH_DLL_MSG = 0x7f000005,
  KXNET_XML_MSG = 0x7f000006,
};

constexpr size_t kKxNetHeaderSize = 8;
constexpr uint32_t kKxNetMaxBody = 65536;
constexpr uint32_t kKxNetNameBound = 255;

// The header bytes of a frame.
void KxNetEncodeHeader(uint32_t type, uint32_t length, uint8_t out[kKxNetHeaderSize]);

// The bound of a connect or a send whose caller gives no limit of its own.
constexpr int64_t kKxNetDefaultLimitMs = 300000;

// Waits up to `milliseconds` for `descriptor` to take data (or to finish a
// non-blocking connect): 0, ETIMEDOUT, or the errno of the wait.
int KxNetWaitWritable(int descriptor, int64_t milliseconds);

// What KxNetSendAll did: `error` 0 when all went, ETIME when the limit
// passed while the peer took nothing, else the errno of the send (EPIPE for
// a send that took nothing) or, `waiting` set, of the wait for room.
// `sent` bytes went out either way.
struct KxNetSendResult {
  int error = 0;
  bool waiting = false;
  size_t sent = 0;
};

// Sends `data` in full without blocking, waiting for room between sends so
// that a peer that stops reading holds the writer no longer than
// `milliseconds` (0 or less: only what the socket takes at once); never
// raises SIGPIPE.
KxNetSendResult KxNetSendAll(int descriptor, const uint8_t* data, size_t length, int64_t milliseconds);

// Writes header and body in full, resuming short writes, within
// `milliseconds` (0 or less: kKxNetDefaultLimitMs) however long the peer
// leaves the data unread; never raises SIGPIPE. Errors (errno kind):
// EMSGSIZE for a body above kKxNetMaxBody, ETIME when the limit passed (part
// of the frame may have gone: the link is out of step and must be closed),
// the system's errno of the write (EPIPE, ECONNRESET, EBADF).
CWqError KxNetWriteFrame(int descriptor, uint32_t type, const uint8_t* body, size_t length,
                         int64_t milliseconds = kKxNetDefaultLimitMs);

class KxNetFrameReader {
 public:
  // Waits up to `milliseconds` (negative: no limit) for the rest of a frame.
  // Success: `type` and `body` hold it. Errors (errno kind): ETIME when the
  // limit passed (`timedOut` set; the part received is kept), ENOTCONN at
  // end of stream, ECONNRESET, EPROTO for a length above kKxNetMaxBody (the
  // caller must close the link: the stream cannot be framed any more).
  CWqError Read(int descriptor, int64_t milliseconds, uint32_t& type, std::vector<uint8_t>& body, bool& timedOut);
  // Forgets a part received (a new connection).
  void Reset();

 private:
  uint8_t m_header[kKxNetHeaderSize] = {};
  size_t m_uHeaderGot = 0;
  std::vector<uint8_t> m_body;
  size_t m_uBodyGot = 0;
  bool m_bHaveHeader = false;
  uint32_t m_uType = 0;
  uint32_t m_uLength = 0;
};
