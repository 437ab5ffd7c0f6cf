// A managed connect to an OpenVMS client through the ssh stand-ins: a
// refusing daemon is started over ssh with the start procedure and the
// connect goes on (the daemon listens once the procedure has run, at the
// connector's next pause on the virtual clock); an ssh hop that fails in the
// check ends the connect with 1627 and leaves "checkBinary" as it was.
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyClientConnection.h"
#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "FXThread.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"
#include "SimServiceDaemon.h"

namespace {

using namespace deploytest;

const char kVmsSection[] = "ProxyClients/vms1";
const char kStartProcedure[] = "KXOV_START.COM";

class VmsConnectTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    ClClientManager::ResetVersionCheckState();
    ClProxyClientConnection::ResetPauseSeconds();
    // A package and a client that lists exactly it: the check finds the
    // software current.
    const std::string folder = tools.PackageFolder("OpenVMS");
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_PKGCRC32.EXE", "tool"));
    ASSERT_TRUE(SimSshTools::WriteFile(folder + "/KXOV_START.COM", "start"));
    KxProcess::Options options;
    options.workingFolder = folder;
    std::string err;
    ASSERT_EQ(0, KxProcess::run({tools.BaseHome() + "/pkgcrc32", "KXOV_PKGCRC32.EXE", "KXOV_START.COM"}, options,
                                &list, &err));
    Fresh();
  }
  // A new clock and event sender, an empty section and only the list reply.
  void Fresh() {
    clock = std::make_shared<HookClock>();
    FXSetClock(clock);
    sender.reset(new KeepingSender);
    ISendEventInterface::SetInstance(sender);
    KXPlatformInfo().deleteSection(kVmsSection);
    tools.ClearCommandReplies();
    tools.AddCommandReply("KXOV_PKGCRC32.COM", list);
  }
  void TearDown() override {
    FXSetClock(nullptr);
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    ClProxyClientConnection::ResetPauseSeconds();
    ClClientManager::ResetVersionCheckState();
    DeployTest::TearDown();
  }
  // The client's daemon on a port that refuses until it is started.
  void Refusing(SimServiceDaemon& daemon) {
    ASSERT_FALSE(daemon.Reserve().IsError());
    RecordRegistry::Instance().SetClientValue(kVmsClient, "KXDPort", RecordValue(daemon.GetPort()));
  }
  size_t Starts() const {
    const std::vector<std::string> commands = tools.Commands();
    return static_cast<size_t>(std::count_if(commands.begin(), commands.end(), [](const std::string& c) {
      return c.find(kStartProcedure) != std::string::npos;
    }));
  }
  static unsigned long Number(const std::string& name, bool* present = nullptr) {
    unsigned long value = 0;
    const bool found = KXPlatformInfo().getNumber(kVmsSection, name, &value) != 0;
    if (present) *present = found;
    return value;
  }

  std::string list;  // the client's file list
  std::shared_ptr<HookClock> clock;
  boost::shared_ptr<KeepingSender> sender;
};

TEST_F(VmsConnectTest, RefusingDaemonIsStartedOverSsh) {
  struct Case {
    const char* name;
    const char* startOutput;  // what the start procedure prints
    size_t listenAfterStart;  // the daemon listens once this many starts ran (0: never)
    size_t starts;
    size_t failedAttempts;
    size_t pauses;
    bool updateBinary;
  } cases[] = {
      {"up after the first start", "%KXOV-I-START, launch daemon started\n", 1, 1, 1, 1, false},
      {"up after the second start", "%KXOV-I-START, launch daemon started\n", 2, 2, 4, 4, false},
      {"never up", "%KXOV-I-START, launch daemon started\n", 0, 2, 7, 6, false},
      {"start procedure fails", "%DCL-W-ACTIMAGE, error activating image KXD\n", 0, 1, 1, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    tools.AddCommandReply(kStartProcedure, c.startOutput);
    const size_t startsBefore = Starts();
    SimServiceDaemon daemon;
    Refusing(daemon);
    // The procedure has run by the connector's pause that follows it.
    bool listening = false;
    clock->onSleep = [&](int64_t, int) {
      if (!listening && c.listenAfterStart != 0 && Starts() - startsBefore == c.listenAfterStart) {
        listening = true;
        EXPECT_FALSE(daemon.Start().IsError());
      }
    };
    ScopedCapture capture(0);

    ClProxyClientConnection link;
    CWqError result = link.connectToClient("127.0.0.1", daemon.GetPort(), 0, 0, kVmsClient, false);

    const bool connected = c.listenAfterStart != 0;
    EXPECT_EQ(connected, !result.IsError()) << result.AsString();
    EXPECT_EQ(connected, link.getConnectionSocket().IsValid());
    EXPECT_EQ(c.starts, Starts() - startsBefore);
    EXPECT_EQ(c.failedAttempts,
              capture.Count("Failed to connect to (127.0.0.1, " + std::to_string(daemon.GetPort()) + ")"));
    EXPECT_EQ(std::vector<int64_t>(c.pauses, 2000), clock->Sleeps());
    // The start procedure got the base folder and the daemon's port.
    const std::vector<std::string> commands = tools.Commands();
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(),
                                        "@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] " +
                                            std::to_string(daemon.GetPort())));
    bool flagged = false;
    EXPECT_EQ(c.updateBinary ? 1u : 0u, Number("updateBinary", &flagged));
    EXPECT_EQ(c.updateBinary, flagged);
    // The check completed before the first attempt; no event for a current client.
    bool checked = false;
    Number("checkBinary", &checked);
    EXPECT_TRUE(checked);
    EXPECT_TRUE(sender->Events().empty());
    if (connected) {
      EXPECT_TRUE(daemon.WaitForAccepted(1, 10));
    } else if (c.updateBinary) {
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_START_FAILED)) << result.AsString();
      EXPECT_NE(std::string::npos,
                result.AsString().find("Can't start launch daemon on remote client (expected not found)"));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ECONNREFUSED)) << result.AsString();
    }
    clock->onSleep = nullptr;  // before the daemon it names goes
  }
}

// The hop fails before the client's shell runs anything: the connect fails
// with 1627 and the daemon is never tried.
TEST_F(VmsConnectTest, FailedSshHopFailsTheConnectWith1627) {
  struct Case {
    const char* name;
    bool wrongPassword;
  } cases[] = {{"wrong password", true}, {"unreachable host", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools.SetPassword(c.wrongPassword ? "not-the-record's" : "secret");
    tools.SetUnreachable(!c.wrongPassword);
    KXPlatformInfo settings;
    settings.deleteSection(kVmsSection);
    const unsigned long due = static_cast<unsigned long>(FXTime()) - 60;  // reached: the check runs
    settings.setNumber(kVmsSection, "checkBinary", due);
    SimServiceDaemon daemon;
    ASSERT_FALSE(daemon.Start().IsError());
    RecordRegistry::Instance().SetClientValue(kVmsClient, "KXDPort", RecordValue(daemon.GetPort()));
    const size_t sshBefore = tools.SshCalls().size();
    const size_t eventsBefore = sender->Events().size();
    ScopedCapture capture(0);

    ClProxyClientConnection link;
    CWqError result = link.connectToClient("127.0.0.1", daemon.GetPort(), 0, 0, kVmsClient, false);

    EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
    EXPECT_NE(std::string::npos, result.AsString().find("Failed to connect to client."));
    EXPECT_FALSE(link.getConnectionSocket().IsValid());
    EXPECT_EQ(due, Number("checkBinary"));
    EXPECT_EQ(1u, tools.SshCalls().size() - sshBefore);  // the presence listing only
    EXPECT_EQ(0u, Starts());
    std::vector<SentEvent> events = sender->Events();
    ASSERT_EQ(eventsBefore + 1, events.size());
    EXPECT_EQ(EV_CLIENT_CONNECT_FAILED, events.back().id);
    EXPECT_FALSE(events.back().critical);
    EXPECT_EQ((std::vector<std::string>{"127.0.0.1", std::to_string(daemon.GetPort())}), events.back().texts);
    EXPECT_EQ(0u, daemon.GetConnectionCount());
    EXPECT_TRUE(capture.AnyContains("Can't reach the client over ssh"));
  }
}

}  // namespace
