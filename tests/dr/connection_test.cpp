// DR client connection against the simulated IBM i daemon over loopback: the
// start exchange (each answer), the closing of the link, the status query
// (each answer), the pending causes and the staging-cleanup values.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "../services/ServicesTestUtil.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClDRStartMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxySerializer.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "service/IBMiDRClientConnection.h"
#include "service/IBMiDRStagingCheck.h"

namespace {

using servicetest::ServicesTest;

const int kApp = 17;
const long long kJob = 123456789012LL;

std::shared_ptr<ClProxyMsg> StatusBlob(const std::vector<std::string>& strings, const uint32_t* code = nullptr) {
  std::vector<uint8_t> bytes(1024);
  uint32_t offset = 0;
  for (size_t i = 0; i < strings.size(); ++i) {
    ClProxySerializer::serialize(strings[i], bytes.data(), 1024, offset);
    if (i == 0 && code) ClProxySerializer::serialize(*code, bytes.data(), 1024, offset);
  }
  return std::make_shared<ClBlobMsg>(DR_JOB_STATUS_MSG, ClBlobMsg::Copy, bytes.data(), offset);
}

std::shared_ptr<ClProxyMsg> JobStarted(const std::string& number) { return StatusBlob({number}); }
std::shared_ptr<ClProxyMsg> Finished(uint32_t code) { return StatusBlob({"KXDRBKP2", "done"}, &code); }
std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }
std::shared_ptr<ClProxyMsg> Failed(int code, const std::string& text) {
  return std::make_shared<ClFailedFileMsg>("", code, text);
}

class DRConnectionTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddSubclient(servicetest::kVellicon, kApp, servicetest::kClient);
    r.SetSubclientValue(servicetest::kVellicon, kApp, "DRDataPath", RecordValue("/home/drimage"));
    r.SetTaskXMLOptions(kJob, "<options/>");
    SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
    ASSERT_TRUE(jobClient.init("central01", 0, kJob));
    state.reset(new IBMiDRStateInterface(servicetest::kVellicon, kApp, kJob));
  }
  void TearDown() override {
    IBMiDRStagingCheck::SetHook(nullptr);
    JobResultsSwitches::Instance().Reset();
    ServicesTest::TearDown();
  }
  std::unique_ptr<IBMiDRClientConnectionInterface> Make(bool ipl) {
    return std::unique_ptr<IBMiDRClientConnectionInterface>(new IBMiDRClientConnectionInterface(
        &jobClient, nullptr, servicetest::kVellicon, kApp, kJob, ipl, state));
  }
  std::vector<uint32_t> Causes() {
    std::vector<uint32_t> ids;
    for (const EventJournalEntry& e : EventJournal::Instance().Entries())
      if (e.messageType == PENDING_CAUSE_MESSAGE_TYPE) ids.push_back(e.eventId);
    return ids;
  }
  bool CleanupScheduled() {
    KXPlatformInfo settings;
    std::string folder;
    return settings.getString("ProxyClients/ibmi5", "CleanUpFolder", &folder) != 0 && folder == "/home/drimage";
  }

  ScopedResultsRoot results;
  KXBkpJobClient jobClient;
  boost::shared_ptr<IBMiDRStateInterface> state;
};

TEST_F(DRConnectionTest, NotConfigured) {
  auto connection = Make(false);
  EXPECT_FALSE(connection->shouldSuspendJob());
  std::string number;
  DRBackupState drState = DR_STATE_SERVICES_BACK;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->sendDRStartMessage(), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->receiveDRStartStatus(number), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->getDRStatus("J1", drState), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->connectToClientService(), EINVAL));
  IBMiDRClientConnectionInterface noJobClient(nullptr, nullptr, 2, kApp, kJob, false, state);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(noJobClient.configure(false), EINVAL));
}

TEST_F(DRConnectionTest, StartAnswers) {
  struct Case {
    const char* what;
    SimScript script;
    bool ok;
    std::string number;
    std::vector<uint32_t> causes;
  } cases[] = {
      {"job number", SimScript().Reply(JobStarted("123456/QSECOFR/KXDRBKP")), true, "123456/QSECOFR/KXDRBKP", {}},
      {"good eof", SimScript().Reply(Empty(GOOD_EOF_MSG)), true, "old", {}},
      {"client error", SimScript().Reply(Empty(CLIENT_ERROR_MSG)), false, "old", {EV_DR_CLIENT_ERROR}},
      {"qipltype then number", SimScript().Reply(Failed(-2, "w")).Reply(JobStarted("N2")), true, "N2", {}},
      {"two qipltype warnings", SimScript().Reply(Failed(-2, "w")).Reply(Failed(-2, "w")), false, "old", {}},
      {"DR family code", SimScript().Reply(Failed(0x17000083, "lib busy")), false, "old", {0x17000083}},
      {"other code", SimScript().Reply(Failed(5, "x")), false, "old", {EV_DR_CLIENT_ERROR}},
      {"silence", SimScript().Silent(3000), false, "old", {EV_DR_NO_REPLY}},
      {"close", SimScript().Close(), false, "old", {EV_DR_NO_REPLY}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    EventJournal::Instance().Reset();
    daemon.ScriptNext(IBM_DR_BACKUP_JOB_MSG, c.script);
    auto connection = Make(false);
    ASSERT_FALSE(connection->configure(false).IsError());
    ASSERT_FALSE(connection->sendDRStartMessage().IsError());
    std::string number = "old";
    CWqError result = connection->receiveDRStartStatus(number);
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    EXPECT_EQ(c.number, number);
    EXPECT_EQ(c.causes, Causes());
    if (std::string(c.what) == "silence") {
      EXPECT_NE(std::string::npos, result.AsString().find("no confirmation from client"));
    }
    EXPECT_FALSE(connection->stopServicesOnClient().IsError());
    EXPECT_FALSE(connection->isConnected());
  }
  // The start messages the daemon decoded carry the job's own identifiers.
  size_t starts = 0;
  for (size_t i = 0; i < daemon.GetConnectionCount(); ++i)
    for (const auto& msg : daemon.GetRecord(i).received)
      if (msg->getMsgType() == IBM_DR_BACKUP_JOB_MSG) {
        const auto& start = static_cast<const ClIBMDRBackupJobMsg&>(*msg);
        EXPECT_EQ(2, start.getVelliconId());
        EXPECT_EQ(static_cast<uint64_t>(kJob), start.getJobId());
        EXPECT_EQ(kApp, start.getAppId());
        EXPECT_EQ("/home/drimage", start.getDRMediaLocation());
        ++starts;
      }
  EXPECT_EQ(9u, starts);
}

TEST_F(DRConnectionTest, QipltypeWarningIsMajorEventOnly) {
  daemon.ScriptNext(IBM_DR_BACKUP_JOB_MSG, SimScript().Reply(Failed(-2, "w")).Reply(JobStarted("N2")));
  auto connection = Make(true);
  ASSERT_FALSE(connection->configure(false).IsError());
  ASSERT_FALSE(connection->sendDRStartMessage().IsError());
  std::string number;
  ASSERT_FALSE(connection->receiveDRStartStatus(number).IsError());
  int majors = 0;
  for (const EventJournalEntry& e : EventJournal::Instance().Entries())
    if (e.eventId == EV_DR_IPLTYPE_WARNING) ++majors;
  EXPECT_EQ(1, majors);
  EXPECT_TRUE(Causes().empty());
}

TEST_F(DRConnectionTest, StatusAnswers) {
  struct Case {
    const char* what;
    bool ipl;
    SimScript script;
    bool ok;
    DRBackupState state;
    bool answered;
    std::vector<uint32_t> causes;
    bool cleanup;
  } cases[] = {
      {"exit 0", false, SimScript().Reply(Finished(0)), true, DR_STATE_SUCCESS, true, {}, false},
      {"exit 10 with ipl", true, SimScript().Reply(Finished(10)), true, DR_STATE_SUCCESS, true, {}, false},
      {"exit 10 without ipl", false, SimScript().Reply(Finished(10)), false, DR_STATE_FAILED, true,
       {EV_DR_CLIENT_ERROR}, true},
      {"exit 3", true, SimScript().Reply(Finished(3)), false, DR_STATE_FAILED, true, {EV_DR_CLIENT_ERROR}, true},
      {"good eof", false, SimScript().Reply(Empty(GOOD_EOF_MSG)), true, DR_STATE_SUCCESS, true, {}, false},
      {"failed file", false, SimScript().Reply(Failed(7, "bad")), false, DR_STATE_FAILED, true,
       {EV_DR_CLIENT_ERROR}, true},
      {"client error", false, SimScript().Reply(Empty(CLIENT_ERROR_MSG)), false, DR_STATE_FAILED, true,
       {EV_DR_CLIENT_ERROR}, false},
      {"short blob", false, SimScript().Reply(StatusBlob({"KXDRBKP2"})), false, DR_STATE_FAILED, false,
       {EV_DR_NO_REPLY}, false},
      {"silence", false, SimScript().Silent(3000), false, DR_STATE_FAILED, false, {EV_DR_NO_REPLY}, true},
      {"close", false, SimScript().Close(), false, DR_STATE_FAILED, false, {EV_DR_NO_REPLY}, true},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    KXPlatformInfo().deleteSection("ProxyClients/ibmi5");
    EventJournal::Instance().Reset();
    daemon.ScriptNext(DR_JOB_STATUS_MSG, c.script);
    auto connection = Make(c.ipl);
    ASSERT_FALSE(connection->configure(false).IsError());
    DRBackupState drState = DR_STATE_SERVICES_BACK;
    CWqError result = connection->getDRStatus("123456/QSECOFR/KXDRBKP", drState);
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    EXPECT_EQ(c.state, drState);
    EXPECT_EQ(c.answered, connection->statusAnswered());
    EXPECT_EQ(c.causes, Causes());
    EXPECT_EQ(c.cleanup, CleanupScheduled());
  }
}

TEST_F(DRConnectionTest, StatusRequestCarriesJobNumber) {
  daemon.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(Finished(0)));
  auto connection = Make(false);
  ASSERT_FALSE(connection->configure(false).IsError());
  DRBackupState drState;
  ASSERT_FALSE(connection->getDRStatus("654321/QSECOFR/KXDRBKP", drState).IsError());
  bool seen = false;
  for (const auto& msg : daemon.GetRecord(0).received)
    if (msg->getMsgType() == DR_JOB_STATUS_MSG) {
      const uint8_t* bytes = nullptr;
      uint32_t length = 0;
      static_cast<const ClBlobMsg&>(*msg).get(bytes, length);
      uint32_t offset = 0;
      std::string number;
      ASSERT_EQ(ClProxySerializer::kSuccess, ClProxySerializer::deserialize(bytes, length, offset, number));
      EXPECT_EQ("654321/QSECOFR/KXDRBKP", number);
      EXPECT_EQ(length, offset);
      seen = true;
    }
  EXPECT_TRUE(seen);
  // Nothing truncated or empty goes out.
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->getDRStatus(std::string(300, 'J'), drState), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->getDRStatus("", drState), EINVAL));
}

TEST_F(DRConnectionTest, SecondConnectReusesLiveLink) {
  auto connection = Make(false);
  ASSERT_FALSE(connection->configure(false).IsError());
  ASSERT_TRUE(daemon.WaitForOpenLinks(1, 5));
  EXPECT_FALSE(connection->connectToClientService().IsError());
  EXPECT_TRUE(connection->isConnected());
  // Still the one link: a second connect would have opened another.
  EXPECT_TRUE(daemon.WaitForOpenLinks(1, 5));
  EXPECT_EQ(1u, daemon.GetConnectionCount());
}

TEST_F(DRConnectionTest, StagingCheckGoesThroughSeam) {
  int calls = 0;
  IBMiDRStagingCheck::SetHook([&](ClClientManager& manager, bool noManage) {
    ++calls;
    EXPECT_EQ(servicetest::kClient, manager.getClientId());
    EXPECT_FALSE(noManage);
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "cleanup failed");
  });
  auto connection = Make(false);
  ASSERT_FALSE(connection->configure(false).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(connection->CheckAndCleanupDRFolder(false), EIO));
  EXPECT_EQ(1, calls);
}

TEST(DREventFamily, Codes) {
  EXPECT_EQ(0x17000083u, IBMiDRClientConnectionInterface::DREventId(0x17000083));
  EXPECT_EQ(EV_DR_CLIENT_ERROR, IBMiDRClientConnectionInterface::DREventId(5));
  // Bit 0x20000 set: the module is the 16 bits from bit 18 upward.
  int32_t family = static_cast<int32_t>((0x17u << 18) | 0x20000u | 0x5u);
  EXPECT_EQ(static_cast<uint32_t>(family), IBMiDRClientConnectionInterface::DREventId(family));
  // The top byte is 0x17 but bit 0x20000 moves the module elsewhere.
  EXPECT_EQ(EV_DR_CLIENT_ERROR, IBMiDRClientConnectionInterface::DREventId(0x17020005));
}

}  // namespace

namespace {

TEST_F(DRConnectionTest, CleanupAnswers) {
  struct Case {
    const char* what;
    SimScript script;
    bool ok;
    bool isInt;
    std::vector<uint32_t> causes;
    bool deferred;
  } cases[] = {
      {"good eof", SimScript().Reply(Empty(GOOD_EOF_MSG)), true, false, {}, false},
      {"failed file", SimScript().Reply(Failed(5, "in use")), false, false, {EV_DR_CLEANUP_FAILED}, true},
      {"client error", SimScript().Reply(Empty(CLIENT_ERROR_MSG)), false, false, {EV_DR_CLIENT_ERROR}, true},
      {"silence", SimScript().Silent(3000), false, true, {EV_DR_CLEANUP_UNREACHABLE}, true},
      {"close", SimScript().Close(), false, true, {EV_DR_CLEANUP_UNREACHABLE}, true},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    KXPlatformInfo().deleteSection("ProxyClients/ibmi5");
    EventJournal::Instance().Reset();
    daemon.ScriptNext(IBM_DR_BACKUP_CLEAN_MSG, c.script);
    auto connection = Make(false);
    ASSERT_FALSE(connection->configure(false).IsError());
    CWqError result = connection->cleanUp();
    EXPECT_EQ(c.ok, !result.IsError());
    if (!c.ok) { EXPECT_EQ(c.isInt, FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER)); }
    if (std::string(c.what) == "failed file") {
      EXPECT_NE(std::string::npos, result.AsString().find("DR backup cleanup failed:"));
    }
    EXPECT_EQ(c.causes, Causes());
    EXPECT_EQ(c.deferred, CleanupScheduled());
    // Dropped after the exchange or after it ended without its answer.
    if (c.ok || c.isInt) { EXPECT_FALSE(connection->isConnected()); }
  }
  // What the daemon decoded names this job and its folder.
  bool seen = false;
  for (size_t i = 0; i < daemon.GetConnectionCount(); ++i)
    for (const auto& msg : daemon.GetRecord(i).received)
      if (msg->getMsgType() == IBM_DR_BACKUP_CLEAN_MSG) {
        const auto& clean = static_cast<const ClIBMDRBackupCleanMsg&>(*msg);
        EXPECT_EQ(2, clean.getVelliconId());
        EXPECT_EQ(static_cast<uint64_t>(kJob), clean.getJobId());
        EXPECT_EQ(kApp, clean.getAppId());
        EXPECT_EQ("/home/drimage", clean.getDRMediaLocation());
        seen = true;
      }
  EXPECT_TRUE(seen);
}

TEST_F(DRConnectionTest, CleanupWithoutFolderSendsNothing) {
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "DRDataPath", RecordValue(""));
  auto connection = Make(false);
  ASSERT_FALSE(connection->configure(true).IsError());
  EXPECT_FALSE(connection->cleanUp().IsError());
  connection->stopServicesOnClient();
  ASSERT_TRUE(daemon.WaitForClosed(0, 5));
  for (ClProxyMsgType type : daemon.GetRequests()) EXPECT_NE(IBM_DR_BACKUP_CLEAN_MSG, type);
}

TEST_F(DRConnectionTest, CleanupUnreachable) {
  auto connection = Make(false);
  ASSERT_FALSE(connection->configure(false).IsError());
  connection->stopServicesOnClient();
  daemon.Stop();
  CWqError result = connection->cleanUp();
  EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER));
  EXPECT_EQ(std::vector<uint32_t>{EV_DR_CLEANUP_UNREACHABLE}, Causes());
  EXPECT_TRUE(CleanupScheduled());
}

}  // namespace
