// The phase object end to end over loopback against the simulated client
// daemon: init, launch (with and without a data interface), accept, process
// status, job start with the base-directory forms, suspend; and the ways
// each step fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClJobStartMsg.h"
#include "ClLaunchMsgs.h"
#include "CoreTestUtil.h"
#include "FXClock.h"
#include "ProxyEventIds.h"
#include "ScopedSettingsRoot.h"
#include "SimClientDaemon.h"

using namespace coretest;

namespace {

std::shared_ptr<ClProxyMsg> Blob(ClProxyMsgType type, const std::string& bytes) {
  return std::make_shared<ClBlobMsg>(type, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The test program: takes the job start, reports its base directory, waits
// for the suspend.
SimScript ProgramScript(const std::string& baseDir) {
  return SimScript().Expect(JOB_START_MSG).Reply(Blob(CLIENT_BASE_DIR_MSG, baseDir)).Expect(DISCONNECT_MSG);
}

std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record) {
  std::vector<ClProxyMsgType> types;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) types.push_back(message->getMsgType());
  return types;
}

class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(hookFolder.path().empty());
    for (const char* kind : {"TIMEOUT_DAEMON_REPLY", "TIMEOUT_CLIENT_CONNECT", "TIMEOUT_JOB_START_REPLY",
                             "TIMEOUT_PROCESS_STATUS"})
      SetTimeout(kind, 20);
    daemon.SetProgram("TEST.EXE", ProgramScript(std::string("/opt/client\0\0", 13)));
    ASSERT_FALSE(daemon.Start().IsError());
    FillRecords(daemon.GetPort());
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }

  // init, launch and accept, each of which must succeed.
  void Connect(TestPhase& phase) {
    CWqError result = phase.Init(kClient);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    result = phase.launchClientProcess();
    ASSERT_FALSE(result.IsError()) << result.AsString();
    result = phase.acceptClientProcessConnection();
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }

  ScopedSettingsRoot settingsRoot;
  ScopedHookFolder hookFolder;  // no hook file of the machine is ever seen
  ScopedLogCapture log;
  ScopedManagerHooks managers;
  SimClientDaemon daemon;  // last: stops before the rest goes
};

TEST_F(ProxyTest, WholeRoadWithoutDataInterface) {
  SetNumber("ProxyClients", "nMLBMode", 1);
  std::unique_ptr<TestPhase> phase(new TestPhase);
  // Client id 0: found through the subclient.
  CWqError result = phase->Init(0);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(0, phase->ClientId());
  EXPECT_EQ("vms1", phase->ClientName());
  EXPECT_EQ(49, phase->ClientOSId());
  EXPECT_EQ("proxy1", phase->ProxyClientName());
  EXPECT_EQ("", phase->ListenInterface());
  CWqIPAddr local;
  ASSERT_FALSE(phase->ProgramLink()->getProxySocket().GetLocalAddress(local).IsError());
  EXPECT_EQ("0.0.0.0", local.AsString());
  const uint16_t port = phase->ListenPort();
  EXPECT_EQ(local.GetPortNumber(), port);
  EXPECT_TRUE(log.Has("Launching cmd=TEST.EXE on client=127.0.0.1 and listening on *:" + std::to_string(port)));
  // The managed connect used the resolved client id and the record's daemon port.
  std::vector<ManagerHooks::Built> built = managers.hooks->Managers();
  ASSERT_EQ(1u, built.size());
  EXPECT_EQ(kClient, built[0].clientId);
  EXPECT_EQ(daemon.GetPort(), built[0].port);
  EXPECT_EQ("127.0.0.1", built[0].host);
  EXPECT_EQ(1, managers.hooks->checks.load());

  result = phase->launchClientProcess();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(SimClientDaemon::kDefaultProcessId, phase->ProcessId());
  std::vector<SimClientDaemon::Launch> launches = daemon.GetLaunches();
  ASSERT_EQ(1u, launches.size());
  EXPECT_EQ("TEST.EXE", launches[0].command);
  EXPECT_FALSE(launches[0].withInterface);
  EXPECT_EQ(port, launches[0].port);

  result = phase->acceptClientProcessConnection();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  int status = -9;
  result = phase->getClientProcessStatus(status);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(SimClientDaemon::kDefaultStatus, status);
  EXPECT_EQ(status, phase->ProcessStatus());

  result = phase->sendJobStart();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ("/opt/client/", phase->BaseDir());
  EXPECT_TRUE(log.Has("Client's base directory reported [/opt/client/]"));
  result = phase->sendSuspendJob();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(log.Has("Sent job suspend message"));
  phase.reset();  // closes both links

  ASSERT_TRUE(daemon.WaitForProgram(0, 10));
  SimConnectionRecord program = daemon.GetProgramRecord(0);
  EXPECT_FALSE(program.failure.IsError()) << program.failure.AsString();
  ASSERT_EQ((std::vector<ClProxyMsgType>{JOB_START_MSG, DISCONNECT_MSG}), Types(program));
  const ClJobStartMsg* start = dynamic_cast<const ClJobStartMsg*>(program.received[0].get());
  ASSERT_NE(nullptr, start);
  EXPECT_EQ(kVellicon, start->getVelliconId());
  EXPECT_EQ(kApp, start->getAppId());
  EXPECT_EQ(1, start->getBackupLevel());
  EXPECT_EQ(-5, start->getJobStartValue());
  EXPECT_EQ(77u, start->getJobId());
  const std::vector<ClJobStartMsg::Entry>& options = start->getEntries();
  ASSERT_EQ(2u, options.size());
  EXPECT_EQ("isMLBMode", options[0].name);
  EXPECT_EQ(ClJobStartMsg::kBool, options[0].kind);
  EXPECT_TRUE(options[0].bValue);
  EXPECT_EQ("JO_ClientName", options[1].name);
  EXPECT_EQ("vms1", options[1].text);

  ASSERT_TRUE(daemon.WaitForConnection(0, 10));
  SimConnectionRecord link = daemon.GetConnectionRecord(0);
  ASSERT_EQ((std::vector<ClProxyMsgType>{LAUNCH_CMD_MSG, GET_PROCESS_STATUS_MSG}), Types(link));
  const ClGetProcessStatusMsg* asked = dynamic_cast<const ClGetProcessStatusMsg*>(link.received[1].get());
  ASSERT_NE(nullptr, asked);
  EXPECT_EQ(SimClientDaemon::kDefaultProcessId, asked->getProcessId());
}

TEST_F(ProxyTest, WholeRoadOverTheFirstDataInterfaceOfTheProxy) {
  RecordRegistry::Instance().SetDIPList("vms1", {{"vms1a*vms1", "10.255.255.2*otherproxy"},
                                                 {"vms1b*vms1", "127.0.0.1*proxy1"},
                                                 {"vms1c*vms1", "10.255.255.1*proxy1"}});
  TestPhase phase;
  ASSERT_NO_FATAL_FAILURE(Connect(phase));
  EXPECT_EQ("127.0.0.1", phase.ListenInterface());
  CWqIPAddr local;
  ASSERT_FALSE(phase.ProgramLink()->getProxySocket().GetLocalAddress(local).IsError());
  EXPECT_EQ("127.0.0.1", local.AsString());
  EXPECT_TRUE(log.Has("Found 3 DIPs for client vms1"));
  EXPECT_TRUE(log.Has(" Client will be using '127.0.0.1' interface to connect to proxy"));
  EXPECT_TRUE(log.Has("listening on 127.0.0.1:" + std::to_string(phase.ListenPort())));
  std::vector<SimClientDaemon::Launch> launches = daemon.GetLaunches();
  ASSERT_EQ(1u, launches.size());
  EXPECT_TRUE(launches[0].withInterface);
  EXPECT_EQ("127.0.0.1", launches[0].interface);
  EXPECT_EQ(phase.ListenPort(), launches[0].port);
  ASSERT_FALSE(phase.sendJobStart().IsError());
  EXPECT_EQ("/opt/client/", phase.BaseDir());
}

TEST_F(ProxyTest, LaunchWithoutInterfaceWhenNoPairIsTheProxys) {
  RecordRegistry& records = RecordRegistry::Instance();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* line;  // a line the case must log, or null
  } cases[] = {
      {"client has no pairs", [] {}, nullptr},
      {"pair lookup fails", [&] { records.SetDIPResult("vms1", 7); },
       "Failed to retrieve the list of Data Interface Pairs for client vms1"},
      {"no pair names the proxy", [&] { records.SetDIPList("vms1", {{"a*vms1", "10.255.255.1*other"}}); },
       "Found 1 DIPs for client vms1"},
      {"no proxy id: a pair naming no client is not taken",
       [&] {
         records.AddClient(kClient, "vms1", 49);  // without the proxy property
         records.SetClientValue(kClient, "KXDPort", static_cast<int>(daemon.GetPort()));
         records.SetDIPList("vms1", {{"a*vms1", "10.255.255.1*"}});
       },
       "Failed to get proxy ID for client 'vms1'"},
      {"proxy id 0: a pair naming no client is not taken",
       [&] {
         records.SetClientProperty(kClient, "OpenVMSProxyClientId", 0);
         records.SetDIPList("vms1", {{"a*vms1", "10.255.255.1*"}});
       },
       "Found 1 DIPs for client vms1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillRecords(daemon.GetPort());
    c.arrange();
    log.Clear();
    TestPhase phase;
    ASSERT_NO_FATAL_FAILURE(Connect(phase));
    EXPECT_EQ("", phase.ListenInterface());
    EXPECT_TRUE(log.Has("listening on *:" + std::to_string(phase.ListenPort())));
    if (c.line) {
      EXPECT_TRUE(log.Has(c.line));
    }
    EXPECT_FALSE(daemon.GetLaunches().back().withInterface);
  }
}

TEST_F(ProxyTest, LaunchFailures) {
  SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
  struct Case {
    const char* name;
    SimClientDaemon::LaunchAnswer answer;
    int32_t processId;
    const char* program;
    int errNo;
    const char* line;
  } cases[] = {
      {"process id 0", SimClientDaemon::kAnswerProcessId, 0, "TEST.EXE", static_cast<int>(EV_CLIENT_PROCESS_FAILED),
       "Client return invalid process id [0]. Failing launch call."},
      {"process id -1", SimClientDaemon::kAnswerProcessId, -1, "TEST.EXE",
       static_cast<int>(EV_CLIENT_PROCESS_FAILED), "Client return invalid process id [-1]. Failing launch call."},
      {"unknown program", SimClientDaemon::kAnswerProcessId, 4242, "NOPE.EXE",
       static_cast<int>(EV_CLIENT_PROCESS_FAILED), "Client return invalid process id [-1]. Failing launch call."},
      {"daemon stays silent", SimClientDaemon::kStaySilent, 0, "TEST.EXE", ETIME, nullptr},
      {"daemon closes the link", SimClientDaemon::kCloseLink, 0, "TEST.EXE", ENOTCONN, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    daemon.SetLaunchAnswer(c.answer, c.processId);
    log.Clear();
    TestPhase phase;
    ASSERT_FALSE(phase.Init(kClient, c.program).IsError());
    CWqError result = phase.launchClientProcess();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
    if (c.errNo == static_cast<int>(EV_CLIENT_PROCESS_FAILED)) {
      EXPECT_NE(std::string::npos, Texts(result).find("Failed to launch client process"));
    }
    if (c.line) {
      EXPECT_TRUE(log.Has(c.line));
    }
  }
  EXPECT_EQ(0u, daemon.GetProgramCount());
}

TEST_F(ProxyTest, AcceptTimesOutWhenTheProgramNeverCalls) {
  SetTimeout("TIMEOUT_CLIENT_CONNECT", 1);
  TestPhase phase;
  ASSERT_FALSE(phase.Init(kClient).IsError());
  CWqError result = phase.acceptClientProcessConnection();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 62)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("no connection request received from the client"));
}

// The receive limits pass on a virtual clock, each moved past by the daemon
// once the phase waits again, so that the wait meets every limit it means.
TEST_F(ProxyTest, ProcessStatusWaitOutlastsTimeOutsAndEndsOnAClosedLink) {
  SetTimeout("TIMEOUT_PROCESS_STATUS", 1);
  FXScopedVirtualClock scoped;
  FXVirtualClock& clock = scoped.clock();
  std::atomic<size_t> waitsBefore{0};  // the clock's count when the status call begins
  auto limitsPass = [&clock, &waitsBefore](size_t limits) {
    return [&clock, &waitsBefore, limits](SimPeer&) {
      for (size_t k = 1; k <= limits + 1; ++k) {
        if (!coretest::WaitUntil([&] { return clock.DescriptorWaits() >= waitsBefore + k; }))
          return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "wait %zu of the phase did not begin", k);
        if (k <= limits) clock.Advance(1000);
      }
      return CWqError::Success();  // the phase waits again after the last limit
    };
  };
  daemon.AddStatusScript(SimScript().Call(limitsPass(2)).Reply(std::make_shared<ClProcessStatusResponseMsg>(7)));
  daemon.AddStatusScript(SimScript().Call(limitsPass(1)).Close());
  TestPhase phase;
  ASSERT_FALSE(phase.Init(kClient).IsError());
  ASSERT_FALSE(phase.launchClientProcess().IsError());

  int status = -9;
  waitsBefore = clock.DescriptorWaits();
  int64_t start = clock.MonotonicMs();
  CWqError result = phase.getClientProcessStatus(status);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(7, status);
  EXPECT_GE(clock.MonotonicMs() - start, 2000);  // past two of its one-second receive limits
  EXPECT_GE(clock.DescriptorWaits() - waitsBefore, 3u);
  EXPECT_TRUE(log.Has("processStatus = 7"));

  waitsBefore = clock.DescriptorWaits();
  start = clock.MonotonicMs();
  result = phase.getClientProcessStatus(status);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOTCONN)) << result.AsString();
  EXPECT_EQ(-1, status);
  EXPECT_GE(clock.MonotonicMs() - start, 1000);
  EXPECT_GE(clock.DescriptorWaits() - waitsBefore, 2u);
  EXPECT_EQ(7, phase.ProcessStatus());
}

TEST_F(ProxyTest, BaseDirectoryForms) {
  struct Case {
    std::string reply;
    const char* expected;  // null: the job start fails
  } cases[] = {
      {"/opt/c", "/opt/c/"},
      {"/opt/c/", "/opt/c/"},
      {std::string("/opt/c\0\0\0", 9), "/opt/c/"},
      {std::string("/opt/c/\0", 8), "/opt/c/"},
      {"/", "/"},
      {"", nullptr},
      {std::string("\0\0", 2), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.reply));
    daemon.SetProgram("TEST.EXE", ProgramScript(c.reply));
    TestPhase phase;
    ASSERT_NO_FATAL_FAILURE(Connect(phase));
    CWqError result = phase.sendJobStart();
    if (c.expected) {
      ASSERT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(c.expected, phase.BaseDir());
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
      EXPECT_NE(std::string::npos, Texts(result).find("empty base directory"));
      EXPECT_EQ("", phase.BaseDir());
    }
  }
}

// A phase whose options fail: the job start is not sent.
class FailingOptionsPhase : public TestPhase {
 public:
  CWqError setJobOptions(ClJobStartMsg* msg) override {
    return FXErrorUtil::ErrorInt(FX_HERE, 9, "options refused");
  }
};

TEST_F(ProxyTest, FailedJobOptionsSendNothing) {
  FailingOptionsPhase phase;
  ASSERT_NO_FATAL_FAILURE(Connect(phase));
  CWqError result = phase.sendJobStart();
  EXPECT_TRUE(FXErrorUtil::IsInt(result, 9)) << result.AsString();
  ASSERT_FALSE(phase.sendSuspendJob().IsError());
  ASSERT_TRUE(daemon.WaitForProgram(0, 10));  // the program expected a job start first
  EXPECT_EQ((std::vector<ClProxyMsgType>{DISCONNECT_MSG}), Types(daemon.GetProgramRecord(0)));
}

TEST_F(ProxyTest, BaseJobOptions) {
  TestPhase phase;
  EXPECT_FALSE(phase.setJobOptions(nullptr).IsError());
  ClJobStartMsg msg(1, 2, 3, 4, 5);
  ASSERT_FALSE(phase.setJobOptions(&msg).IsError());
  ASSERT_EQ(2u, msg.getEntries().size());
  EXPECT_EQ("isMLBMode", msg.getEntries()[0].name);
  EXPECT_FALSE(msg.getEntries()[0].bValue);  // absent setting
  EXPECT_EQ("JO_ClientName", msg.getEntries()[1].name);
}

TEST_F(ProxyTest, InitFailsClearlyWhenTheClientCannotBeResolved) {
  RecordRegistry& records = RecordRegistry::Instance();
  struct Case {
    const char* name;
    int32_t clientId, appId;
    std::function<void()> arrange;
    const char* text;
  } cases[] = {
      {"no such application", 0, 99, [] {}, "[getClient] for Application ID [99]"},
      {"client id unreadable", 0, kApp, [&] { records.FailGetter("KXClient::getClientId", 5); }, "(getClientId)"},
      {"client without properties", kClient, kApp, [&] { records.SetClientHasProperties(kClient, false); },
       "[getClientProperties] for client ID [5]"},
      {"no such client", 77, kApp, [] {}, "[getClientProperties] for client ID [77]"},
      {"operating system unreadable", kClient, kApp,
       [&] { records.FailGetter("KXClient::getOperatingSystemId", 5); }, "(getOperatingSystemId)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillRecords(daemon.GetPort());
    c.arrange();
    TestPhase phase;
    CWqError result = phase.Init(c.clientId, "TEST.EXE", c.appId);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOENT)) << result.AsString();
    EXPECT_NE(std::string::npos, Texts(result).find(c.text)) << result.AsString();
  }
  EXPECT_EQ(0, managers.hooks->checks.load());
  EXPECT_EQ(0u, daemon.GetConnectionCount());
}

TEST_F(ProxyTest, DaemonPortFallsBackTo9401) {
  RecordRegistry& records = RecordRegistry::Instance();
  // The check fails, so nothing is connected: only the port the manager got counts.
  struct Case {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"port 0", [&] { records.SetClientValue(kClient, "KXDPort", 0); }},
      // Not cut to 16 bits (70000 would be 4464).
      {"port above 65535", [&] { records.SetClientValue(kClient, "KXDPort", 70000); }},
      {"port unreadable", [&] { records.FailGetter("KXClient::getKXDPort", 5); }},
      {"port absent",
       [&] {
         records.AddClient(kClient, "vms1", 49);
         records.SetClientProperty(kClient, "OpenVMSProxyClientId", kProxyClient);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FillRecords(daemon.GetPort());
    c.arrange();
    managers.hooks = std::make_shared<ManagerHooks>();
    managers.hooks->checkResult = FXErrorUtil::ErrorInt(FX_HERE, 3);
    ClClientManager::SetHooks(managers.hooks);
    TestPhase phase;
    EXPECT_TRUE(FXErrorUtil::IsInt(phase.Init(kClient), 3));
    std::vector<ManagerHooks::Built> built = managers.hooks->Managers();
    ASSERT_EQ(1u, built.size());
    EXPECT_EQ(9401, built[0].port);
    EXPECT_EQ(std::string(c.name) == "port above 65535", log.Has("Port set to 70000. Using default value 9401"));
    log.Clear();
  }
}

TEST_F(ProxyTest, StepsBeforeInitFailWithoutALink) {
  TestPhase phase;
  int status = 5;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.launchClientProcess(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.getClientProcessStatus(status), ENOTCONN));
  EXPECT_EQ(-1, status);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.acceptClientProcessConnection(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.sendJobStart(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.sendSuspendJob(), ENOTCONN));
}

}  // namespace
