// The daemon's "SERVICE" connection: the version query against the
// simulated daemon, the stored operating-system version and a fresh link
// for hosts.
#include <memory>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyClientConnection.h"
#include "DeployTestUtil.h"
#include "SimFrames.h"
#include "SimServiceDaemon.h"

namespace {

using deploytest::DeployTest;
using deploytest::kIbmiClient;

std::shared_ptr<ClProxyMsg> Version(const std::string& text) {
  return std::make_shared<ClBlobMsg>(CLIENT_VERSION_MSG, ClBlobMsg::Copy, text.data(),
                                     static_cast<uint32_t>(text.size()));
}

class VersionTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    ASSERT_FALSE(daemon.Start().IsError());
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon.GetPort()));
    manager = Loaded(kIbmiClient, "127.0.0.1");
    KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_VERSION_REPLY", 1);
  }
  size_t Disconnects() const {
    size_t count = 0;
    for (ClProxyMsgType type : daemon.GetRequests())
      if (type == DISCONNECT_MSG) ++count;
    return count;
  }
  std::string StoredOS() const {
    std::string value;
    KXPlatformInfo().getString("ProxyClients/ibmi1", "OSVersion", &value);
    return value;
  }
  std::string PropertyOS() const {
    RecordValue value;
    std::string text;
    if (RecordRegistry::Instance().ClientProperty("test", kIbmiClient, "Operating System Name", &value) == 0)
      value.AsString(&text);
    return text;
  }

  SimServiceDaemon daemon;
  std::unique_ptr<ClClientManager> manager;
};

TEST_F(VersionTest, ReplyTable) {
  const struct {
    const char* name;
    SimScript answer;
    bool ok;
    bool equal;
    const char* version;
    const char* os;     // stored afterwards
    bool disconnect;    // the exchange ended with DISCONNECT_MSG
    const char* error;  // a part of the error's text
  } cases[] = {
      {"version and os", SimScript().Reply(Version("5:20:OSVERSION=V7R4M0")), true, true, "5:20:", "V7R4M0", true,
       nullptr},
      {"two fields, no colon", SimScript().Reply(Version("5:20")), true, true, "5:20:", "V7R4M0", true, nullptr},
      {"older version hides os", SimScript().Reply(Version("5:19:")), true, false, "5:19:", "V7R4M0", true, nullptr},
      {"several os fields, last stays", SimScript().Reply(Version("5:20:A=B:OSVERSION=V7R3M0:OSVERSION=V7R5M0:X")),
       true, true, "5:20:", "V7R5M0", true, nullptr},
      {"one field", SimScript().Reply(Version("5")), false, false, "", "V7R5M0", false, "Unexpected data [5]"},
      {"empty first field", SimScript().Reply(Version(":20:")), false, false, "", "V7R5M0", false,
       "Unexpected data [:20:]"},
      {"empty second field", SimScript().Reply(Version("5::OSVERSION=V1")), false, false, "", "V7R5M0", false,
       "Unexpected data"},
      {"bad end", SimScript().Reply(std::make_shared<ClBadEofMsg>("no")), true, false, "", "V7R5M0", true, nullptr},
      {"silence", SimScript().Silent(3000), false, false, "", "V7R5M0", false, nullptr},
      {"close", SimScript().Close(), false, false, "", "V7R5M0", false, nullptr},
      {"malformed frame", SimScript().SendRaw(SimFrames::Header(CLIENT_VERSION_MSG, 4, 0x12345678)), false, false,
       "", "V7R5M0", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    daemon.ScriptNext(VERSION_REQUEST_MSG, c.answer);
    const size_t disconnects = Disconnects();
    const size_t links = daemon.GetConnectionCount();
    bool reached = false, equal = true;
    std::string version = "old";
    CWqError result = manager->quickVersionCheck("5:20:", reached, equal, version);
    EXPECT_EQ(result.IsError(), !c.ok) << result.AsString();
    EXPECT_TRUE(reached);
    EXPECT_EQ(equal, c.equal);
    EXPECT_EQ(version, c.version);
    if (c.error) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(result, 13));
      EXPECT_NE(result.AsString().find(c.error), std::string::npos) << result.AsString();
    }
    EXPECT_TRUE(daemon.WaitForClosed(links, 10));
    EXPECT_EQ(Disconnects() - disconnects, c.disconnect ? 1u : 0u);
    EXPECT_EQ(StoredOS(), c.os);
    EXPECT_EQ(PropertyOS(), c.os);
  }
  EXPECT_EQ(daemon.GetLaunchCount(), daemon.GetConnectionCount());
}

TEST_F(VersionTest, SilenceAndCloseFailures) {
  daemon.ScriptNext(VERSION_REQUEST_MSG, SimScript().Silent(3000));
  bool reached, equal;
  std::string version;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(manager->quickVersionCheck("5:20:", reached, equal, version), 62));
  daemon.ScriptNext(VERSION_REQUEST_MSG, SimScript().Close());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(manager->quickVersionCheck("5:20:", reached, equal, version), 107));
}

TEST_F(VersionTest, SameOsIsNotWrittenAgainAndRefusalIsKept) {
  KXPlatformInfo().setString("ProxyClients/ibmi1", "OSVersion", "V7R4M0", 6);
  daemon.SetVersionReply("5:20:OSVERSION=V7R4M0");
  RecordRegistry::Instance().FailGetter("ClientProperties::setProperty", 9);  // a write would fail loudly
  deploytest::ScopedCapture capture;
  bool reached, equal;
  std::string version;
  ASSERT_FALSE(manager->quickVersionCheck("5:20:", reached, equal, version).IsError());
  EXPECT_FALSE(capture.AnyContains("setProperty(): rc"));
  EXPECT_EQ(StoredOS(), "V7R4M0");

  // A different version whose property write is refused: the old setting stays.
  daemon.SetVersionReply("5:20:OSVERSION=V7R5M0");
  ASSERT_FALSE(manager->quickVersionCheck("5:20:", reached, equal, version).IsError());
  EXPECT_TRUE(capture.AnyContains("setProperty(): rc = 9"));
  EXPECT_EQ(StoredOS(), "V7R4M0");
  EXPECT_EQ(PropertyOS(), "");
}

TEST_F(VersionTest, RefusedDaemonIsNotReached) {
  SimServiceDaemon down;
  ASSERT_FALSE(down.Reserve().IsError());
  ClClientManager refused("127.0.0.1", down.GetPort(), kIbmiClient);
  bool reached = true, equal = true;
  std::string version = "x";
  CWqError result = refused.quickVersionCheck("5:20:", reached, equal, version);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 111));
  EXPECT_FALSE(reached);
  EXPECT_FALSE(equal);
  EXPECT_TRUE(version.empty());
}

TEST_F(VersionTest, NewClientConnection) {
  ClProxyClientConnectionPtr link;
  ASSERT_FALSE(manager->getNewClientConnection(link).IsError());
  ASSERT_TRUE(link);
  EXPECT_TRUE(link->getConnectionSocket().IsValid());
  ASSERT_TRUE(daemon.WaitForAccepted(1, 10));

  SimServiceDaemon down;
  ASSERT_FALSE(down.Reserve().IsError());
  ClClientManager refused("127.0.0.1", down.GetPort(), kIbmiClient);
  ClProxyClientConnectionPtr kept = link;
  CWqError result = refused.getNewClientConnection(link);
  ASSERT_TRUE(result.IsError());
  EXPECT_NE(result.AsString().find("Services down or network error"), std::string::npos);
  EXPECT_EQ(link, kept);
  link.reset();
  kept.reset();
  EXPECT_TRUE(daemon.WaitForClosed(0, 10));
  EXPECT_TRUE(daemon.GetRequests().empty());  // nothing was sent, not even the launch
}

}  // namespace
