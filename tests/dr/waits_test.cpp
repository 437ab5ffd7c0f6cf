// The go-down and come-up waits on the virtual clock against the simulated
// daemon: refused at once, never stopping, back after several attempts, never
// back, the quit flag, and a resumed job's own duration.
#include <gtest/gtest.h>

#include <memory>

#include "../services/ServicesTestUtil.h"
#include "FXClock.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "service/IBMiDRClientConnection.h"

namespace {

using servicetest::ServicesTest;

const int kApp = 17;
const long long kJob = 123456789012LL;

class DRWaitTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddSubclient(servicetest::kVellicon, kApp, servicetest::kClient);
    r.SetSubclientValue(servicetest::kVellicon, kApp, "DRDataPath", RecordValue("/home/drimage"));
    SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
    KXJobControlScript::Instance().Reset();
    ASSERT_TRUE(jobClient.init("central01", 0, kJob));
    state.reset(new IBMiDRStateInterface(servicetest::kVellicon, kApp, kJob));
  }
  void TearDown() override {
    KXJobControlScript::Instance().Reset();
    ServicesTest::TearDown();
  }
  // Configured against the running daemon, then its start link closed.
  std::unique_ptr<IBMiDRClientConnectionInterface> Configured(KXJobCtrlClient* control = nullptr) {
    std::unique_ptr<IBMiDRClientConnectionInterface> c(new IBMiDRClientConnectionInterface(
        &jobClient, control, servicetest::kVellicon, kApp, kJob, true, state));
    EXPECT_FALSE(c->configure(false).IsError());
    c->stopServicesOnClient();
    return c;
  }
  int64_t Elapsed() { return clock.clock().MonotonicMs() - m_startMs; }
  void MarkStart() { m_startMs = clock.clock().MonotonicMs(); }
  bool CauseRaised(uint32_t id) {
    for (const EventJournalEntry& e : EventJournal::Instance().Entries())
      if (e.messageType == PENDING_CAUSE_MESSAGE_TYPE && e.eventId == id) return true;
    return false;
  }
  bool CleanupScheduled() {
    std::string job;
    return KXPlatformInfo().getString("ProxyClients/ibmi5", "CleanUpFolderJob", &job) != 0 &&
           job == "123456789012";
  }

  ScopedResultsRoot results;
  FXScopedVirtualClock clock;
  KXBkpJobClient jobClient;
  boost::shared_ptr<IBMiDRStateInterface> state;
  int64_t m_startMs = 0;
};

TEST_F(DRWaitTest, GoDownAtFirstProbe) {
  auto c = Configured();
  daemon.Stop();
  clock.clock().ClearSleeps();
  MarkStart();
  EXPECT_FALSE(c->waitForServiceGoDown().IsError());
  EXPECT_EQ(180000, Elapsed());
  EXPECT_EQ((std::vector<int64_t>{60000, 120000}), clock.clock().Sleeps());
}

TEST_F(DRWaitTest, GoDownNeverHappens) {
  auto c = Configured();
  MarkStart();
  CWqError result = c->waitForServiceGoDown();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EAGAIN));
  EXPECT_TRUE(CauseRaised(EV_DR_SERVICES_NOT_STOPPED));
  EXPECT_GE(Elapsed(), 11 * 60000);
  EXPECT_LT(Elapsed(), 12 * 60000);
  EXPECT_FALSE(CleanupScheduled());
}

TEST_F(DRWaitTest, ComeUpAtFirstAttempt) {
  auto c = Configured();
  MarkStart();
  EXPECT_FALSE(c->waitForServiceComeUp().IsError());
  EXPECT_EQ(60000, Elapsed());
  EXPECT_TRUE(c->isConnected());
}

// The daemon goes away and a new one comes back on the same port later.
TEST_F(DRWaitTest, ComeUpAfterSeveralAttempts) {
  SimServiceDaemon back;
  back.SetBindAddress("127.0.0.1", daemon.GetPort());
  auto c = Configured();
  daemon.Stop();
  MarkStart();
  clock.clock().At(clock.clock().MonotonicMs() + 200000, [&] { ASSERT_FALSE(back.Start().IsError()); });
  EXPECT_FALSE(c->waitForServiceComeUp().IsError());
  EXPECT_GE(Elapsed(), 200000);
  EXPECT_LE(Elapsed(), 270000);
  EXPECT_TRUE(c->isConnected());
  EXPECT_TRUE(back.WaitForOpenLinks(1, 5));
  back.Stop();
}

TEST_F(DRWaitTest, ResumedJobHonoursItsDuration) {
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "IBMiBackupMaxTime", RecordValue(600));
  SimServiceDaemon back;
  back.SetBindAddress("127.0.0.1", daemon.GetPort());
  auto c = Configured();
  daemon.Stop();
  MarkStart();
  clock.clock().At(clock.clock().MonotonicMs() + 500LL * 60000, [&] { ASSERT_FALSE(back.Start().IsError()); });
  EXPECT_FALSE(c->waitForServiceComeUp().IsError());
  EXPECT_GE(Elapsed(), 500LL * 60000);
  back.Stop();
}

TEST_F(DRWaitTest, ComeUpNeverBack) {
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "IBMiBackupMaxTime", RecordValue(5));
  auto c = Configured();
  daemon.Stop();
  MarkStart();
  CWqError result = c->waitForServiceComeUp();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EAGAIN));
  EXPECT_GE(Elapsed(), 20 * 60000);
  EXPECT_LT(Elapsed(), 21 * 60000);
  EXPECT_TRUE(CauseRaised(EV_DR_CLIENT_NOT_BACK));
  EXPECT_TRUE(CleanupScheduled());
}

TEST_F(DRWaitTest, QuitFlagStopsComeUp) {
  KXJobCtrlClient control(kJob);
  auto c = Configured(&control);
  daemon.Stop();
  EventJournal::Instance().Reset();
  MarkStart();
  clock.clock().At(clock.clock().MonotonicMs() + 90000, [] { KXJobControlScript::Instance().RaiseQuitFlag(kJob); });
  CWqError result = c->waitForServiceComeUp();
  EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER));
  EXPECT_LE(Elapsed(), 100000);
  EXPECT_TRUE(EventJournal::Instance().Entries().empty());
  EXPECT_FALSE(CleanupScheduled());
}

TEST_F(DRWaitTest, DeadlineBeforeFirstAttemptStillTries) {
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "IBMiBackupMaxTime", RecordValue(-20));
  auto c = Configured();
  daemon.Stop();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(c->waitForServiceComeUp(), EAGAIN));
}

}  // namespace
