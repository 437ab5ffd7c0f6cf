// Fuzzes the channel's frame decoder: a real ClProxyConnection on one end of
// a local stream socket pair, the fuzz bytes written on the other end in
// chunks whose sizes come from the input, each chunk followed by receives
// that take only what has arrived.
//
// Input: one control byte (bits 0-2 the maximum payload, bit 3 peek at each
// header first, bit 4 accept only a few types, bit 5 receive what is left
// after the peer closed with a time limit instead of without waiting), then
// chunks, each a length byte and up to that many stream bytes.
//
// The outcome of the receives must not depend on how the stream was cut:
// it is compared with a model that frames the whole stream at once and
// asks the factory about each payload.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyConnection.h"
#include "ClProxyMsgFactory.h"
#include "ClProxyWire.h"
#include "FXErrorUtil.h"
#include "FuzzSupport.h"

namespace {

const uint32_t kMaxPayloads[8] = {4096, 0, 1, 12, 255, 65536, ClProxyWire::kDefaultMaxPayload,
                                  1u << 20};

const std::vector<ClProxyMsgType> kSomeTypes = {EVENT_MSG, FILE_DATA_MSG, JOB_COMPLETE_MSG,
                                                LAUNCH_CMD_MSG, SCAN_RESULT_MSG};

// What one receive gave: for a message its type and its payload encoded
// again (equal encodings mean equal payloads, as the factory and the
// encoders are the same on both sides); nothing else for a dropped message
// or a bad frame, as the connection names neither.
enum class Outcome { kMessage, kDropped, kBadFrame };

struct Event {
  Outcome outcome;
  uint16_t type;
  std::vector<uint8_t> encoded;
  bool operator==(const Event& o) const {
    return outcome == o.outcome && type == o.type && encoded == o.encoded;
  }
};

Event Message(const ClProxyMsg& msg) {
  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  CWqError result = msg.encodePayload(scratch, view);
  FUZZ_CHECK(!result.IsError(), "a received message does not encode: %s", result.AsString().c_str());
  Event event{Outcome::kMessage, static_cast<uint16_t>(msg.getMsgType()), {}};
  if (view.size) event.encoded.assign(view.data, view.data + view.size);
  return event;
}

std::string Describe(const std::vector<Event>& events) {
  std::string text;
  char one[48];
  for (const Event& e : events) {
    std::snprintf(one, sizeof one, "[%d 0x%04x %zu] ", static_cast<int>(e.outcome),
                  static_cast<unsigned>(e.type), e.encoded.size());
    text += one;
  }
  return text;
}

// Frames the whole stream at once; `broken` tells whether it held a bad
// frame (after which nothing counts).
std::vector<Event> Model(const std::vector<uint8_t>& stream, uint32_t maxPayload,
                         const std::vector<ClProxyMsgType>* accepted, bool& broken) {
  std::vector<Event> events;
  size_t pos = 0;
  broken = false;
  while (stream.size() - pos >= ClProxyWire::kHeaderSize) {
    ClProxyWire::FrameHeader frame;
    if (!ClProxyWire::DecodeHeader(stream.data() + pos, frame) || frame.length > maxPayload) {
      events.push_back({Outcome::kBadFrame, 0, {}});
      broken = true;
      break;
    }
    if (stream.size() - pos - ClProxyWire::kHeaderSize < frame.length) break;
    const uint8_t* payload = stream.data() + pos + ClProxyWire::kHeaderSize;
    pos += ClProxyWire::kHeaderSize + frame.length;

    bool wanted = !accepted;
    if (accepted)
      for (ClProxyMsgType type : *accepted) wanted = wanted || type == frame.type;
    if (!wanted) {
      events.push_back({Outcome::kDropped, 0, {}});
      continue;
    }
    std::unique_ptr<uint8_t[]> copy;
    if (frame.length) {
      copy.reset(new uint8_t[frame.length]);
      std::memcpy(copy.get(), payload, frame.length);
    }
    ClProxyMsg* msg = nullptr;
    CWqError built = ClProxyMsgFactory::Create(frame.type, std::move(copy), frame.length, msg);
    std::unique_ptr<ClProxyMsg> owner(msg);
    events.push_back(built.IsError() ? Event{Outcome::kDropped, 0, {}} : Message(*owner));
  }
  return events;
}

class Receiver {
 public:
  Receiver(ClProxyConnection& link, bool peekFirst, const std::vector<ClProxyMsgType>* accepted)
      : m_link(link), m_peekFirst(peekFirst), m_accepted(accepted), m_broken(false) {}

  // Receives until nothing complete is left (ETIME) or the link ends.
  // Returns the last failure. `seconds` as for recvMessage.
  CWqError drain(int seconds) {
    for (;;) {
      if (m_broken) {
        ClProxyMsg* msg = nullptr;
        CWqError result = m_link.recvMessage(msg, seconds);
        FUZZ_CHECK(msg == nullptr && FXErrorUtil::IsErrNo(result, EBADF),
                   "receive on a closed link: %s", result.AsString().c_str());
        return result;
      }
      ClProxyMsgHeader header;
      bool peeked = false;
      if (m_peekFirst) {
        CWqError result = m_link.peekMessageHeader(header, seconds);
        if (result.IsError()) {
          if (FXErrorUtil::IsErrNo(result, ETIME)) return result;
          FUZZ_CHECK(FXErrorUtil::IsInt(result, 1), "peek failed with %s",
                     result.AsString().c_str());
          if (!m_link.getConnectionSocket().IsValid()) {
            // The header was a bad frame.
            m_events.push_back({Outcome::kBadFrame, 0, {}});
            m_broken = true;
            continue;
          }
          return result;  // end of stream
        }
        peeked = true;
      }
      ClProxyMsg* msg = reinterpret_cast<ClProxyMsg*>(1);
      CWqError result = m_accepted ? m_link.recvMessage(msg, *m_accepted, seconds)
                                   : m_link.recvMessage(msg, seconds);
      std::unique_ptr<ClProxyMsg> owner(result.IsError() ? nullptr : msg);
      if (result.IsError()) {
        FUZZ_CHECK(msg == nullptr, "failed receive left a message: %s", result.AsString().c_str());
        if (FXErrorUtil::IsErrNo(result, ETIME)) return result;
        FUZZ_CHECK(FXErrorUtil::IsErrNo(result), "receive failure is not an errno: %s",
                   result.AsString().c_str());
        if (FXErrorUtil::IsErrNo(result, EPROTO)) {
          if (!m_link.getConnectionSocket().IsValid()) {
            m_events.push_back({Outcome::kBadFrame, 0, {}});
            m_broken = true;
          } else {
            m_events.push_back({Outcome::kDropped, 0, {}});
          }
          continue;
        }
        return result;
      }
      FUZZ_CHECK(msg != nullptr, "receive succeeded without a message");
      if (peeked)
        FUZZ_CHECK(header.getMsgType() == msg->getMsgType(), "peeked 0x%04x, received 0x%04x",
                   static_cast<unsigned>(header.getMsgType()),
                   static_cast<unsigned>(msg->getMsgType()));
      m_events.push_back(Message(*msg));
    }
  }

  const std::vector<Event>& events() const { return m_events; }
  bool broken() const { return m_broken; }

 private:
  ClProxyConnection& m_link;
  bool m_peekFirst;
  const std::vector<ClProxyMsgType>* m_accepted;
  bool m_broken;
  std::vector<Event> m_events;
};

void WriteAll(int descriptor, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    FUZZ_CHECK(n > 0, "write to the socket pair failed: %s", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietLogging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBytes in(data, size);
  const uint8_t control = in.byte();
  const uint32_t maxPayload = kMaxPayloads[control & 7];
  const bool peekFirst = (control & 8) != 0;
  const std::vector<ClProxyMsgType>* accepted = (control & 16) ? &kSomeTypes : nullptr;

  std::vector<std::vector<uint8_t>> chunks;
  std::vector<uint8_t> stream;
  while (!in.empty()) {
    chunks.push_back(in.take(in.byte()));
    stream.insert(stream.end(), chunks.back().begin(), chunks.back().end());
  }

  int pair[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socketpair: %s",
             std::strerror(errno));
  ClProxyConnection link;
  link.setMaxPayload(maxPayload);
  FUZZ_CHECK(!link.getConnectionSocket().AttachConnectedSocket(CWqSocketDescriptor(pair[0])).IsError(),
             "attach failed");
  const int writer = pair[1];

  Receiver receiver(link, peekFirst, accepted);
  for (const std::vector<uint8_t>& chunk : chunks) {
    WriteAll(writer, chunk);
    CWqError last = receiver.drain(-1);
    if (receiver.broken()) break;
    FUZZ_CHECK(FXErrorUtil::IsErrNo(last, ETIME), "a drain with the peer open ended with %s",
               last.AsString().c_str());
  }
  close(writer);
  // With the peer gone nothing waits, whatever the limit.
  CWqError last = receiver.drain((control & 32) ? 2 : -1);
  if (!receiver.broken())
    FUZZ_CHECK(FXErrorUtil::IsErrNo(last, ENOTCONN) ||
                   (peekFirst && FXErrorUtil::IsInt(last, 1)),
               "the end of the stream gave %s", last.AsString().c_str());

  bool broken = false;
  std::vector<Event> expected = Model(stream, maxPayload, accepted, broken);
  FUZZ_CHECK(receiver.events() == expected, "received %s, model %s",
             Describe(receiver.events()).c_str(), Describe(expected).c_str());
  FUZZ_CHECK(receiver.broken() == broken, "link broken %d, model %d",
             static_cast<int>(receiver.broken()), static_cast<int>(broken));
  return 0;
}
