// One command run on a client: an IBM i client through the simulated
// daemon's "SERVICE" connection, an OpenVMS client through the real ssh hop
// with the emulated OpenVMS system answering.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <regex>
#include <thread>

#include "DeployFixtures.h"
#include "DeployTestUtil.h"
#include "ProxyEventIds.h"
#include "SimServiceDaemon.h"
#include "SimVmsSystem.h"
#include "SshdFixture.h"
#include "core/TestSupport.h"

namespace {

using namespace deploytest;

const char kUntouched[] = "left as it was";

class IbmiExecuteTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    ClClientManager::ResetVersionCheckState();
    KXPlatformInfo().deleteSection("ProxyClients/ibmi1");
    ASSERT_FALSE(daemon.Start().IsError());
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon.GetPort()));
    manager = Loaded(kIbmiClient, "127.0.0.1");
  }
  void TearDown() override {
    ClClientManager::ResetVersionCheckState();
    DeployTest::TearDown();
  }

  SimServiceDaemon daemon;
  std::unique_ptr<ClClientManager> manager;
};

TEST_F(IbmiExecuteTest, AnswerTable) {
  const struct {
    const char* name;
    SimServiceDaemon::ExecuteAnswer answer;
    const char* text;
  } cases[] = {
      {"success", SimServiceDaemon::kExecuteSuccess, "KXSTATUS = \"%X00000000\""},
      {"failure", SimServiceDaemon::kExecuteFailure, "KXSTATUS = \"%X00000001\""},
      {"client error", SimServiceDaemon::kExecuteClientError, "KXSTATUS = \"%X00000001\""},
  };
  const std::string command = "CALL PGM(KXLIB/KXPING) PARM('a b' \"c\")";
  size_t links = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    daemon.SetExecuteAnswer(c.answer);
    std::string result = "old text";
    CWqError outcome = manager->executeOnClient(command.c_str(), result);
    ASSERT_FALSE(outcome.IsError()) << outcome.AsString();
    EXPECT_EQ(c.text, result);
    ++links;
    // The link closes without a DISCONNECT_MSG.
    ASSERT_TRUE(daemon.WaitForClosed(links - 1, 10));
    EXPECT_EQ(daemon.GetConnectionCount(), links);
  }
  // Each command's bytes without a terminating NUL, after the launch.
  EXPECT_EQ(daemon.GetExecutedCommands(), std::vector<std::string>(3, command));
  EXPECT_EQ(daemon.GetLaunchCount(), 3u);
  const std::vector<ClProxyMsgType> requests = daemon.GetRequests();
  EXPECT_EQ(requests, (std::vector<ClProxyMsgType>{LAUNCH_CMD_MSG, EXECUTE_COMMAND_MSG, LAUNCH_CMD_MSG,
                                                   EXECUTE_COMMAND_MSG, LAUNCH_CMD_MSG, EXECUTE_COMMAND_MSG}));
}

TEST_F(IbmiExecuteTest, SilenceThenCloseEndsTheUnlimitedWait) {
  // A close without an answer: the wait has no time limit of its own.
  daemon.ScriptNext(EXECUTE_COMMAND_MSG, SimScript().Silent(300).Close());
  std::string result = kUntouched;
  CWqError outcome = manager->executeOnClient("DSPLIB KXLIB", result);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(outcome, EV_CLIENT_OPERATION_FAILED)) << outcome.AsString();
  EXPECT_NE(outcome.AsString().find("message receive failed"), std::string::npos);
  EXPECT_EQ(kUntouched, result);
  EXPECT_EQ(daemon.GetExecutedCommands(), std::vector<std::string>{"DSPLIB KXLIB"});

  daemon.SetExecuteAnswer(SimServiceDaemon::kExecuteClose);
  outcome = manager->executeOnClient("DSPLIB KXLIB", result);
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(outcome, EV_CLIENT_OPERATION_FAILED)) << outcome.AsString();
  EXPECT_NE(outcome.AsString().find("message receive failed"), std::string::npos);
}

TEST_F(IbmiExecuteTest, RefusingDaemonSendsNothing) {
  SimServiceDaemon down;
  ASSERT_FALSE(down.Reserve().IsError());
  RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(down.GetPort()));
  std::unique_ptr<ClClientManager> refused = Loaded(kIbmiClient, "127.0.0.1");
  std::string result = kUntouched;
  CWqError outcome = refused->executeOnClient("DSPLIB KXLIB", result);
  ASSERT_TRUE(outcome.IsError());
  EXPECT_NE(outcome.AsString().find("Can't connect to the remote client using host name '127.0.0.1' and port '" +
                                    std::to_string(down.GetPort()) + "'. Services down or network error."),
            std::string::npos)
      << outcome.AsString();
  EXPECT_EQ(kUntouched, result);
  EXPECT_EQ(down.GetConnectionCount(), 0u);
  EXPECT_TRUE(down.GetExecutedCommands().empty());
}

// The connect's software check finds the client out of date, sends the
// update through the daemon and waits for it to come back; the command
// then runs on the updated daemon.
TEST_F(IbmiExecuteTest, OutOfDateClientIsUpdatedFirst) {
  auto clock = std::make_shared<HookClock>();
  FXSetClock(clock);
  KXPlatformInfo settings;
  settings.setNumber("ProxyTimeouts", "TIMEOUT_VERSION_REPLY", 1);
  settings.setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_ACK", 5);
  settings.setNumber("ProxyTimeouts", "TIMEOUT_UPDATE_RECONNECT", 20);
  ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/pkginfo.dat", "5:21:\n"));
  ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("iSeries") + "/KXINSTPKG.savf", "package-bytes"));
  daemon.SetVersionReply("5:20:");
  SimServiceDaemon back;
  back.SetBindAddress("127.0.0.1", daemon.GetPort());
  back.SetVersionReply("5:21:");
  back.SetExecuteAnswer(SimServiceDaemon::kExecuteFailure);
  clock->onSleep = [&](int64_t ms, int seen) {
    if (ms == 3000 && seen == 1) { EXPECT_TRUE(daemon.WaitForOpenLinks(0, 10)); }
    if (ms == 60000) {
      daemon.Stop();
      EXPECT_FALSE(back.Start().IsError());
    }
  };

  std::string result;
  CWqError outcome = manager->executeOnClient("KXLIB/KXPING", result);
  FXSetClock(nullptr);
  ASSERT_FALSE(outcome.IsError()) << outcome.AsString();
  EXPECT_EQ("KXSTATUS = \"%X00000001\"", result);
  EXPECT_EQ(daemon.GetPackage(), std::vector<uint8_t>({'p', 'a', 'c', 'k', 'a', 'g', 'e', '-', 'b', 'y', 't', 'e',
                                                       's'}));
  EXPECT_TRUE(daemon.GetExecutedCommands().empty());
  EXPECT_EQ(back.GetExecutedCommands(), std::vector<std::string>{"KXLIB/KXPING"});
  std::string checked;
  settings.getString("ProxyClients/ibmi1", "packageChecked", &checked);
  EXPECT_EQ("5:21:", checked);
}

TEST_F(IbmiExecuteTest, NullCommandAndUnloadedManagerRunNothing) {
  std::string result = kUntouched;
  CWqError outcome = manager->executeOnClient(nullptr, result);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(outcome, EINVAL)) << outcome.AsString();
  EXPECT_EQ(kUntouched, result);

  ClClientManager unloaded("127.0.0.1", daemon.GetPort(), kIbmiClient);
  outcome = unloaded.executeOnClient("DSPLIB KXLIB", result);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(outcome, EINVAL)) << outcome.AsString();
  EXPECT_NE(outcome.AsString().find("not loaded"), std::string::npos);
  EXPECT_EQ(kUntouched, result);
  EXPECT_EQ(daemon.GetConnectionCount(), 0u);
}

class VmsExecuteTest : public SshdTest {
 protected:
  void SetUp() override {
    SshdTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());  // an OpenVMS account has its home
    vms.CreateDirectory("DKA0:[APP.CLIENT]");
    vms.AttachTo(machine());
    manager = Loaded(kVmsClient, "127.0.0.1");
  }
  void TearDown() override {
    if (s_sshd && s_sshd->Running()) machine().Reset();  // its handlers point at this test's system
    SshdTest::TearDown();
  }

  SimVmsSystem vms;
  std::unique_ptr<ClClientManager> manager;
};

TEST_F(VmsExecuteTest, OutputTable) {
  vms.PutFile("DKA0:[APP]OLD.LOG", "x");
  const struct {
    const char* name;
    const char* command;
    const char* result;  // empty: checked by the pattern
    const char* pattern;
  } cases[] = {
      {"standard output only", "'WRITE SYS$OUTPUT \"hello\"'", "hello\n", ""},
      {"error output only", "FROBNICATE DKA0:[APP]",
       "%DCL-W-IVVERB, unrecognized command verb - check validity and spelling\n \\FROBNICATE\\\n", ""},
      {"both: the standard output", "DELETE/LOG DKA0:[APP]OLD.LOG;1,NEW.LOG;1",
       "%DELETE-I-FILDELETED, DKA0:[APP]OLD.LOG;1 deleted\n", ""},
      {"time", "SHOW TIME", "", "^  [0-9]{2}-[A-Z]{3}-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}\n$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string result;
    CWqError outcome = manager->executeOnClient(c.command, result);
    ASSERT_FALSE(outcome.IsError()) << outcome.AsString();
    if (*c.result)
      EXPECT_EQ(c.result, result);
    else
      EXPECT_TRUE(std::regex_match(result, std::regex(c.pattern))) << result;
  }
  // The deletion happened on the client.
  EXPECT_TRUE(vms.Files().empty());
}

// What the caller gives, what the client's DCL received, and what came back.
TEST_F(VmsExecuteTest, CommandsReachTheClientUnexpanded) {
  vms.PutFile("DKA0:[APP.CLIENT]A.COM", "$ EXIT");
  const struct {
    const char* name;
    const char* command;
    const char* received;
    const char* result;
  } cases[] = {
      {"semicolon, star and brackets", "DIRECTORY DKA0:[APP.CLIENT]*.*;*", "DIRECTORY DKA0:[APP.CLIENT]*.*;*",
       "\nDirectory DKA0:[APP.CLIENT]\n\nA.COM;1\n\nTotal of 1 file.\n"},
      {"no split at a semicolon", "SHOW TIME; WRITE SYS$OUTPUT x", "SHOW TIME; WRITE SYS$OUTPUT x",
       "%DCL-W-IVKEYW, unrecognized keyword - check validity and spelling\n \\TIME;\\\n"},
      {"dollar and star unexpanded", "WRITE SYS$OUTPUT \"$HOME * ${PATH}\"", "WRITE SYS$OUTPUT $HOME * ${PATH}",
       "%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\$HOME\\\n"},
      {"shell quoting kept for the client", "'WRITE SYS$OUTPUT \"a;b *  $USER [x] \"\"q\"\"\"'",
       "WRITE SYS$OUTPUT \"a;b *  $USER [x] \"\"q\"\"\"", "a;b *  $USER [x] \"q\"\n"},
      {"double quotes escaped for the shell", "WRITE SYS\\$OUTPUT \"\\\"it's\\\"\"",
       "WRITE SYS$OUTPUT \"it's\"", "it's\n"},
      {"blanks between words", "  WRITE   SYS$OUTPUT   \"a  b\"  ", "WRITE SYS$OUTPUT a  b",
       "%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\A\\\n"},
      {"backslashes taken away", "WRITE SYS$OUTPUT \\\"x\\\"", "WRITE SYS$OUTPUT \"x\"", "x\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = vms.Commands().size();
    std::string result;
    CWqError outcome = manager->executeOnClient(c.command, result);
    ASSERT_FALSE(outcome.IsError()) << outcome.AsString();
    const std::vector<std::string> commands = vms.Commands();
    ASSERT_EQ(before + 1, commands.size());
    EXPECT_EQ(c.received, commands.back());
    EXPECT_EQ(c.result, result);
  }
  for (const std::string& command : machine().Commands()) EXPECT_EQ(std::string::npos, command.find("secret"));
}

TEST_F(VmsExecuteTest, RefusedBeforeAnythingRuns) {
  const struct {
    const char* name;
    const char* command;
    bool loaded;
  } cases[] = {
      {"null command", nullptr, true},
      {"unbalanced double quote", "WRITE SYS$OUTPUT \"x", true},
      {"unbalanced single quote", "WRITE SYS$OUTPUT 'x", true},
      {"trailing backslash", "SHOW TIME \\", true},
      {"unloaded manager", "SHOW TIME", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClClientManager unloaded("127.0.0.1", 1, kVmsClient);
    ClClientManager& target = c.loaded ? *manager : unloaded;
    std::string result = kUntouched;
    CWqError outcome = target.executeOnClient(c.command, result);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(outcome, EINVAL)) << outcome.AsString();
    EXPECT_EQ(kUntouched, result);
  }
  EXPECT_TRUE(machine().Commands().empty());
}

TEST_F(VmsExecuteTest, FailedHopIsNoAnswer) {
  ASSERT_FALSE(s_sshd->SetPassword("changed").IsError());
  std::string result;
  CWqError outcome = manager->executeOnClient("SHOW TIME", result);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(outcome, EV_CLIENT_CONNECT_FAILED)) << outcome.AsString();
  // What ssh printed, if anything (it runs with -q), is the result.
  EXPECT_EQ(std::string::npos, result.find("%DCL")) << result;
  EXPECT_TRUE(vms.Commands().empty());
}

// Words that ssh would read as its own options after the destination reach
// the client as the command, and nothing of them happens on this host.
TEST_F(VmsExecuteTest, OptionLikeCommandsReachTheClient) {
  const std::string tag = std::to_string(::getpid());
  const std::string pwned = "/tmp/kx-execute-pwned-" + tag;
  const std::string log = "/tmp/kx-execute-ssh-" + tag + ".log";
  const std::string commands[] = {"-oProxyCommand=touch " + pwned, "-o", "-F/etc/passwd", "-E" + log};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const size_t before = vms.Commands().size();
    std::string result;
    CWqError outcome = manager->executeOnClient(command.c_str(), result);
    ASSERT_FALSE(outcome.IsError()) << outcome.AsString();
    const std::vector<std::string> received = vms.Commands();
    ASSERT_EQ(before + 1, received.size());
    EXPECT_EQ(command, received.back());
    EXPECT_NE(std::string::npos, result.find("%DCL-W-")) << result;
  }
  EXPECT_NE(0, ::access(pwned.c_str(), F_OK));
  EXPECT_NE(0, ::access(log.c_str(), F_OK));
  ::unlink(pwned.c_str());
  ::unlink(log.c_str());
}

// A command that outlives the limit: the whole hop is killed, the call
// returns at the limit, and no process of it stays.
TEST_F(SshdTest, OpenVmsCommandKilledAtTheLimit) {
  ASSERT_FALSE(s_sshd->SetHomeFolder(true).IsError());
  KXPlatformInfo().setNumber("FileSystemAgent", ClClientManager::kCommandLimitSetting, 1);
  // Shared: the session thread may still look at it after the test ends.
  auto release = std::make_shared<std::atomic<bool>>(false);
  machine().AddHandler([release](const SimRemoteCommand& command, SimRemoteReply& reply) {
    if (command.command.compare(0, 5, "WAIT ") != 0) return false;
    for (int i = 0; i < 1000 && !release->load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    reply.out = "waited\n";
    return true;
  });
  auto manager = Loaded(kVmsClient, "127.0.0.1");
  std::string result;
  const auto start = std::chrono::steady_clock::now();
  CWqError outcome = manager->executeOnClient("WAIT 00:00:30", result);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // The local end only: every process the tools start has the scratch
  // folder in its command line or environment. The killed group may take a
  // moment to be gone from the process table.
  std::vector<std::string> left;
  coretest::WaitUntil([&] { return (left = ProcessesWith(tools.Root())).empty(); }, 3);
  *release = true;
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(outcome, EV_CLIENT_CONNECT_FAILED)) << outcome.AsString();
  EXPECT_NE(std::string::npos, outcome.AsString().find("killed after 1 seconds")) << outcome.AsString();
  EXPECT_LT(elapsed, std::chrono::seconds(5));  // a 1 s limit; a loaded machine is slow
  EXPECT_TRUE(left.empty()) << left.size() << " process(es) left, the first " << left.front();
  EXPECT_EQ(std::string::npos, result.find("waited"));
}

}  // namespace
