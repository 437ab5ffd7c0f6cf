// A media agent's reply path on arbitrary bytes: frames of the platform
// network read from a socket pair (the feeder writes all and closes first,
// so no read waits), and each XML frame's text parsed as a message and read
// the way the tape interface reads its answers.
//
// Checked: no crash, hang or sanitizer report; a text that parses serializes
// to a text that parses back to the same tag.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "CNMessageBase.h"
#include "FuzzSupport.h"
#include "KxNetFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  if (size > 256 * 1024) return 0;
  const int fed = FuzzFedSocket(data, size);
  KxNetFrameReader reader;
  for (;;) {
    uint32_t type = 0;
    std::vector<uint8_t> body;
    bool timedOut = false;
    if (reader.Read(fed, 1000, type, body, timedOut).IsError()) break;
    if (type != KXNET_XML_MSG || body.empty()) continue;
    CNMessageBase reply(0, 0);
    if (reply.unserialize(std::string(body.begin(), body.end())) != CN_PARSE_OK) continue;
    const uint32_t tag = reply.getTagID();
    (void)reply.getTagName();
    (void)reply.getint64(1, 1);
    (void)reply.getint64(6, 6);
    (void)reply.getstringByRef(2, 2).size();
    std::string text;
    reply.serialize(text, false);
    CNMessageBase again(0, 0);
    FUZZ_CHECK(again.unserialize(text) == CN_PARSE_OK && again.getTagID() == tag, "a parsed reply does not round-trip");
  }
  ::close(fed);
  return 0;
}
