// The service connection: the client record, the check of an open
// connection (address, waiting messages, probes) and a new connect.
#include "ClBasicMsgs.h"
#include "ClProxyClientConnection.h"
#include "ClProxyWire.h"
#include "ProxyEventIds.h"
#include "ServicesTestUtil.h"

using namespace servicetest;

namespace {

class ConnectionTest : public ServicesTest {
 protected:
  // A connected handle, its link accepted by `daemon`.
  ProxyServicesPtr Connected() {
    ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
    EXPECT_TRUE(handle);
    EXPECT_TRUE(daemon.WaitForAccepted(1, 5));
    EXPECT_TRUE(Eventually([&] { return daemon.GetLaunchCount() == 1; }));
    return handle;
  }
  CWqError Recheck(const ProxyServicesPtr& handle) { return handle->instance()->connectToClient(0, false, false); }
};

TEST_F(ConnectionTest, ClientRecordTable) {
  struct Case {
    const char* name;
    std::function<void()> records;
    const char* text;        // expected failure text, null for a connect attempt
    uint16_t port;           // port of that attempt
  } cases[] = {
      {"no port: 9401", [] { FillRecords(kClient, "127.0.0.1", 0); }, nullptr, 9401},
      {"port 0: 9401", [] { FillRecords(kClient, "127.0.0.1", 0);
                            RecordRegistry::Instance().SetClientValue(kClient, "KXDPort", 0); }, nullptr, 9401},
      {"port beyond the range: 9401, not the port cut to 16 bits",
       [] { FillRecords(kClient, "127.0.0.1", 0);
            RecordRegistry::Instance().SetClientValue(kClient, "KXDPort", 65536 + 4000); }, nullptr, 9401},
      {"port failing", [] { FillRecords(kClient, "127.0.0.1", 4000);
                            RecordRegistry::Instance().FailGetter("KXClient::getKXDPort", 5); }, nullptr, 9401},
      {"no properties", [] { FillRecords(kClient, "127.0.0.1", 4000);
                             RecordRegistry::Instance().SetClientHasProperties(kClient, false); },
       "Failed to get client properties. Client ID [5]", 0},
      {"no host name", [] { FillRecords(kClient, "127.0.0.1", 4000);
                            RecordRegistry::Instance().FailGetter("KXClient::getNetworkHostname", 3); },
       "Failed to get proxy host name. Client ID [5]", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hooks = std::make_shared<StopHooks>();
    ClClientManager::SetHooks(hooks);
    c.records();
    ProxyServicesPrivate instance(0, kClient);
    CWqError result = instance.connectToClient(0, true, false);
    EXPECT_TRUE(result.IsError());
    EXPECT_FALSE(instance.isConnected());
    if (c.text) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL));
      EXPECT_NE(std::string::npos, Texts(result).find(c.text));
      EXPECT_TRUE(hooks->Ports().empty());
    } else {
      EXPECT_EQ(std::vector<uint16_t>{c.port}, hooks->Ports());
    }
  }
}

TEST_F(ConnectionTest, OpenConnectionChecks) {
  struct Case {
    const char* name;
    std::function<void(SimServiceDaemon&)> meanwhile;  // on the idle link
    bool reconnects;
    size_t probes;
  } cases[] = {
      {"idle: two probes, kept", [](SimServiceDaemon&) {}, false, 2},
      {"two unrelated messages drained, then probes", [](SimServiceDaemon& d) {
         d.SendOnLink(0, ClEmptyMsg(JOB_COMPLETE_MSG));
         d.SendOnLink(0, ClEmptyMsg(GOOD_EOF_MSG)); }, false, 2},
      {"disconnect message", [](SimServiceDaemon& d) { d.SendOnLink(0, ClEmptyMsg(DISCONNECT_MSG)); }, true, 0},
      {"a flood is drained only so far", [](SimServiceDaemon& d) {
         for (int i = 0; i < 100; ++i) d.SendOnLink(0, ClEmptyMsg(GOOD_EOF_MSG)); }, true, 0},
      {"a message cut short", [](SimServiceDaemon& d) {
         std::vector<uint8_t> frame(ClProxyWire::kHeaderSize + 10);
         ClProxyWire::EncodeHeader(FILE_DATA_MSG, 100, frame.data());
         d.SendRawOnLink(0, frame); }, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimServiceDaemon local;
    ASSERT_FALSE(local.Start().IsError());
    FillRecords(kClient, "127.0.0.1", local.GetPort());
    hooks = std::make_shared<StopHooks>();
    ClClientManager::SetHooks(hooks);
    ProxyServicesPtr handle = ProxyServices::instanceForClient(kClient);
    ASSERT_TRUE(handle);
    ASSERT_TRUE(Eventually([&] { return local.GetLaunchCount() == 1; }));
    c.meanwhile(local);
    // What the daemon sent is in the proxy's receive queue once sent: loopback
    // delivers within the send.
    EXPECT_FALSE(Recheck(handle).IsError());
    EXPECT_TRUE(handle->instance()->isConnected());
    EXPECT_EQ(c.reconnects ? 2u : 1u, hooks->Ports().size());
    EXPECT_TRUE(Eventually([&] { return local.GetLaunchCount() == (c.reconnects ? 2u : 1u); }));
    EXPECT_TRUE(Eventually([&] { return local.GetProbeCount() == c.probes; }));
    EXPECT_TRUE(hooks->Stopped().empty());
    handle.reset();
    ProxyServicesCache::Reset();
  }
}

TEST_F(ConnectionTest, AddressCheckAcceptsAnyAddressOfTheHost) {
  // ibmi1 has two addresses; after the connect it lists the other one first.
  std::atomic<int> calls{0};
  CWqIPAddr::SetResolver([&](const std::string& host, int, std::vector<CWqIPAddr>& out) {
    if (host != "ibmi1") return false;
    CWqIPAddr one, three;
    CWqIPAddr::GetByName("127.0.0.1", one);
    CWqIPAddr::GetByName("127.0.0.3", three);
    out = calls++ == 0 ? std::vector<CWqIPAddr>{one, three} : std::vector<CWqIPAddr>{three, one};
    return true;
  });
  FillRecords(kClient, "ibmi1", daemon.GetPort());
  ProxyServicesPtr handle = Connected();
  EXPECT_FALSE(Recheck(handle).IsError());
  EXPECT_FALSE(Recheck(handle).IsError());
  EXPECT_TRUE(hooks->Stopped().empty());
  EXPECT_EQ(1u, hooks->Ports().size());
  EXPECT_TRUE(Eventually([&] { return daemon.GetProbeCount() == 4; }));
}

TEST_F(ConnectionTest, MovedHostStopsTheClientThereAndConnectsToIt) {
  ProxyServicesPtr handle = Connected();
  SimServiceDaemon moved;
  moved.SetBindAddress("127.0.0.2", daemon.GetPort());
  ASSERT_FALSE(moved.Start().IsError());
  FillRecords(kClient, "127.0.0.2", daemon.GetPort());

  EXPECT_FALSE(Recheck(handle).IsError());
  EXPECT_EQ(std::vector<std::string>{"127.0.0.2"}, hooks->Stopped());
  EXPECT_TRUE(daemon.WaitForClosed(0, 5));
  EXPECT_TRUE(Eventually([&] { return moved.GetLaunchCount() == 1; }));
  EXPECT_EQ(1u, daemon.GetConnectionCount());
}

TEST_F(ConnectionTest, FailedConnectRaisesTheCriticalEventOnlyWhenAsked) {
  SimServiceDaemon down;
  ASSERT_FALSE(down.Reserve().IsError());  // refuses
  FillRecords(kClient, "127.0.0.1", down.GetPort());
  for (bool critical : {false, true}) {
    SCOPED_TRACE(critical);
    EventJournal::Instance().Reset();
    EXPECT_FALSE(ProxyServices::instanceForClient(0, kClient, 4711, true, critical));
    std::vector<EventJournalEntry> events = EventJournal::Instance().Entries();
    ASSERT_EQ(critical ? 1u : 0u, events.size());
    if (critical) {
      EXPECT_EQ(EV_CLIENT_SERVICES_UNREACHABLE, events[0].eventId);
      EXPECT_EQ(4711, events[0].jobId);
      EXPECT_EQ(std::vector<std::string>{"127.0.0.1"}, events[0].arguments);
    }
  }
  EXPECT_EQ(4u, LogCount("connectToClient failed."));  // the connect's line and the lookup's
  EXPECT_EQ(0, hooks->checks.load());  // noManage: no installation check
}

}  // namespace
