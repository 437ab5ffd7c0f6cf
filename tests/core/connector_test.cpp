// The connector to the client daemon: which ids build a deployment manager,
// the software check before the connect, the refusal loop with its daemon
// starts and pauses (on the virtual clock), and the reuse of a live link.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ClProxyClientConnection.h"
#include "CoreTestUtil.h"
#include "FXClock.h"
#include "ProxyEventIds.h"
#include "ScopedSettingsRoot.h"
#include "SimClientDaemon.h"

using namespace coretest;

namespace {

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ClProxyClientConnection::ResetPauseSeconds();
  }
  void TearDown() override { ClProxyClientConnection::ResetPauseSeconds(); }

  size_t FailedAttempts(uint16_t port) const {
    return log.Count("Failed to connect to (127.0.0.1, " + std::to_string(port) + ")");
  }

  ScopedSettingsRoot settingsRoot;
  ScopedLogCapture log;
  ScopedManagerHooks managers;
};

TEST_F(ConnectorTest, RefusalTable) {
  const int64_t kMaxPauseMs = static_cast<int64_t>(ClProxyClientConnection::kMaxPauseSeconds) * 1000;
  struct Case {
    const char* name;
    int32_t velliconId, appId, clientId;
    bool noManage;
    long long pauseSetting;  // -1: absent
    int listenAtStart;       // the daemon starts listening with this start (0: never)
    bool startFails;
    size_t attempts;
    int starts, checks, managers;
    size_t pauses;
    int64_t pauseMs;
  } cases[] = {
      {"managed, daemon stays down", 0, 0, kClient, false, -1, 0, false, 7, 2, 1, 1, 6, 2000},
      {"pause setting 0", 0, 0, kClient, false, 0, 0, false, 7, 2, 1, 1, 6, 2000},
      {"pause setting 5", 0, 0, kClient, false, 5, 0, false, 7, 2, 1, 1, 6, 5000},
      {"huge pause setting is clamped", 0, 0, kClient, false, 1000000000000LL, 0, false, 7, 2, 1, 1, 6, kMaxPauseMs},
      {"manager from the subclient", kVellicon, kApp, 0, false, -1, 0, false, 7, 2, 1, 1, 6, 2000},
      {"noManage", 0, 0, kClient, true, -1, 0, false, 1, 0, 0, 1, 0, 0},
      {"no manager: application id 0", kVellicon, 0, 0, false, -1, 0, false, 1, 0, 0, 0, 0, 0},
      {"no manager: no ids", 0, 0, 0, false, -1, 0, false, 1, 0, 0, 0, 0, 0},
      {"daemon comes up with the 1st start", 0, 0, kClient, false, 3, 1, false, 2, 1, 1, 1, 1, 3000},
      {"daemon comes up with the 2nd start", 0, 0, kClient, false, 3, 2, false, 5, 2, 1, 1, 4, 3000},
      {"start refused (IBM i)", 0, 0, kClient, false, -1, 0, true, 1, 1, 1, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KXPlatformInfo settings;
    settings.deleteField("FileSystemAgent", "nTimeOutSecondsBetweenClientConnectCheck");
    if (c.pauseSetting >= 0)
      SetNumber("FileSystemAgent", "nTimeOutSecondsBetweenClientConnectCheck",
                static_cast<unsigned long>(c.pauseSetting));
    ClProxyClientConnection::ResetPauseSeconds();
    managers.hooks = std::make_shared<ManagerHooks>();
    ClClientManager::SetHooks(managers.hooks);
    log.Clear();

    SimClientDaemon daemon;
    ASSERT_FALSE(daemon.Reserve().IsError());
    managers.hooks->onStart = [&](int call) {
      if (c.startFails)
        return FXErrorUtil::ErrorEventMessage(FX_HERE, EV_CLIENT_CONNECT_FAILED, "Start/Stop not supported");
      if (call == c.listenAtStart) return daemon.Start();
      return CWqError::Success();
    };

    FXScopedVirtualClock clock;
    ClProxyClientConnection link;
    CWqError result =
        link.connectToClient("127.0.0.1", daemon.GetPort(), c.velliconId, c.appId, c.clientId, c.noManage);

    const bool connected = c.listenAtStart != 0;
    EXPECT_EQ(connected, !result.IsError()) << result.AsString();
    EXPECT_EQ(connected, link.getConnectionSocket().IsValid());
    EXPECT_EQ("127.0.0.1", link.remoteHost());
    EXPECT_EQ(c.attempts, FailedAttempts(daemon.GetPort()) + (connected ? 1 : 0));
    EXPECT_EQ(c.starts, managers.hooks->starts.load());
    EXPECT_EQ(c.checks, managers.hooks->checks.load());
    EXPECT_EQ(std::vector<int64_t>(c.pauses, c.pauseMs), clock.clock().Sleeps());
    std::vector<ManagerHooks::Built> built = managers.hooks->Managers();
    ASSERT_EQ(static_cast<size_t>(c.managers), built.size());
    if (!built.empty()) {
      EXPECT_EQ(daemon.GetPort(), built[0].port);
      EXPECT_EQ(c.clientId, built[0].clientId);
      EXPECT_EQ(c.clientId ? 0 : c.velliconId, built[0].velliconId);
      EXPECT_EQ(c.clientId ? 0 : c.appId, built[0].appId);
    }
    if (c.checks) {
      EXPECT_EQ(0, managers.hooks->lastJobId);
    }
    if (c.startFails) {
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_CONNECT_FAILED)) << result.AsString();
    } else if (!connected) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ECONNREFUSED)) << result.AsString();
      EXPECT_NE(std::string::npos, Texts(result).find("Failed to connect to server")) << result.AsString();
    }
  }
}

TEST_F(ConnectorTest, FailedCheckEndsTheConnectBeforeAnyAttempt) {
  SimClientDaemon daemon;
  ASSERT_FALSE(daemon.Start().IsError());
  managers.hooks->checkResult = FXErrorUtil::ErrorEventMessage(FX_HERE, 0x06000164, "install failed");
  ClProxyClientConnection link;
  CWqError result = link.connectToClient("127.0.0.1", daemon.GetPort(), 0, 0, kClient, false);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, 0x06000164)) << result.AsString();
  EXPECT_FALSE(log.Has("Will connect to client host"));
  EXPECT_FALSE(link.getConnectionSocket().IsValid());
  EXPECT_EQ("127.0.0.1", link.remoteHost());  // set before anything else
  EXPECT_EQ(0u, daemon.GetConnectionCount());
}

TEST_F(ConnectorTest, LiveLinkToTheSameHostIsReusedWithoutAnyCheck) {
  SimClientDaemon daemon;
  ASSERT_FALSE(daemon.Start().IsError());
  ClProxyClientConnection link;
  ASSERT_FALSE(link.connectToClient("127.0.0.1", daemon.GetPort(), 0, 0, 0, true).IsError());
  EXPECT_TRUE(log.Has("Will connect to client host [127.0.0.1] port " + std::to_string(daemon.GetPort())));
  EXPECT_TRUE(log.Has("Connected to server, serverHost=127.0.0.1, serverPort=" + std::to_string(daemon.GetPort())));
  const int descriptor = link.getConnectionSocket().GetSocketDescriptor();
  // Other ids, a manager, a check: none of it happens, not even the port is looked at.
  EXPECT_FALSE(link.connectToClient("127.0.0.1", 1, kVellicon, kApp, kClient, false).IsError());
  EXPECT_EQ(descriptor, static_cast<int>(link.getConnectionSocket().GetSocketDescriptor()));
  EXPECT_TRUE(managers.hooks->Managers().empty());
  EXPECT_EQ(0, managers.hooks->checks.load());
  ASSERT_TRUE(daemon.WaitForAccepted(1, 10));
  EXPECT_EQ(1u, daemon.GetConnectionCount());
}

TEST_F(ConnectorTest, PauseIsReadOnceAndKeptForTheProcess) {
  SetNumber("FileSystemAgent", "nTimeOutSecondsBetweenClientConnectCheck", 3);
  SimClientDaemon daemon;
  ASSERT_FALSE(daemon.Reserve().IsError());
  FXScopedVirtualClock clock;
  for (int round = 0; round < 2; ++round) {
    clock.clock().ClearSleeps();
    ClProxyClientConnection link;
    EXPECT_TRUE(link.connectToClient("127.0.0.1", daemon.GetPort(), 0, 0, kClient, false).IsError());
    EXPECT_EQ(std::vector<int64_t>(6, 3000), clock.clock().Sleeps()) << "round " << round;
    SetNumber("FileSystemAgent", "nTimeOutSecondsBetweenClientConnectCheck", 9);
  }
  ClProxyClientConnection::ResetPauseSeconds();
  EXPECT_EQ(9, ClProxyClientConnection::PauseSeconds());
}

TEST_F(ConnectorTest, UnresolvableHostFailsWithoutAnAttempt) {
  FXScopedVirtualClock clock;
  ClProxyClientConnection link;
  CWqError result = link.connectToClient("", 9401, 0, 0, kClient, false);
  EXPECT_TRUE(result.IsError());
  EXPECT_FALSE(log.Has("Failed to connect to ("));
  EXPECT_TRUE(clock.clock().Sleeps().empty());
  EXPECT_EQ(0, managers.hooks->starts.load());
}

}  // namespace
