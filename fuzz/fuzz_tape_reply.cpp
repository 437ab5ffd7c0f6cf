// A media agent's reply path on arbitrary bytes: frames of the platform
// network read from a socket pair (the feeder writes all and closes first,
// so no read waits); each XML frame's text is parsed as a message, and the
// first one is also sent by a simulated media agent on loopback as the
// reply to each of the tape interface's three remote operations.
//
// Checked: no crash, hang or sanitizer report; a text that parses
// serializes to a text that parses back to the same tag; an operation
// succeeds only on the reply that means success (namespace 10 and its
// message id, with an integer code of 0 or an integer size), and then hands
// out that size.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CNMessageBase.h"
#include "FuzzSupport.h"
#include "IBMTape/ProxyTapeAPI.h"
#include "KXPlatformInfo.h"
#include "KxNetFrame.h"
#include "MediaManagerMsgs.h"
#include "ScopedSettingsRoot.h"
#include "SimMediaAgent.h"

namespace {

const char kAgent[] = "127.0.0.1*ma01";

// The integer at `position` of a reply of namespace 10 and `id`, if any.
bool IntegerOf(const std::string& text, int id, int position, int64_t& value) {
  CNMessageBase reply(0, 0);
  if (text.empty() || reply.unserialize(text) != CN_PARSE_OK) return false;
  if (reply.getNamespace() != 10 || reply.getMessageId() != id || !reply.isSet(position)) return false;
  if (reply.getliststring(position, position, 0, 0, false) || reply.getlistobject(position, position, 0, 0, false))
    return false;
  value = reply.getint64(position);
  return true;
}

// The three remote operations against `text` as the agent's reply.
void Dispatch(SimMediaAgent& agent, const std::string& text) {
  for (int i = 0; i < 3; ++i) agent.Script(SimMediaAgent::Answer::RawXml(text));
  int64_t expected = 0;

  const bool initialized = !ProxyTapeAPI::initializeIBMTape(1, kAgent, "fuzz", "VOL001").IsError();
  FUZZ_CHECK(!initialized || (IntegerOf(text, MediaManager::kQErrorMsgId, 1, expected) && expected == 0),
             "initializeIBMTape succeeded on [%.200s]", text.c_str());

  long long chunk = -7;
  const bool sized = !ProxyTapeAPI::getTapeSize(1, kAgent, "fuzz", 1, 2, chunk).IsError();
  if (sized) {
    FUZZ_CHECK(IntegerOf(text, MediaManager::kGetChunkSizeOnMediaRespId, 6, expected) && chunk == expected,
               "getTapeSize gave %lld on [%.200s]", chunk, text.c_str());
  } else {
    FUZZ_CHECK(chunk == -7, "a failed getTapeSize wrote its size");
  }

  unsigned int size = 9;
  const bool defaulted = !ProxyTapeAPI::GetDefaultTapeSize(kAgent, size).IsError();
  if (defaulted) {
    FUZZ_CHECK(IntegerOf(text, MediaManager::kGetTapeSizeRespId, 1, expected) &&
                   size == static_cast<unsigned int>(expected),
               "GetDefaultTapeSize gave %u on [%.200s]", size, text.c_str());
  } else {
    FUZZ_CHECK(size == 0, "a failed GetDefaultTapeSize left size %u", size);
  }
}

// The run's settings folder: made once, removed at exit (after the last
// input; the agent is idle then and reads no setting).
ScopedSettingsRoot* g_settings = nullptr;

void RemoveSettings() {
  delete g_settings;
  g_settings = nullptr;
}

SimMediaAgent& Agent() {
  // One settings folder and one agent for the whole run; each step of a
  // remote call is bounded, so a reply that never completes cannot hang.
  static ScopedSettingsRoot* settings = [] {
    g_settings = new ScopedSettingsRoot;
    std::atexit(RemoveSettings);
    return g_settings;
  }();
  static SimMediaAgent* agent = [] {
    FUZZ_CHECK(!settings->path().empty(), "no settings folder");
    FUZZ_CHECK(KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_TAPE_REMOTE_CALL", 1) == 0, "settings");
    SimMediaAgent* made = new SimMediaAgent("127.0.0.1");
    FUZZ_CHECK(!made->Start().IsError(), "the simulated media agent did not start");
    return made;
  }();
  return *agent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  if (size > 256 * 1024) return 0;
  SimMediaAgent& agent = Agent();
  const int fed = FuzzFedSocket(data, size);
  KxNetFrameReader reader;
  int dispatched = 0;
  for (;;) {
    uint32_t type = 0;
    std::vector<uint8_t> body;
    bool timedOut = false;
    if (reader.Read(fed, 1000, type, body, timedOut).IsError()) break;
    if (type != KXNET_XML_MSG) continue;
    const std::string text(body.begin(), body.end());
    if (dispatched < 1) {
      ++dispatched;
      Dispatch(agent, text);
    }
    if (body.empty()) continue;
    CNMessageBase reply(0, 0);
    if (reply.unserialize(text) != CN_PARSE_OK) continue;
    const uint32_t tag = reply.getTagID();
    (void)reply.getTagName();
    (void)reply.getint64(1, 1);
    (void)reply.getint64(6, 6);
    (void)reply.getstringByRef(2, 2).size();
    std::string again;
    reply.serialize(again, false);
    CNMessageBase parsed(0, 0);
    FUZZ_CHECK(parsed.unserialize(again) == CN_PARSE_OK && parsed.getTagID() == tag,
               "a parsed reply does not round-trip");
  }
  ::close(fed);
  return 0;
}
