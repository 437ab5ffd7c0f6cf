// The message channel end to end over loopback against the simulated client
// side: whole messages both ways, every way a link can fail, and the
// guarantees that callers build on (nothing lost on a time-out, frames never
// interleaved, a rejected type does not end the link).
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AllocProbe.h"
#include "ChannelTestUtil.h"
#include "ClBasicMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyConnection.h"
#include "FXErrorUtil.h"
#include "SimDaemon.h"
#include "SimFrames.h"

using namespace channeltest;

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CWqError started = m_sim.Start();
    ASSERT_FALSE(started.IsError()) << started.AsString();
  }

  std::unique_ptr<ClProxyConnection> Connect() {
    std::unique_ptr<ClProxyConnection> connection(new ClProxyConnection());
    CWqError result = ConnectLoopback(*connection, m_sim.GetPort());
    EXPECT_FALSE(result.IsError()) << result.AsString();
    return connection;
  }

  SimDaemon m_sim;
};

// recvMessage into an owner.
CWqError Receive(ClProxyConnection& connection, std::unique_ptr<ClProxyMsg>& out, int seconds,
                 std::vector<ClProxyMsgType> types = {}) {
  ClProxyMsg* raw = nullptr;
  CWqError result = types.empty() ? connection.recvMessage(raw, seconds) : connection.recvMessage(raw, types, seconds);
  out.reset(raw);
  if (result.IsError()) {
    EXPECT_EQ(raw, nullptr) << "a failed receive hands out no message";
  }
  return result;
}

TEST_F(ChannelTest, MessagesArriveWholeInBothDirections) {
  struct Case {
    const char* name;
    std::shared_ptr<ClProxyMsg> message;
    std::vector<uint8_t> bytes;
  };
  const std::vector<uint8_t> big = Pattern(5u << 20, 7);
  const std::vector<Case> cases = {
      {"empty message", std::make_shared<ClEmptyMsg>(JOB_COMPLETE_MSG), {}},
      {"0-byte blob", Blob(FILE_DATA_MSG, {}), {}},
      {"5 MiB blob", Blob(FILE_DATA_MSG, big), big},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const ClProxyMsgType type = cases[i].message->getMsgType();
    m_sim.AddScript(SimScript().Expect(type).Reply(cases[i].message));
    std::unique_ptr<ClProxyConnection> connection = Connect();

    CWqError result = connection->sendMessage(cases[i].message.get());
    ASSERT_FALSE(result.IsError()) << result.AsString();
    std::unique_ptr<ClProxyMsg> reply;
    result = Receive(*connection, reply, 30, {type});
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(reply->getMsgType(), type);
    if (ClProxyMsg::isBlobMsg(type)) {
      EXPECT_TRUE(BlobBytes(reply.get()) == cases[i].bytes);
    }

    SimConnectionRecord record = m_sim.GetRecord(i);
    ASSERT_EQ(record.received.size(), 1u);
    EXPECT_EQ(record.received[0]->getMsgType(), type);
    if (ClProxyMsg::isBlobMsg(type)) {
      EXPECT_TRUE(BlobBytes(record.received[0].get()) == cases[i].bytes);
    }
  }
}

TEST_F(ChannelTest, BadFrameIsRefusedBeforeAllocatingAndClosesTheLink) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t maxPayload;
  };
  std::vector<uint8_t> wrongMarker = SimFrames::Header(FILE_DATA_MSG, 4, 0x47455420u);  // "GET "
  wrongMarker.insert(wrongMarker.end(), {'/', ' ', 'H', 'T'});
  const std::vector<Case> cases = {
      {"length 0xFFFFFFF0", SimFrames::Header(FILE_DATA_MSG, 0xFFFFFFF0u), ClProxyWire::kDefaultMaxPayload},
      {"length one above the default maximum", SimFrames::Header(FILE_DATA_MSG, ClProxyWire::kDefaultMaxPayload + 1),
       ClProxyWire::kDefaultMaxPayload},
      {"wrong marker", wrongMarker, ClProxyWire::kDefaultMaxPayload},
      {"length above a configured maximum", SimFrames::Header(FILE_DATA_MSG, 1025), 1024},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    m_sim.AddScript(SimScript().SendRaw(cases[i].bytes));
    std::unique_ptr<ClProxyConnection> connection = Connect();
    connection->setMaxPayload(cases[i].maxPayload);

    std::unique_ptr<ClProxyMsg> message;
    AllocProbe::Arm();
    CWqError result = Receive(*connection, message, 10);
    AllocProbe::Disarm();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
    EXPECT_NE(result.AsString().find("Bad frame"), std::string::npos) << result.AsString();
    EXPECT_LT(AllocProbe::Largest(), 1u << 20);
    EXPECT_FALSE(connection->getConnectionSocket().IsValid());
    // The peer sees the link end.
    EXPECT_TRUE(m_sim.WaitForConnection(i, 10));
    result = Receive(*connection, message, 1);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EBADF)) << result.AsString();
  }
}

TEST_F(ChannelTest, EndOfStreamResetAndTimeoutAreDistinct) {
  struct Case {
    const char* name;
    SimScript script;
    int seconds;
    int errNo;
    const char* text;
  };
  const std::vector<uint8_t> frame = SimFrames::Frame(FILE_DATA_MSG, Pattern(100, 1));
  const std::vector<Case> cases = {
      {"close between frames", SimScript().Close(), 10, ENOTCONN, "End of stream"},
      {"close inside a header", SimScript().SendRaw(SimFrames::Slice(frame, 0, 5)).Close(), 10, ENOTCONN,
       "after 5 of 12 header bytes"},
      {"close inside a payload", SimScript().SendRaw(SimFrames::Slice(frame, 0, 40)).Close(), 10, ENOTCONN,
       "after 28 of 100 payload bytes"},
      {"reset", SimScript().Reset(), 10, ECONNRESET, "reset"},
      {"silence", SimScript().Silent(-1), 1, ETIME, "within 1 seconds"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    m_sim.AddScript(cases[i].script);
    std::unique_ptr<ClProxyConnection> connection = Connect();
    std::unique_ptr<ClProxyMsg> message;
    CWqError result = Receive(*connection, message, cases[i].seconds);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, cases[i].errNo)) << result.AsString();
    EXPECT_NE(result.AsString().find(cases[i].text), std::string::npos) << result.AsString();
  }
}

TEST_F(ChannelTest, TimeoutInsideAFrameLosesNothing) {
  const std::vector<uint8_t> payload = Pattern(1000, 3);
  const std::vector<uint8_t> frame = SimFrames::Frame(FILE_DATA_MSG, payload);
  // Each part follows a ping that the proxy sends after its receive timed out.
  m_sim.AddScript(SimScript()
                      .SendRaw(SimFrames::Slice(frame, 0, 6))
                      .Expect(SERVICE_CHECK_MSG)
                      .SendRaw(SimFrames::Slice(frame, 6, 500))
                      .Expect(SERVICE_CHECK_MSG)
                      .SendRaw(SimFrames::Slice(frame, 500, frame.size())));
  std::unique_ptr<ClProxyConnection> connection = Connect();
  ClEmptyMsg ping(SERVICE_CHECK_MSG);
  std::unique_ptr<ClProxyMsg> message;

  for (int part = 0; part < 2; ++part) {
    CWqError result = Receive(*connection, message, 1, {FILE_DATA_MSG});
    ASSERT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
    result = connection->sendMessage(&ping);
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }
  CWqError result = Receive(*connection, message, 10, {FILE_DATA_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(BlobBytes(message.get()) == payload);
}

TEST_F(ChannelTest, NewConnectionOnTheLinkDropsAPartialFrameOfTheOldOne) {
  const std::vector<uint8_t> payload = Pattern(64, 4);
  m_sim.AddScript(SimScript().SendRaw(SimFrames::Slice(SimFrames::Frame(FILE_DATA_MSG, Pattern(64, 9)), 0, 7)).Silent(-1));
  m_sim.AddScript(SimScript().Reply(Blob(FILE_DATA_MSG, payload)));
  std::unique_ptr<ClProxyConnection> connection = Connect();
  std::unique_ptr<ClProxyMsg> message;
  CWqError result = Receive(*connection, message, 1);
  ASSERT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();

  ASSERT_FALSE(connection->getConnectionSocket().Close().IsError());
  result = ConnectLoopback(*connection, m_sim.GetPort());
  ASSERT_FALSE(result.IsError()) << result.AsString();
  result = Receive(*connection, message, 10);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(BlobBytes(message.get()) == payload);
}

TEST_F(ChannelTest, UnacceptedTypeIsDroppedAndTheLinkGoesOn) {
  const std::vector<uint8_t> payload = Pattern(100, 5);
  m_sim.AddScript(SimScript()
                      .Reply(std::make_shared<ClEmptyMsg>(DISCONNECT_MSG))
                      .Reply(Blob(FILE_DATA_MSG, payload))
                      .Reply(std::make_shared<ClEmptyMsg>(JOB_COMPLETE_MSG)));
  std::unique_ptr<ClProxyConnection> connection = Connect();
  std::unique_ptr<ClProxyMsg> message;

  CWqError result = Receive(*connection, message, 10, {FILE_DATA_MSG});
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
  EXPECT_NE(result.AsString().find("Unexpected message type 0x8007"), std::string::npos) << result.AsString();
  EXPECT_TRUE(connection->getConnectionSocket().IsValid());

  result = Receive(*connection, message, 10, {FILE_DATA_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(BlobBytes(message.get()) == payload);

  result = Receive(*connection, message, 10, {GOOD_EOF_MSG, JOB_COMPLETE_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(message->getMsgType(), JOB_COMPLETE_MSG);

  ClProxyMsg* raw = nullptr;
  result = connection->recvMessage(raw, std::vector<ClProxyMsgType>(), 1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
  EXPECT_EQ(raw, nullptr);
}

TEST_F(ChannelTest, TypedMessagesTravelAndAnUndecodablePayloadKeepsTheLink) {
  m_sim.AddScript(SimScript()
                      .Expect(LAUNCH_CMD_MSG)
                      .Reply(std::make_shared<ClLaunchCmdResponseMsg>(77))
                      .SendRaw(SimFrames::Frame(LAUNCH_RESPONSE_MSG, {0, 1}))  // an i32 needs 4 bytes
                      .Reply(std::make_shared<ClLaunchCmdResponseMsg>(78)));
  std::unique_ptr<ClProxyConnection> connection = Connect();
  for (int i = 0; i < 2; ++i) {  // the second send reuses the encoding buffer
    ClLaunchCmdMsg launch(4321, "SCN.EXE");
    ASSERT_FALSE(connection->sendMessage(&launch).IsError());
  }
  std::unique_ptr<ClProxyMsg> message;
  CWqError result = Receive(*connection, message, 10, {LAUNCH_RESPONSE_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  int32_t processId = 0;
  static_cast<ClLaunchCmdResponseMsg*>(message.get())->get(processId);
  EXPECT_EQ(processId, 77);

  result = Receive(*connection, message, 10, {LAUNCH_RESPONSE_MSG});
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
  EXPECT_TRUE(connection->getConnectionSocket().IsValid());
  result = Receive(*connection, message, 10, {LAUNCH_RESPONSE_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  static_cast<ClLaunchCmdResponseMsg*>(message.get())->get(processId);
  EXPECT_EQ(processId, 78);

  SimConnectionRecord record = m_sim.GetRecord(0);
  ASSERT_GE(record.received.size(), 1u);
  const ClLaunchCmdMsg* launch = dynamic_cast<const ClLaunchCmdMsg*>(record.received[0].get());
  ASSERT_NE(launch, nullptr);
  EXPECT_EQ(launch->getPort(), 4321);
  EXPECT_EQ(launch->getCommand(), "SCN.EXE");
}

TEST_F(ChannelTest, PeekShowsTheNextMessageWithoutTakingIt) {
  const std::vector<uint8_t> payload = Pattern(300, 6);
  m_sim.AddScript(SimScript().Reply(Blob(FILE_HEADER_MSG, payload)).Expect(SERVICE_CHECK_MSG).Close());
  std::unique_ptr<ClProxyConnection> connection = Connect();

  for (int look = 0; look < 2; ++look) {
    ClProxyMsgHeader header;
    CWqError result = connection->peekMessageHeader(header, 10);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(header.getMsgType(), FILE_HEADER_MSG);
    EXPECT_EQ(header.getPayloadLength(), 300u);
  }
  std::unique_ptr<ClProxyMsg> message;
  CWqError result = Receive(*connection, message, 10, {FILE_HEADER_MSG});
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(BlobBytes(message.get()) == payload);

  // Nothing waiting: a time-out, which callers read as "nothing to see".
  ClProxyMsgHeader header;
  result = connection->peekMessageHeader(header, -1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();

  // A link that has ended: the integer error 1 that means "check failed".
  ClEmptyMsg ping(SERVICE_CHECK_MSG);
  ASSERT_FALSE(connection->sendMessage(&ping).IsError());
  result = connection->peekMessageHeader(header, 10);
  EXPECT_TRUE(FXErrorUtil::IsInt(result, 1)) << result.AsString();
  EXPECT_NE(result.AsString().find("End of stream"), std::string::npos) << result.AsString();
}

TEST_F(ChannelTest, ConcurrentSendersNeverInterleaveFrames) {
  const int kPerSender = 60;
  const ClProxyMsgType types[2] = {FILE_DATA_MSG, FILE_HEADER_MSG};
  auto size = [](int sender, int n) { return static_cast<size_t>(64 * 1024 + 977 * n + 131 * sender); };
  std::unique_ptr<ClProxyConnection> connection = Connect();

  std::vector<CWqError> failures(2);
  std::vector<std::thread> senders;
  for (int sender = 0; sender < 2; ++sender) {
    senders.emplace_back([&, sender] {
      for (int n = 0; n < kPerSender && !failures[sender].IsError(); ++n) {
        std::vector<uint8_t> bytes = Pattern(size(sender, n), static_cast<uint32_t>(sender * 1000 + n));
        ClBlobMsg message(types[sender], ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
        failures[sender] = connection->sendMessage(&message);
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  for (const CWqError& failure : failures) ASSERT_FALSE(failure.IsError()) << failure.AsString();
  connection.reset();

  ASSERT_TRUE(m_sim.WaitForConnection(0, 60));
  SimConnectionRecord record = m_sim.GetRecord(0);
  EXPECT_FALSE(record.failure.IsError()) << record.failure.AsString();
  ASSERT_EQ(record.received.size(), static_cast<size_t>(2 * kPerSender));
  int next[2] = {0, 0};
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) {
    int sender = message->getMsgType() == types[0] ? 0 : 1;
    ASSERT_EQ(message->getMsgType(), types[sender]);
    int n = next[sender]++;
    ASSERT_TRUE(BlobBytes(message.get()) == Pattern(size(sender, n), static_cast<uint32_t>(sender * 1000 + n)))
        << "sender " << sender << " message " << n;
  }
}

TEST_F(ChannelTest, SendToAClosedPeerFailsWithoutSigpipe) {
  // The default action of SIGPIPE ends the process: the test would die.
  signal(SIGPIPE, SIG_DFL);
  m_sim.AddScript(SimScript().Close());
  std::unique_ptr<ClProxyConnection> connection = Connect();
  std::unique_ptr<ClProxyMsg> message;
  CWqError result = Receive(*connection, message, 10);
  ASSERT_TRUE(FXErrorUtil::IsErrNo(result, ENOTCONN)) << result.AsString();

  // The first write after the peer's close may still be taken by the kernel;
  // the peer answers it with a reset, and a later one fails.
  std::vector<uint8_t> bytes = Pattern(64 * 1024, 8);
  ClBlobMsg blob(FILE_DATA_MSG, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
  result = CWqError();
  for (int attempt = 0; attempt < 1000 && !result.IsError(); ++attempt) result = connection->sendMessage(&blob);
  ASSERT_TRUE(result.IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPIPE) || FXErrorUtil::IsErrNo(result, ECONNRESET)) << result.AsString();
}

TEST_F(ChannelTest, PayloadAboveTheMaximumIsNotSentAndTheLinkGoesOn) {
  std::unique_ptr<ClProxyConnection> connection = Connect();
  connection->setMaxPayload(100);
  ClBlobMsg tooBig(FILE_DATA_MSG, ClBlobMsg::Copy, Pattern(101, 1).data(), 101);
  CWqError result = connection->sendMessage(&tooBig);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EMSGSIZE)) << result.AsString();
  const std::vector<uint8_t> payload = Pattern(100, 2);
  ClBlobMsg fits(FILE_DATA_MSG, ClBlobMsg::Copy, payload.data(), 100);
  result = connection->sendMessage(&fits);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  connection.reset();

  ASSERT_TRUE(m_sim.WaitForConnection(0, 10));
  SimConnectionRecord record = m_sim.GetRecord(0);
  ASSERT_EQ(record.received.size(), 1u);
  EXPECT_TRUE(BlobBytes(record.received[0].get()) == payload);
}

}  // namespace
