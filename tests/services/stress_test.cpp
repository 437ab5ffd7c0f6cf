// Many host threads on the cache at once while the release thread releases
// instances throughout: lookups, short operations, disconnects and drops of
// 16 threads over 4 clients and both kinds of share key, with a driver
// moving the virtual clock. Afterwards no link has carried two requests at
// once, and the reset leaves nothing behind.
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "FXClock.h"
#include "ServicesTestUtil.h"

using namespace servicetest;

namespace {

const int kThreads = 16;
const int kRounds = 25;

class StressTest : public ServicesTest {};

TEST_F(StressTest, ThreadsAndTheReleaseTimerShareTheCache) {
  FXScopedVirtualClock clock;
  // A receive ends when the virtual clock passes its limit: with a day's
  // limit, an answer has thousands of driver steps to arrive in, however
  // slow the build.
  ProxyServicesPrivate::SetFixedWaits(24 * 3600, 1);
  std::vector<std::unique_ptr<SimServiceDaemon>> others;
  std::vector<SimServiceDaemon*> daemons = {&daemon};
  for (int32_t client = kClient + 1; client < kClient + 4; ++client) {
    others.emplace_back(new SimServiceDaemon);
    ASSERT_FALSE(others.back()->Start().IsError());
    FillRecords(client, "127.0.0.1", others.back()->GetPort(), false);
    daemons.push_back(others.back().get());
  }
  const size_t descriptors = OpenDescriptors();

  std::atomic<int> running{kThreads};
  std::atomic<int> handles{0}, operations{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t * 7919 + 1));
      for (int round = 0; round < kRounds; ++round) {
        const int32_t client = kClient + static_cast<int32_t>(random() % 4);
        const int32_t key = random() % 2 ? 7 : 0;
        ProxyServicesPtr handle = ProxyServices::instanceForClient(key, client, 0, false, false);
        if (!handle) continue;
        ++handles;
        bool required = true;
        if (random() % 5 == 0) {
          handle->disconnectFromClient();
        } else if (!handle->isCreateIndexRequired(kVellicon, client, kApp, 1, required).IsError()) {
          ++operations;
        }
      }
      --running;
    });
  }
  // The timer releases throughout: each step is 30 virtual seconds, a
  // millisecond apart, so that the host threads' answers can arrive.
  std::thread driver([&] {
    while (running.load() > 0) {
      clock.clock().Advance(30 * 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (std::thread& thread : threads) thread.join();
  driver.join();

  EXPECT_GT(handles.load(), 0);
  EXPECT_GT(operations.load(), 0);
  for (SimServiceDaemon* one : daemons) EXPECT_EQ(0u, one->GetInterleavedRequests());
  ProxyServicesCache::Reset();
  EXPECT_EQ(0u, ProxyServicesCache::Size());
  EXPECT_FALSE(ProxyServicesCache::ReleaseThreadRunning());
  for (SimServiceDaemon* one : daemons) EXPECT_TRUE(one->WaitForOpenLinks(0, 10));
  EXPECT_TRUE(Eventually([&] { return OpenDescriptors() <= descriptors; }, 10))
      << OpenDescriptors() << " descriptors open, " << descriptors << " before";
}

}  // namespace
