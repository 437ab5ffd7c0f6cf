// The lookup: which instance a request takes, when it connects, and what a
// failed lookup and a dropped handle leave behind.
#include "ServicesTestUtil.h"

using namespace servicetest;

namespace {

class CacheTest : public ServicesTest {};

TEST_F(CacheTest, WhichInstanceALookupTakes) {
  // Key 0: a held instance is passed over; once both are idle the older one
  // is taken again.
  ProxyServicesPtr first = ProxyServices::instanceForClient(0, kClient, 0, false, true);
  ProxyServicesPtr second = ProxyServices::instanceForClient(0, kClient, 0, false, true);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->instance(), second->instance());
  EXPECT_EQ(2u, hooks->Ports().size());
  boost::shared_ptr<ProxyServicesPrivate> older = first->instance();
  first.reset();
  second.reset();
  ProxyServicesPtr third = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(third);
  EXPECT_EQ(older, third->instance());
  EXPECT_EQ(2u, hooks->Ports().size());
  EXPECT_EQ(2, hooks->checks.load());  // each new connection was checked
  third.reset();

  // A non-zero key shares one instance while it is held; the release time
  // is set only when its last handle goes.
  ProxyServicesPtr a = ProxyServices::instanceForClient(7, kClient, 0, false, true);
  ProxyServicesPtr b = ProxyServices::instanceForClient(7, kClient, 0, false, true);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->instance(), b->instance());
  EXPECT_EQ(3u, hooks->Ports().size());
  b.reset();
  EXPECT_EQ(0, a->instance()->releaseTime());
  boost::shared_ptr<ProxyServicesPrivate> shared = a->instance();
  a.reset();
  EXPECT_GT(shared->releaseTime(), 0);
  EXPECT_EQ(3u, ProxyServicesCache::Size());
  EXPECT_TRUE(daemon.WaitForAccepted(3, 5));
}

TEST_F(CacheTest, ClosedIdleInstanceIsReconnectedByTheNextLookup) {
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  EXPECT_FALSE(handle->disconnectFromClient().IsError());
  EXPECT_FALSE(handle->instance()->isConnected());
  EXPECT_FALSE(handle->disconnectFromClient().IsError());  // nothing to do
  boost::shared_ptr<ProxyServicesPrivate> instance = handle->instance();
  handle.reset();
  handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  EXPECT_EQ(instance, handle->instance());
  EXPECT_TRUE(instance->isConnected());
  EXPECT_EQ(2u, hooks->Ports().size());
  EXPECT_TRUE(Eventually([&] { return daemon.GetLaunchCount() == 2; }));
}

TEST_F(CacheTest, FailedLookupLeavesNothingCachedAndTheNextOneStartsAfresh) {
  RecordRegistry::Instance().SetClientHasProperties(kClient, false);
  EXPECT_FALSE(ProxyServices::instanceForClient(kClient));
  EXPECT_EQ(0u, ProxyServicesCache::Size());
  EXPECT_TRUE(ProxyServicesCache::ReleaseThreadRunning());
  EXPECT_EQ(0u, hooks->Ports().size());  // nothing reached the network

  RecordRegistry::Instance().SetClientHasProperties(kClient, true);
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  EXPECT_EQ(1u, ProxyServicesCache::Size());
}

TEST_F(CacheTest, HandleOnAReleasedInstanceDestroysItWhenDropped) {
  ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(daemon.WaitForAccepted(1, 5));
  ProxyServicesCache::Reset();  // gone from the cache while held
  EXPECT_EQ(0u, ProxyServicesCache::Size());
  EXPECT_TRUE(handle->instance()->isConnected());
  EXPECT_FALSE(daemon.WaitForClosed(0, 0));
  handle.reset();
  EXPECT_TRUE(daemon.WaitForClosed(0, 5));
}

TEST_F(CacheTest, InertHandleAnswersServiceAlreadyReleased) {
  ProxyServices inert((boost::shared_ptr<ProxyServicesPrivate>()));
  bool required = false;
  const std::vector<std::pair<const char*, std::function<CWqError()>>> operations = {
      {"disconnectFromClient", [&] { return inert.disconnectFromClient(); }},
      {"createNewFolder", [&] { return inert.createNewFolder("/a"); }},
      {"commitBackupJob", [&] { return inert.commitBackupJob(1, 2, 3, 4); }},
      {"prepareVTLTape", [&] { return inert.prepareVTLTape("TAP01", "T00001"); }},
      {"clearCreateIndexFlag", [&] { return inert.clearCreateIndexFlag(kVellicon, kClient, kApp, 1); }},
      {"createIndexComplete", [&] { return inert.createIndexComplete(kVellicon, kClient, kApp, 1); }},
      {"isCreateIndexRequired", [&] { return inert.isCreateIndexRequired(kVellicon, kClient, kApp, 1, required); }},
      {"machineBrowse", [&] {
         std::string path = "/lib";
         return inert.machineBrowse(&path[0], CWqSocket(), 1, 0, false, nullptr, nullptr, nullptr);
       }},
      {"downloadLogFiles", [&] { return inert.downloadLogFiles("/nonexistent/logs", 1); }},
      {"downloadDirChangeFile", [&] { return inert.downloadDirChangeFile("/nonexistent/dc.tmp", 2, 10, 1001); }},
  };
  for (const auto& operation : operations) {
    SCOPED_TRACE(operation.first);
    CWqError result = operation.second();
    EXPECT_TRUE(FXErrorUtil::IsWin32(result, 6));
    EXPECT_NE(std::string::npos, Texts(result).find("service already released"));
  }
  EXPECT_TRUE(required);
}

}  // namespace
