// The release thread: its wait and scan as plain functions, then the thread
// itself on the virtual clock (no real-time wait anywhere).
#include "FXClock.h"
#include "FXEvent.h"
#include "FXThread.h"
#include "ServicesTestUtil.h"

using namespace servicetest;

namespace {

class ReleaseTimerTest : public ServicesTest {
 protected:
  // Waits until the release thread is parked in its `count`-th wait and
  // returns that wait in seconds (-1 when it is not).
  int64_t ParkedWait(size_t count) {
    FXEvent& event = ProxyServicesCache::WakeEvent();
    const size_t before = m_waitBase;
    if (!event.WaitUntilParked(before + count, 5)) return -1;
    std::vector<int64_t> waits = event.Waits();
    return waits[before + count - 1] / 1000;
  }
  void SetUp() override {
    ServicesTest::SetUp();
    m_waitBase = ProxyServicesCache::WakeEvent().Waits().size();
  }

  FXScopedVirtualClock clock;
  size_t m_waitBase = 0;
};

TEST_F(ReleaseTimerTest, WaitAndScanTable) {
  // Nothing idle: the thread's own sequence of passes.
  int32_t n = 1;
  int64_t now = 1000, next = 1000;
  std::vector<int32_t> waits;
  for (int pass = 0; pass < 4; ++pass) {
    const int32_t wait = ProxyServicesRelease::NextWait(n, now, next);
    waits.push_back(wait);
    now += wait;
    ++n;
    next = now + n * 120;
  }
  EXPECT_EQ((std::vector<int32_t>{240, 360, 240, 240}), waits);

  // One idle instance, one in use, one whose time has come.
  ProxyServicesPtr busy(new ProxyServices(boost::shared_ptr<ProxyServicesPrivate>(new ProxyServicesPrivate(0, 1))));
  boost::shared_ptr<ProxyServicesPrivate> idle(new ProxyServicesPrivate(0, 2));
  boost::shared_ptr<ProxyServicesPrivate> due(new ProxyServicesPrivate(0, 3));
  const int64_t start = FXTime();
  ProxyServicesPtr(new ProxyServices(due));  // idle from start, due at start + 120
  clock.clock().Advance(30 * 1000);
  ProxyServicesPtr(new ProxyServices(idle));  // due at start + 150
  std::list<boost::shared_ptr<ProxyServicesPrivate>> list{busy->instance(), idle, due};
  next = start + 1000;
  ProxyServicesRelease::Scan(list, start + 120, next);
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(busy->instance(), list.front());
  EXPECT_EQ(idle, list.back());
  EXPECT_EQ(start + 150, next);
  EXPECT_EQ(1u, due.use_count());  // released: only this test holds it
}

TEST_F(ReleaseTimerTest, IdleInstanceIsReleasedAfterTwoMinutesAndReusedBefore) {
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  boost::shared_ptr<ProxyServicesPrivate> instance = handle->instance();
  handle.reset();  // starts the thread and wakes it
  EXPECT_TRUE(ProxyServicesCache::ReleaseThreadRunning());
  EXPECT_EQ(240, ParkedWait(1));  // cut short by the drop
  EXPECT_EQ(120, ParkedWait(2));  // until the release time

  clock.clock().Advance(60 * 1000);
  handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  EXPECT_EQ(instance, handle->instance());
  EXPECT_EQ(1u, hooks->Ports().size());  // no new connect
  EXPECT_EQ(0, instance->releaseTime());
  handle.reset();  // now due at 180 s
  EXPECT_EQ(120, ParkedWait(3));
  instance.reset();

  clock.clock().Advance(119 * 1000);
  EXPECT_EQ(1u, ProxyServicesCache::Size());
  EXPECT_TRUE(daemon.WaitForOpenLinks(1, 5));  // still connected

  clock.clock().Advance(1000);
  EXPECT_EQ(240, ParkedWait(4));
  EXPECT_EQ(0u, ProxyServicesCache::Size());
  EXPECT_TRUE(daemon.WaitForClosed(0, 5));  // the release disconnected it
  EXPECT_EQ(1u, hooks->Ports().size());
}

TEST_F(ReleaseTimerTest, FailedLookupStartsTheThreadWhichThenWaitsLongerWithNothingIdle) {
  RecordRegistry::Instance().Reset();  // no record: the connect fails
  EXPECT_FALSE(ProxyServices::instanceForClient(kClient));
  EXPECT_EQ(0u, ProxyServicesCache::Size());
  EXPECT_TRUE(ProxyServicesCache::ReleaseThreadRunning());
  EXPECT_EQ(1u, LogCount("connectToClient failed."));
  EXPECT_EQ(1u, LogCount("Will release ProxyService instance"));

  EXPECT_EQ(240, ParkedWait(1));
  EXPECT_EQ(360, ParkedWait(2));
  clock.clock().Advance(360 * 1000);
  EXPECT_EQ(240, ParkedWait(3));
  clock.clock().Advance(240 * 1000);
  EXPECT_EQ(240, ParkedWait(4));
}

TEST_F(ReleaseTimerTest, FailedThreadStartIsLoggedAndTriedAgainAtTheNextDrop) {
  KXThread::FailNextStarts(1);
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  handle.reset();
  EXPECT_FALSE(ProxyServicesCache::ReleaseThreadRunning());
  EXPECT_EQ(1u, LogCount("Failed to start the ProxyService release thread"));

  handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  handle.reset();
  EXPECT_TRUE(ProxyServicesCache::ReleaseThreadRunning());
  EXPECT_EQ(1u, hooks->Ports().size());
}

}  // namespace
