// Fuzzes every message class's payload decoder through the factory.
//
// Input: the first byte picks a known message type (or, past the list, the
// next two bytes give any 16-bit type, known or not); the rest is the
// payload. A payload that decodes must encode again, and the encoding must
// decode to a message that encodes to the same bytes. Where the wire form is
// canonical, the first encoding must be the payload itself. A file header
// blob also goes through the file-header decoder the same way.
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "ClProxyFileHeader.h"
#include "ClProxyMessages.h"
#include "FXErrorUtil.h"
#include "FuzzKnownTypes.h"
#include "FuzzSupport.h"

namespace {

// Types the factory gives back as ClEmptyMsg without reading the payload.
bool IsPayloadIgnored(uint16_t type) {
  return ClProxyIsEmptyType(type) || type == STREAM_STOP_MSG ||
         type == PREPIPELINE_DEDUPE_RESULT_REQ_MSG;
}

// Types whose decoding may fold the payload: a repeated option or argument
// name keeps one value, and tape arguments travel in name order.
bool MayFold(uint16_t type) { return type == JOB_START_MSG || type == TAPE_INFO_MSG; }

struct Built {
  CWqError result;
  std::unique_ptr<ClProxyMsg> msg;
};

Built Build(uint16_t type, const std::vector<uint8_t>& bytes) {
  // A buffer of exactly the payload's size, as the receive path hands over,
  // so a read past the end is caught.
  std::unique_ptr<uint8_t[]> buffer;
  if (!bytes.empty()) {
    buffer.reset(new uint8_t[bytes.size()]);
    std::memcpy(buffer.get(), bytes.data(), bytes.size());
  }
  ClProxyMsg* raw = reinterpret_cast<ClProxyMsg*>(1);  // must come back null on failure
  Built out;
  out.result = ClProxyMsgFactory::Create(type, std::move(buffer),
                                         static_cast<uint32_t>(bytes.size()), raw);
  if (out.result.IsError()) {
    FUZZ_CHECK(raw == nullptr, "type 0x%04x: failed Create left a message", type);
    FUZZ_CHECK(FXErrorUtil::IsErrNo(out.result, EPROTO), "type 0x%04x: failure is not EPROTO: %s",
               type, out.result.AsString().c_str());
  } else {
    FUZZ_CHECK(raw != nullptr, "type 0x%04x: Create succeeded without a message", type);
    out.msg.reset(raw);
    FUZZ_CHECK(out.msg->getMsgType() == type, "type 0x%04x: message has type 0x%04x", type,
               static_cast<unsigned>(out.msg->getMsgType()));
  }
  return out;
}

std::vector<uint8_t> Encode(const ClProxyMsg& msg) {
  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  CWqError result = msg.encodePayload(scratch, view);
  FUZZ_CHECK(!result.IsError(), "type 0x%04x: a decoded message does not encode: %s",
             static_cast<unsigned>(msg.getMsgType()), result.AsString().c_str());
  FUZZ_CHECK(view.size == 0 || view.data != nullptr, "type 0x%04x: view without bytes",
             static_cast<unsigned>(msg.getMsgType()));
  return view.size ? std::vector<uint8_t>(view.data, view.data + view.size)
                   : std::vector<uint8_t>();
}

// Headers back to back in a file header blob, as far as they decode. Each
// must encode back to the bytes it was read from; the failure that ends the
// walk must leave the offset and the held header alone.
void CheckFileHeaders(const std::vector<uint8_t>& blob) {
  const uint32_t size = static_cast<uint32_t>(blob.size());
  std::unique_ptr<uint8_t[]> exact(size ? new uint8_t[size] : nullptr);
  if (size) std::memcpy(exact.get(), blob.data(), size);
  uint32_t used = 0;
  for (;;) {
    ClProxyFileHeaderSerializer header;
    header.name = "held";
    header.word1 = 7;
    const uint32_t start = used;
    if (header.deserialize(exact.get(), size, used) != 0) {
      FUZZ_CHECK(used == start, "file header: a failure moved the offset");
      FUZZ_CHECK(header.name == "held" && header.word1 == 7,
                 "file header: a failure changed the held header");
      return;
    }
    FUZZ_CHECK(used > start && used <= size, "file header: offset %u after %u of %u", used,
               start, size);
    FUZZ_CHECK(header.getBufSize() == used - start, "file header: size %u, consumed %u",
               header.getBufSize(), used - start);
    std::vector<uint8_t> again(header.getBufSize());
    uint32_t written = 0;
    FUZZ_CHECK(header.serialize(again.data(), static_cast<uint32_t>(again.size()), written) == 0 &&
                   written == again.size(),
               "file header: a decoded header does not encode");
    FUZZ_CHECK(std::memcmp(again.data(), blob.data() + start, again.size()) == 0,
               "file header: encoding differs from the bytes decoded");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietLogging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBytes in(data, size);
  const uint8_t pick = in.byte();
  const uint16_t type = pick < kFuzzKnownCount ? kFuzzKnownTypes[pick] : in.u16();
  const std::vector<uint8_t> payload = in.rest();

  Built first = Build(type, payload);
  if (ClProxyIsBlobType(type) || IsPayloadIgnored(type))
    FUZZ_CHECK(first.msg != nullptr, "type 0x%04x: an untyped message was refused", type);
  if (!first.msg) return 0;

  const std::vector<uint8_t> encoded = Encode(*first.msg);
  if (IsPayloadIgnored(type)) {
    FUZZ_CHECK(encoded.empty(), "type 0x%04x: an empty message encodes %zu bytes", type,
               encoded.size());
  } else if (!MayFold(type)) {
    FUZZ_CHECK(encoded == payload, "type 0x%04x: re-encoding differs from the payload (%zu/%zu bytes)",
               type, encoded.size(), payload.size());
  } else {
    FUZZ_CHECK(encoded.size() <= payload.size(), "type 0x%04x: folding grew the payload", type);
  }

  Built second = Build(type, encoded);
  FUZZ_CHECK(second.msg != nullptr, "type 0x%04x: own encoding does not decode: %s", type,
             second.result.AsString().c_str());
  FUZZ_CHECK(Encode(*second.msg) == encoded, "type 0x%04x: encoding is not stable", type);

  if (type == FILE_HEADER_MSG) CheckFileHeaders(payload);
  return 0;
}
