// A long-lived host process holds many descriptors: the channel and the
// simulated daemon must work with descriptor numbers above 1023, where
// select() would fail.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "ChannelTestUtil.h"
#include "CWqSocketSelector.h"
#include "FXErrorUtil.h"
#include "SimDaemon.h"

using namespace channeltest;

namespace {

// Occupies every free descriptor below 1024, so that every descriptor opened
// while it lives is 1024 or above. Closes them when it goes.
class LowDescriptorFiller {
 public:
  ~LowDescriptorFiller() {
    for (int fd : m_fds) close(fd);
  }

  // False when the descriptor limit cannot be raised far enough.
  bool Fill() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    const rlim_t wanted = 1024 + 256;
    if (limit.rlim_cur < wanted) {
      if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < wanted) return false;
      limit.rlim_cur = wanted;
      if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    }
    for (;;) {
      int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) return false;
      if (fd >= 1024) {
        close(fd);
        return true;
      }
      m_fds.push_back(fd);
    }
  }

 private:
  std::vector<int> m_fds;
};

TEST(HighDescriptorTest, ChannelAndDaemonWorkAboveDescriptor1023) {
  LowDescriptorFiller filler;
  if (!filler.Fill()) GTEST_SKIP() << "the descriptor limit cannot be raised above 1024";

  SimDaemon sim;
  CWqError result = sim.Start();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  const std::vector<uint8_t> payload = Pattern(70000, 11);
  sim.AddScript(SimScript().Expect(FILE_DATA_MSG).Reply(Blob(FILE_HEADER_MSG, payload)).Silent(-1));

  ClProxyConnection connection;
  result = ConnectLoopback(connection, sim.GetPort());
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_GE(static_cast<int>(connection.getConnectionSocket().GetSocketDescriptor()), 1024);

  ClBlobMsg request(FILE_DATA_MSG, ClBlobMsg::Copy, payload.data(), static_cast<uint32_t>(payload.size()));
  result = connection.sendMessage(&request);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ClProxyMsg* raw = nullptr;
  result = connection.recvMessage(raw, FILE_HEADER_MSG, 10);
  std::unique_ptr<ClProxyMsg> reply(raw);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(BlobBytes(reply.get()) == payload);
  EXPECT_TRUE(BlobBytes(sim.GetRecord(0).received.at(0).get()) == payload);

  // Waits on the high descriptor run out as time-outs, not as failures.
  result = connection.recvMessage(raw, 1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  CWqSocketSelector selector;
  selector.SetReadSocket(connection.getConnectionSocket());
  bool timedOut = false;
  result = selector.Select(1, &timedOut);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(timedOut);
}

}  // namespace
