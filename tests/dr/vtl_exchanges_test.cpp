// The VTL exchanges of the DR client connection against the simulated IBM i:
// the system size (waits, failure report, quit flag, overall limit), the
// create-index flag through the service cache, and the tape and drive
// initialisation (events, the client's choice, errors).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "DRTestUtil.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClDRStartMsg.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClServiceMsgs.h"
#include "FXClock.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "service/IBMiDRClientConnection.h"

namespace {

using drtest::Empty;
using drtest::kApp;
using drtest::kJob;
const uint32_t kScanFailed = 0x17000090;

std::shared_ptr<ClProxyMsg> Size(uint32_t megabytes) {
  auto size = std::make_shared<ClClientBackupSize>(2, kApp, kJob);
  size->setClientBackupSize(megabytes);
  return size;
}
std::shared_ptr<ClProxyMsg> Tapes(const std::string& drive, const std::list<std::string>& tapes) {
  return std::make_shared<ClInitializeTapeMLBMode>(2, kApp, kJob, drive, tapes);
}
std::shared_ptr<ClProxyMsg> Event(uint32_t id) { return std::make_shared<ClEventMsg>(id, 2, 0, std::list<std::string>{"x"}); }

class DRVTLExchangeTest : public drtest::VTLDRTest {
 protected:
  void SetUp() override {
    VTLDRTest::SetUp();
    SetTimeout("TIMEOUT_SYSTEM_SIZE_REPLY", 1);
    SetTimeout("TIMEOUT_TAPE_INIT_REPLY", 1);
  }
  std::vector<EventJournalEntry> Journal(int messageType) {
    std::vector<EventJournalEntry> found;
    for (const EventJournalEntry& e : EventJournal::Instance().Entries())
      if (e.messageType == messageType) found.push_back(e);
    return found;
  }
};

TEST_F(DRVTLExchangeTest, NotConfigured) {
  IBMiDRClientConnectionInterface c(&jobClient, nullptr, 2, kApp, kJob, false, state);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(c.getSystemBackupSize(), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(c.clearCreateIndexFlag(), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(c.InitializeTapeAndDrive("TAPMLB01", {"A1"}), EINVAL));
  EXPECT_TRUE(daemon.GetRequests().empty());
}

// The request names the job and the DR libraries as the subclient gives
// them; a slow scan is waited for, one receive limit at a time.
TEST_F(DRVTLExchangeTest, SystemSizeAfterSlowScan) {
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "IbmiDrBackupLibraryPaths",
                                               RecordValue("/QSYS.LIB/PAYROLL.LIB\n/QSYS.LIB/HR.LIB"));
  daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, SimScript().Silent(2500).Reply(Size(40960)));
  auto c = Configured(true);
  ASSERT_FALSE(c->getSystemBackupSize().IsError());
  EXPECT_EQ(40960u, c->systemBackupSizeFromClient());
  EXPECT_GE(LogCount("Waiting for client to finish scan."), 2u);
  EXPECT_EQ(1u, LogCount("Total system size [40960 MB]"));
  auto request = LastRequest<ClClientBackupSize>(CLIENT_BACKUP_SIZE_MSG);
  ASSERT_TRUE(request);
  EXPECT_EQ(2, request->getVelliconId());
  EXPECT_EQ(kApp, request->getAppId());
  EXPECT_EQ(static_cast<uint64_t>(kJob), request->getJobId());
  EXPECT_EQ(std::list<std::string>({"/QSYS.LIB/PAYROLL.LIB", "/QSYS.LIB/HR.LIB"}), request->getUserLibraries());
  EXPECT_TRUE(c->isConnected());

  // Without DR libraries the request carries no path.
  daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, SimScript().Reply(Size(7)));
  RecordRegistry::Instance().SetSubclientValue(servicetest::kVellicon, kApp, "IbmiDrBackupLibraryPaths",
                                               RecordValue(""));
  auto plain = Configured(true);
  ASSERT_FALSE(plain->getSystemBackupSize().IsError());
  EXPECT_EQ(7u, plain->systemBackupSizeFromClient());
  EXPECT_TRUE(LastRequest<ClClientBackupSize>(CLIENT_BACKUP_SIZE_MSG)->getUserLibraries().empty());
}

TEST_F(DRVTLExchangeTest, SystemSizeFailures) {
  const struct {
    const char* what;
    SimScript script;
    int errNo;  // 0: the client's failure report
    bool connected;
  } cases[] = {
      {"failure report", SimScript().Reply(std::make_shared<ClFailedFileMsg>("", static_cast<int>(kScanFailed), "scan failed")), 0, true},
      {"wrong type", SimScript().Reply(Empty(GOOD_EOF_MSG)), EPROTO, false},
      {"close", SimScript().Close(), ENOTCONN, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EventJournal::Instance().Reset();
    daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, c.script);
    auto connection = Configured(true);
    CWqError result = connection->getSystemBackupSize();
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(0u, connection->systemBackupSizeFromClient());
    EXPECT_EQ(c.connected, connection->isConnected());
    if (c.errNo) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
      EXPECT_NE(std::string::npos, result.AsString().find("Error while waiting for system backup size from"));
      EXPECT_TRUE(Journal(PENDING_CAUSE_MESSAGE_TYPE).empty());
    } else {
      EXPECT_EQ(FX_ERROR_EVENT_MESSAGE, result.GetKind());
      EXPECT_EQ(kScanFailed, static_cast<uint32_t>(result.GetNumber()));
      std::vector<EventJournalEntry> causes = Journal(PENDING_CAUSE_MESSAGE_TYPE);
      ASSERT_EQ(1u, causes.size());
      EXPECT_EQ(kScanFailed, causes[0].eventId);
      EXPECT_NE(causes[0].arguments.end(),
                std::find(causes[0].arguments.begin(), causes[0].arguments.end(), "scan failed"));
    }
  }
}

// A client that keeps the link open and never answers: the quit flag ends
// the wait, and so does the job's maximum duration + 15 minutes.
TEST_F(DRVTLExchangeTest, SystemSizeWaitEnds) {
  FXScopedVirtualClock clock;
  daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, SimScript().Call([](SimPeer&) {
    KXJobControlScript::Instance().RaiseQuitFlag(kJob);
    return CWqError::Success();
  }));
  auto quit = Configured(true);
  EXPECT_TRUE(FXErrorUtil::IsInt(quit->getSystemBackupSize(), DR_ERROR_RETRY_LATER));
  EXPECT_FALSE(quit->isConnected());
  KXJobControlScript::Instance().Reset();

  daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, SimScript().Call([&clock](SimPeer&) {
    clock.clock().Advance(16 * 60 * 1000);
    return CWqError::Success();
  }));
  auto late = Configured(true);
  CWqError result = late->getSystemBackupSize();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_FALSE(late->isConnected());
  EXPECT_EQ(0u, late->systemBackupSizeFromClient());
}

// A setting of 0 is no licence to wait without end: each wait still looks
// at the quit flag every few seconds. Those seconds pass on a virtual clock,
// moved only once the flag is up, so that the flag is what ends the wait.
TEST_F(DRVTLExchangeTest, ZeroSettingStillEndsTheWait) {
  FXScopedVirtualClock clock;
  std::atomic<int> raised{0};
  const struct {
    const char* setting;
    ClProxyMsgType request;
    std::function<CWqError(IBMiDRClientConnectionInterface&)> wait;
  } cases[] = {
      {"TIMEOUT_SYSTEM_SIZE_REPLY", CLIENT_BACKUP_SIZE_MSG,
       [](IBMiDRClientConnectionInterface& c) { return c.getSystemBackupSize(); }},
      {"TIMEOUT_TAPE_INIT_REPLY", INITIALIZE_TAPE_MLB_MODE_MSG,
       [](IBMiDRClientConnectionInterface& c) { return c.InitializeTapeAndDrive("TAPMLB01", {"A1"}); }},
      {"TIMEOUT_NEXT_FILE", PROCESS_OUTFILE_MSG,
       [](IBMiDRClientConnectionInterface& c) {
         CWqError sent = c.startOutfileProcessing();
         if (sent.IsError()) return sent;
         int status = 0;
         std::string name;
         CXFileHeader header;
         return c.recvNextFileFromDR(status, name, header);
       }},
      {"TIMEOUT_VTL_CLEANUP_REPLY", VTL_DR_CLEANUP_MSG,
       [](IBMiDRClientConnectionInterface& c) {
         c.configuration()->setTapeListAndDevice({"A1"}, "TAPMLB01");
         return c.cleanUpClientVTLBackup();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting);
    SetTimeout(c.setting, 0);
    KXJobControlScript::Instance().Reset();
    const int before = raised;
    daemon.ScriptNext(c.request, SimScript().Call([&raised](SimPeer&) {
      KXJobControlScript::Instance().RaiseQuitFlag(kJob);
      ++raised;
      return CWqError::Success();
    }).Silent(-1));
    auto connection = Configured(true);
    auto waited = std::async(std::launch::async, [&] { return c.wait(*connection); });
    for (int i = 0; i < 2000 && waited.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready; ++i)
      if (raised > before) clock.clock().Advance(500);
    if (waited.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      ADD_FAILURE() << "still waiting with the quit flag raised";
      daemon.Stop();  // ends the wait through a closed link
      waited.wait();
      ASSERT_FALSE(daemon.Start().IsError());
      continue;
    }
    CWqError result = waited.get();
    EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_RETRY_LATER)) << result.AsString();
    EXPECT_FALSE(connection->isConnected());
  }
}

TEST_F(DRVTLExchangeTest, ClearCreateIndexFlag) {
  daemon.ScriptNext(CREATE_INDEX_FLAG_MSG, SimScript().Reply(Empty(SERVICE_CHECK_MSG)));
  auto c = Configured(true);
  EXPECT_FALSE(c->clearCreateIndexFlag().IsError());
  auto request = LastRequest<ClCreateIndexFlagMsg>(CREATE_INDEX_FLAG_MSG);
  ASSERT_TRUE(request);
  EXPECT_EQ(static_cast<uint32_t>(ClCreateIndexFlagMsg::kClearFlag), request->getCommand());
  EXPECT_EQ(2u, request->getVelliconId());
  EXPECT_EQ(static_cast<uint32_t>(kApp), request->getAppId());

  // The client reports a failure: its error is returned.
  daemon.ScriptNext(CREATE_INDEX_FLAG_MSG,
                    SimScript().Reply(std::make_shared<ClFailedFileMsg>("", EACCES, "flag locked")));
  CWqError failed = c->clearCreateIndexFlag();
  EXPECT_TRUE(failed.IsError());
  EXPECT_EQ(1u, LogCount("Clear index flag file failed."));

  // Unreachable: 1627, after the lookup raised its critical event.
  EventJournal::Instance().Reset();
  c->stopServicesOnClient();
  daemon.Stop();
  ProxyServicesCache::Reset();
  CWqError unreachable = c->clearCreateIndexFlag();
  EXPECT_TRUE(FXErrorUtil::IsWin32(unreachable, 1627)) << unreachable.AsString();
  EXPECT_NE(std::string::npos, unreachable.AsString().find("Could not connect to client for index file cleanup."));
  bool raised = false;
  for (const EventJournalEntry& e : EventJournal::Instance().Entries())
    raised = raised || e.eventId == EV_CLIENT_SERVICES_UNREACHABLE;
  EXPECT_TRUE(raised);
}

TEST_F(DRVTLExchangeTest, TapeAndDriveInitialisation) {
  const struct {
    const char* what;
    std::list<std::string> tapes;
    SimScript script;
    uint32_t win32;  // 0: success
    int errNo;
    const char* logged;
    const char* drive;      // the configuration's after the call
    const char* tapeList;
  } cases[] = {
      {"events, then the client's choice", {"A1", "B2"},
       SimScript().Reply(Event(0x17000091)).Reply(Event(0x17000092)).Reply(Tapes("TAPMLB02", {"C3", "D4"})), 0, 0,
       "Initialize drive 'TAPMLB01' and tape(s) [A1,B2]", "TAPMLB02", "C3:D4"},
      {"no volumes", {}, SimScript().Reply(Tapes("TAPMLB01", {"E5"})), 0, 0,
       "Initialize drive 'TAPMLB01' and tape(s) []", "TAPMLB01", "E5"},
      {"client error", {"A1", "B2"}, SimScript().Reply(Empty(CLIENT_ERROR_MSG)), 774, 0, nullptr, "", "A1:B2"},
      {"silence", {"A1"}, SimScript().Silent(2500), 0, ETIME, nullptr, "", "A1"},
      {"close", {"A1"}, SimScript().Close(), 0, ENOTCONN, nullptr, "", "A1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EventJournal::Instance().Reset();
    daemon.ScriptNext(INITIALIZE_TAPE_MLB_MODE_MSG, c.script);
    auto connection = Configured(true);
    CWqError result = connection->InitializeTapeAndDrive("TAPMLB01", c.tapes);
    if (c.win32) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(result, c.win32)) << result.AsString();
    } else if (c.errNo) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
      EXPECT_FALSE(connection->isConnected());
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    }
    if (c.logged) { EXPECT_EQ(1u, LogCount(c.logged)); }
    EXPECT_EQ(c.drive, connection->configuration()->getDriveCode());
    EXPECT_EQ(c.tapeList, connection->getTapeList());
    auto request = LastRequest<ClInitializeTapeMLBMode>(INITIALIZE_TAPE_MLB_MODE_MSG);
    ASSERT_TRUE(request);
    EXPECT_EQ(2, request->getVelliconId());
    EXPECT_EQ(kApp, request->getAppId());
    EXPECT_EQ(static_cast<uint64_t>(kJob), request->getJobId());
    EXPECT_EQ("TAPMLB01", request->getDriveCode());
    EXPECT_EQ(c.tapes, request->getTapeList());
    connection->stopServicesOnClient();
  }
  // Both events of the first case reached the job.
  EventJournal::Instance().Reset();
  daemon.ScriptNext(INITIALIZE_TAPE_MLB_MODE_MSG,
                    SimScript().Reply(Event(0x17000091)).Reply(Event(0x17000092)).Reply(Tapes("TAPMLB02", {"C3"})));
  auto connection = Configured(true);
  ASSERT_FALSE(connection->InitializeTapeAndDrive("TAPMLB01", {"A1"}).IsError());
  std::vector<uint32_t> ids;
  for (const EventJournalEntry& e : EventJournal::Instance().Entries()) ids.push_back(e.eventId);
  EXPECT_EQ(std::vector<uint32_t>({0x17000091, 0x17000092}), ids);
  // The start message carries the client's drive and volumes.
  ClIBMDRBackupJobMsg start(2, kJob, kApp);
  ASSERT_FALSE(connection->configuration()->populateDRMessage(start).IsError());
  std::string device, volumes;
  ASSERT_FALSE(start.getOption("Backup_DR_VTL_Device", device).IsError());
  ASSERT_FALSE(start.getOption("Backup_DR_VTL_Volume_List", volumes).IsError());
  EXPECT_EQ("TAPMLB02", device);
  EXPECT_EQ("C3", volumes);
}

// The state is saved before anything is sent; a failed save sends nothing.
TEST_F(DRVTLExchangeTest, TapeInitialisationNeedsTheSavedState) {
  auto connection = Configured(true);
  JobResultsSwitches::Instance().FailOpen(ENOSPC);
  CWqError result = connection->InitializeTapeAndDrive("TAPMLB01", {"A1"});
  EXPECT_TRUE(result.IsError());
  for (ClProxyMsgType type : daemon.GetRequests()) EXPECT_NE(INITIALIZE_TAPE_MLB_MODE_MSG, type);
  EXPECT_EQ("A1", connection->getTapeList());
}

}  // namespace
