// The IBM i update through the daemon, on the virtual clock against the
// simulated daemon: the package, the acknowledgement, the services going
// down, and the daemon coming back (a new simulated daemon on the same port).
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "FXClock.h"
#include "FXThread.h"
#include "ISendEventInterface.h"
#include "ProxyEventIds.h"
#include "SimServiceDaemon.h"

namespace {

using deploytest::DeployTest;
using deploytest::HookClock;
using deploytest::kIbmiClient;

const long long kJob = 4242;

// Keeps the events the update raises.
class RecordingSender : public ISendEventInterface {
 public:
  void SendEvent(const CWqError&, int, long long, int) override {}
  void SendInfoEvent(const CWqError& error, long long jobId, int) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ids.push_back(FXErrorUtil::GetEventMessage(error));
    std::vector<boost::any> parameters = error.GetParameters();
    hosts.push_back(parameters.empty() ? "" : boost::any_cast<std::string>(parameters[0]));
    jobs.push_back(jobId);
  }
  void SendMinorEvent(const CWqError&, long long, int) override {}
  void SendMajorEvent(const CWqError&, long long, int) override {}
  void SendCriticalEvent(const CWqError&, long long, int) override {}
  void SetPendingCause(const CWqError&, long long) override {}
  void SetPendingCauseAndEvent(const CWqError&, int, int) override {}
  void SetPendingCauseAndCriticalEvent(const CWqError&, int) override {}

  std::mutex m_mutex;
  std::vector<uint32_t> ids;
  std::vector<std::string> hosts;
  std::vector<long long> jobs;
};

class UpdateTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    clock = std::make_shared<HookClock>();
    FXSetClock(clock);
    ASSERT_FALSE(daemon.Start().IsError());
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon.GetPort()));
    manager = Loaded(kIbmiClient, "127.0.0.1");
    KXPlatformInfo settings;
    settings.setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_ACK", 5);
    settings.setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_RECONNECT", 20);
    sender.reset(new RecordingSender);
    ISendEventInterface::SetInstance(sender);
    start = clock->MonotonicMs();
    Package(std::string(2 * 65536 + 100, 'k'));
  }
  void TearDown() override {
    FXSetClock(nullptr);
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    DeployTest::TearDown();
  }
  void Package(const std::string& bytes) {
    ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/KXINSTPKG.savf", bytes));
  }
  // A daemon on the update daemon's port, not started yet.
  SimServiceDaemon& Back() {
    backs.emplace_back(new SimServiceDaemon);
    backs.back()->SetBindAddress("127.0.0.1", daemon.GetPort());
    backs.back()->SetVersionReply("5:21:");
    return *backs.back();
  }
  // The services stop after the acknowledgement: the first probe pause waits
  // until the link is closed, so the probe after it is the first or second
  // after the close. The 60-second pause takes the update daemon down and
  // runs `then`.
  void GoDown(std::function<void(int64_t, int)> then) {
    clock->onSleep = [this, then](int64_t ms, int seen) {
      if (ms == 3000 && seen == 1) { EXPECT_TRUE(daemon.WaitForOpenLinks(0, 10)); }
      if (ms == 60000) daemon.Stop();
      if (then) then(ms, seen);
    };
  }
  // The sleeps from the 60-second pause on, after checking the probe phase:
  // at most two probes went out after the first one.
  std::vector<int64_t> SleepsFromPause() {
    std::vector<int64_t> all = clock->Sleeps();
    auto pause = std::find(all.begin(), all.end(), 60000);
    EXPECT_LE(pause - all.begin(), 2);
    EXPECT_TRUE(std::all_of(all.begin(), pause, [](int64_t s) { return s == 3000; }));
    return std::vector<int64_t>(pause, all.end());
  }

  std::shared_ptr<HookClock> clock;
  SimServiceDaemon daemon;
  std::vector<std::unique_ptr<SimServiceDaemon>> backs;
  std::unique_ptr<ClClientManager> manager;
  boost::shared_ptr<RecordingSender> sender;
  int64_t start = 0;
};

TEST_F(UpdateTest, PackageGoesOutAndTheDaemonComesBack) {
  SimServiceDaemon& back = Back();
  GoDown([&](int64_t ms, int) {
    if (ms == 60000) { EXPECT_FALSE(back.Start().IsError()); }
  });
  CWqError result = manager->updateIBMI(kJob);
  ASSERT_FALSE(result.IsError()) << result.AsString();

  EXPECT_EQ(daemon.GetPackage(), std::vector<uint8_t>(2 * 65536 + 100, 'k'));
  EXPECT_EQ(daemon.GetPackageBlocks(), 3u);
  EXPECT_EQ(daemon.GetPackageEnd(), GOOD_EOF_MSG);
  EXPECT_EQ(daemon.GetLaunchCount(), 1u);
  EXPECT_EQ(SleepsFromPause(), (std::vector<int64_t>{60000, 5000, 5000}));
  // Two links on the returned daemon, each ended with DISCONNECT_MSG.
  EXPECT_TRUE(back.WaitForClosed(0, 10));
  EXPECT_TRUE(back.WaitForClosed(1, 10));
  EXPECT_EQ(back.GetConnectionCount(), 2u);
  EXPECT_EQ(back.GetRequests(), (std::vector<ClProxyMsgType>{DISCONNECT_MSG, DISCONNECT_MSG}));
  EXPECT_EQ(sender->ids, (std::vector<uint32_t>{EV_CLIENT_OUT_OF_DATE, EV_CLIENT_INSTALL_STARTED}));
  EXPECT_EQ(sender->hosts, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
  EXPECT_EQ(sender->jobs, (std::vector<long long>{kJob, kJob}));
}

TEST_F(UpdateTest, RefusalAfterOneSuccessStartsTheCountAgain) {
  SimServiceDaemon& first = Back();
  SimServiceDaemon& second = Back();
  // Up for the first connect, down for the second, up again for the retry.
  GoDown([&](int64_t ms, int seen) {
    if (ms == 60000) { EXPECT_FALSE(first.Start().IsError()); }
    if (ms == 5000 && seen == 2) first.Stop();
    if (ms == 15000 && seen == 1) { EXPECT_FALSE(second.Start().IsError()); }
  });
  deploytest::ScopedCapture capture(-1);
  CWqError result = manager->updateIBMI(kJob);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(capture.Count("Failed to connect on second attempt."), 1u);
  EXPECT_EQ(SleepsFromPause(), (std::vector<int64_t>{60000, 5000, 5000, 15000, 5000}));
}

TEST_F(UpdateTest, NeverBackFailsAfterTheReconnectLimit) {
  GoDown(nullptr);
  CWqError result = manager->updateIBMI(kJob);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED));
  EXPECT_NE(result.AsString().find("Services down or network error"), std::string::npos);
  const std::vector<int64_t> sleeps = SleepsFromPause();
  ASSERT_GE(sleeps.size(), 3u);
  // 15-second retries until 600 s after the acknowledgement, then 30 s.
  const auto slow = std::find(sleeps.begin(), sleeps.end(), 30000);
  ASSERT_NE(slow, sleeps.end());
  EXPECT_TRUE(std::all_of(sleeps.begin() + 2, slow, [](int64_t s) { return s == 15000; }));
  EXPECT_TRUE(std::all_of(slow, sleeps.end(), [](int64_t s) { return s == 30000; }));
  const int64_t elapsed = clock->MonotonicMs() - start;
  EXPECT_GT(elapsed, 1200000);
  EXPECT_LE(elapsed, 1200000 + 30000);
}

TEST_F(UpdateTest, ServicesThatNeverStop) {
  KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_SERVICES_STOP", 10);
  daemon.SetProbesBeforeClose(-1);
  deploytest::ScopedCapture capture;
  CWqError result = manager->updateIBMI(kJob);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED));
  EXPECT_NE(result.AsString().find("Client services didn't stop as part of the update installation."),
            std::string::npos);
  EXPECT_TRUE(capture.Has("Client services didn't stop as part of the update installation."));
  const int64_t elapsed = clock->MonotonicMs() - start;
  EXPECT_GT(elapsed, 10000);
  EXPECT_LE(elapsed, 13000);
  EXPECT_TRUE(daemon.WaitForOpenLinks(0, 10));
  EXPECT_GE(daemon.GetProbeCount(), 4u);
}

TEST_F(UpdateTest, AcknowledgementTable) {
  const struct {
    const char* name;
    SimServiceDaemon::UpdateAck ack;
    bool packageFile;
    std::string bytes;
    const char* text;
    ClProxyMsgType end;
    size_t blocks;
  } cases[] = {
      {"bad end", SimServiceDaemon::kAckBadEof, true, "abc", "can't copy package to remote machine", GOOD_EOF_MSG, 1},
      {"version instead", SimServiceDaemon::kAckVersion, true, "abc", "can't copy package to remote machine",
       GOOD_EOF_MSG, 1},
      {"silence", SimServiceDaemon::kAckSilent, true, "abc", "message receive failed", GOOD_EOF_MSG, 1},
      {"empty package", SimServiceDaemon::kAckBadEof, true, "", "can't copy package to remote machine", GOOD_EOF_MSG,
       0},
      {"package missing", SimServiceDaemon::kAckAsSent, false, "", "can't copy package to remote machine",
       BAD_EOF_MSG, 0},
  };
  KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_ACK", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimServiceDaemon peer;
    ASSERT_FALSE(peer.Start().IsError());
    peer.SetUpdateAck(c.ack);
    ClClientManager m("127.0.0.1", peer.GetPort(), kIbmiClient);
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(peer.GetPort()));
    ASSERT_FALSE(m.initData().IsError());
    const std::string package = tools.PackageFolder("iSeries") + "/KXINSTPKG.savf";
    if (c.packageFile)
      Package(c.bytes);
    else
      ::unlink(package.c_str());
    sender->ids.clear();
    CWqError result = m.updateIBMI(kJob);
    ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED));
    EXPECT_NE(result.AsString().find(c.text), std::string::npos) << result.AsString();
    EXPECT_EQ(peer.GetPackageEnd(), c.end);
    EXPECT_EQ(peer.GetPackageBlocks(), c.blocks);
    EXPECT_EQ(sender->ids, (std::vector<uint32_t>{EV_CLIENT_OUT_OF_DATE, EV_CLIENT_INSTALL_STARTED,
                                                  EV_CLIENT_INSTALL_FAILED}));
    EXPECT_TRUE(clock->Sleeps().empty());
  }
}

// The installation check of a client whose daemon reports an older version
// than the package description: the update goes out, and the version asked
// afterwards decides what the check records.
TEST_F(UpdateTest, CheckOfAnOutdatedClient) {
  const struct {
    const char* name;
    SimServiceDaemon::UpdateAck ack;
    const char* versionAfter;  // null: the daemon does not come back
    bool confirmed;
    bool fails;
  } cases[] = {
      {"confirmed afterwards", SimServiceDaemon::kAckAsSent, "5:21:OSVERSION=V7R5M0", true, false},
      {"old version afterwards", SimServiceDaemon::kAckAsSent, "5:20:", false, false},
      {"package refused", SimServiceDaemon::kAckBadEof, nullptr, false, true},
  };
  ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/pkginfo.dat", "5:21:\n"));
  const std::string section = "ProxyClients/ibmi1";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClClientManager::ResetVersionCheckState();
    KXPlatformInfo settings;
    settings.deleteSection(section);
    clock = std::make_shared<HookClock>();
    FXSetClock(clock);
    sender->ids.clear();
    SimServiceDaemon outdated;
    outdated.SetVersionReply("5:20:");
    outdated.SetUpdateAck(c.ack);
    ASSERT_FALSE(outdated.Start().IsError());
    SimServiceDaemon updated;
    updated.SetBindAddress("127.0.0.1", outdated.GetPort());
    if (c.versionAfter) updated.SetVersionReply(c.versionAfter);
    clock->onSleep = [&](int64_t ms, int seen) {
      if (ms == 3000 && seen == 1) { EXPECT_TRUE(outdated.WaitForOpenLinks(0, 10)); }
      if (ms == 60000) {
        outdated.Stop();
        EXPECT_FALSE(updated.Start().IsError());
      }
    };
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(outdated.GetPort()));
    std::unique_ptr<ClClientManager> checking = Loaded(kIbmiClient, "127.0.0.1");
    const unsigned long next = static_cast<unsigned long>(FXTime()) + 5 * 3600;
    deploytest::ScopedCapture capture(-1);

    CWqError result = checking->isClientInstalledAndUptodate(nullptr, kJob);

    EXPECT_EQ(c.fails, result.IsError()) << result.AsString();
    if (c.fails) {
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
    }
    unsigned long checkBinary = 0;
    std::string checked;
    settings.getNumber(section, "checkBinary", &checkBinary);
    settings.getString(section, "packageChecked", &checked);
    EXPECT_EQ(c.confirmed ? next : static_cast<unsigned long>(FXTime()) + 1800, checkBinary);
    EXPECT_EQ(c.confirmed ? "5:21:" : "", checked);
    std::vector<uint32_t> events{EV_CLIENT_OUT_OF_DATE, EV_CLIENT_INSTALL_STARTED};
    if (!c.confirmed) events.push_back(EV_CLIENT_INSTALL_FAILED);
    EXPECT_EQ(events, sender->ids);
    EXPECT_EQ(GOOD_EOF_MSG, outdated.GetPackageEnd());
    EXPECT_EQ(c.confirmed ? 0u : 1u, capture.Count("The client update was unsuccessful. Will try to use client binaries."));
    clock->onSleep = nullptr;
    FXSetClock(nullptr);
  }
}

TEST_F(UpdateTest, RefusedAtTheStartWithoutEventSender) {
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  SimServiceDaemon down;
  ASSERT_FALSE(down.Reserve().IsError());
  ClClientManager m("127.0.0.1", down.GetPort(), kIbmiClient);
  deploytest::ScopedCapture capture(-1);
  CWqError result = m.updateIBMI(kJob);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 111));
  EXPECT_TRUE(capture.Has("No event sender: event 0x060000a1"));
  EXPECT_TRUE(clock->Sleeps().empty());
}

}  // namespace
