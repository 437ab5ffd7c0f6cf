// The simulated daemon itself: scripts are served in accept order, and
// stopping never hangs on a peer that is waiting or blocked in a send.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "ChannelTestUtil.h"
#include "FXErrorUtil.h"
#include "SimDaemon.h"

using namespace channeltest;

namespace {

TEST(SimDaemonTest, ScriptsFollowAcceptOrderThenTheDefault) {
  SimDaemon sim;
  ASSERT_FALSE(sim.Start().IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(sim.Start(), EBUSY));
  sim.AddScript(SimScript().Reply(std::make_shared<ClEmptyMsg>(GOOD_EOF_MSG)).Close());
  sim.SetDefaultScript(SimScript().Expect(SERVICE_CHECK_MSG).Reply(std::make_shared<ClEmptyMsg>(JOB_COMPLETE_MSG)));

  const ClProxyMsgType expected[3] = {GOOD_EOF_MSG, JOB_COMPLETE_MSG, JOB_COMPLETE_MSG};
  for (int i = 0; i < 3; ++i) {
    ClProxyConnection connection;
    ASSERT_FALSE(ConnectLoopback(connection, sim.GetPort()).IsError());
    ClEmptyMsg ping(SERVICE_CHECK_MSG);
    ASSERT_FALSE(connection.sendMessage(&ping).IsError());
    ClProxyMsg* raw = nullptr;
    CWqError result = connection.recvMessage(raw, expected[i], 10);
    std::unique_ptr<ClProxyMsg> reply(raw);
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }
  ASSERT_TRUE(sim.WaitForConnection(0, 10));
  EXPECT_EQ(sim.GetRecord(0).stepsDone, 2u);
  EXPECT_EQ(sim.GetConnectionCount(), 3u);
}

TEST(SimDaemonTest, StopEndsPeersThatWaitOrAreBlockedSending) {
  ClProxyConnection silentLink, blockedLink;
  {
    SimDaemon sim;
    ASSERT_FALSE(sim.Start().IsError());
    sim.AddScript(SimScript().Silent(-1));
    // Far more than loopback buffers take while the proxy reads nothing.
    sim.AddScript(SimScript().Reply(Blob(FILE_DATA_MSG, std::vector<uint8_t>(32u << 20))));
    sim.AddScript(SimScript().Expect(FILE_DATA_MSG, 0));
    ClProxyConnection waitingLink;
    ASSERT_FALSE(ConnectLoopback(silentLink, sim.GetPort()).IsError());
    ASSERT_FALSE(ConnectLoopback(blockedLink, sim.GetPort()).IsError());
    ASSERT_FALSE(ConnectLoopback(waitingLink, sim.GetPort()).IsError());
    ASSERT_TRUE(sim.WaitForAccepted(3, 10));
    sim.Stop();
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(sim.GetRecord(i).finished) << "connection " << i;
  }
  // The proxy side sees the links end.
  ClProxyMsg* raw = nullptr;
  CWqError result = silentLink.recvMessage(raw, 10);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOTCONN)) << result.AsString();
}

}  // namespace
