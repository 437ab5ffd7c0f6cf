// The VTL DR driver over the DR driver's state machine, against the
// simulated IBM i: state 7 after a good status query, the index update's
// gating, the tape questions and the drive cleanup at destruction.
#include <gtest/gtest.h>

#include <cerrno>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "DRTestUtil.h"
#include "App_ExecuteSP.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClProxySerializer.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "MediaManagerMsgs.h"
#include "service/IBMiVTLDRBackupManager.h"

namespace {

using drtest::Empty;
using drtest::kApp;
using drtest::kJob;
std::shared_ptr<ClProxyMsg> Status(uint32_t exitCode) {
  std::vector<uint8_t> bytes(256);
  uint32_t offset = 0;
  ClProxySerializer::serialize(std::string("KXDRBKP2"), bytes.data(), 256, offset);
  ClProxySerializer::serialize(exitCode, bytes.data(), 256, offset);
  ClProxySerializer::serialize(std::string("done"), bytes.data(), 256, offset);
  return std::make_shared<ClBlobMsg>(DR_JOB_STATUS_MSG, ClBlobMsg::Copy, bytes.data(), offset);
}

class VTLDriverTest : public drtest::VTLDRTest {
 protected:
  void SetUp() override {
    VTLDRTest::SetUp();
    // A VTL and a non-VTL library: the plain driver would pre-scan.
    RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, SimLibraryReply(true));
    SetTimeout("TIMEOUT_VTL_CLEANUP_REPLY", 1);
  }
  std::unique_ptr<IBMiVTLDRBackupManager> Make() {
    return std::unique_ptr<IBMiVTLDRBackupManager>(
        new IBMiVTLDRBackupManager(&jobClient, nullptr, servicetest::kVellicon, kJob, kApp, false));
  }
  std::unique_ptr<IBMiVTLDRBackupManager> Configured() {
    auto m = Make();
    EXPECT_FALSE(m->configure().IsError());
    return m;
  }
  void SaveState(int state, const std::string& number = "123456/QSECOFR/KXDRBKP", const std::string& tapes = "",
                 unsigned int size = 0) {
    IBMiDRStateInterface s(servicetest::kVellicon, kApp, kJob);
    s.setState(static_cast<DRBackupState>(state));
    s.setBackupJobNumber(number);
    s.setTapeList(tapes);
    s.setSystemBackupSize(size);
    ASSERT_FALSE(s.saveStatus().IsError());
  }
  int SavedState() {
    IBMiDRStateInterface s(servicetest::kVellicon, kApp, kJob);
    EXPECT_FALSE(s.restoreStatus().IsError());
    return s.getState();
  }
  size_t Sent(ClProxyMsgType type) {
    size_t n = 0;
    for (ClProxyMsgType t : daemon.GetRequests()) n += t == type;
    return n;
  }
};

TEST_F(VTLDriverTest, NeverPreScans) {
  auto m = Make();
  EXPECT_FALSE(m->isPreScanOnly());
  RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 5, "");
  auto failedQuery = Make();
  EXPECT_FALSE(failedQuery->configure().IsError());  // no pre-scan to protect
}

// The status step: 7 after a good answer (GOOD_EOF alone too), 6 after a
// reported failure, 4 kept without an answer; 5 and 7 ask nobody.
TEST_F(VTLDriverTest, StatusStep) {
  const struct {
    const char* what;
    int saved;
    bool scripted;
    SimScript script;
    bool ok;
    int state;
  } cases[] = {
      {"success", DR_STATE_SERVICES_BACK, true, SimScript().Reply(Status(0)), true, DR_STATE_INDEX_UPDATE_PENDING},
      {"good eof alone", DR_STATE_SERVICES_BACK, true, SimScript().Reply(Empty(GOOD_EOF_MSG)), true,
       DR_STATE_INDEX_UPDATE_PENDING},
      {"failure", DR_STATE_SERVICES_BACK, true, SimScript().Reply(Status(3)), false, DR_STATE_FAILED},
      {"no answer", DR_STATE_SERVICES_BACK, true, SimScript().Silent(2500), false, DR_STATE_SERVICES_BACK},
      {"already succeeded", DR_STATE_SUCCESS, false, SimScript(), true, DR_STATE_INDEX_UPDATE_PENDING},
      {"already pending", DR_STATE_INDEX_UPDATE_PENDING, false, SimScript(), true, DR_STATE_INDEX_UPDATE_PENDING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SaveState(c.saved);
    const size_t queries = Sent(DR_JOB_STATUS_MSG);
    if (c.scripted) daemon.ScriptNext(DR_JOB_STATUS_MSG, c.script);
    auto m = Configured();
    CWqError result = c.scripted ? m->getDRStatus() : m->run();
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    EXPECT_EQ(c.state, SavedState());
    if (!c.scripted) {
      EXPECT_EQ(queries, Sent(DR_JOB_STATUS_MSG));
      EXPECT_EQ(0u, Sent(IBM_DR_BACKUP_JOB_MSG));
    }
  }
}

// The index update starts only after a good save (7, or 5 on a repeat).
TEST_F(VTLDriverTest, OutfileProcessingGating) {
  for (int state : {0, 1, 2, 3, 4, 5, 6, 7, 9}) {
    SCOPED_TRACE(state);
    SaveState(state);
    daemon.ScriptNext(PROCESS_OUTFILE_MSG, SimScript());
    const size_t before = Sent(PROCESS_OUTFILE_MSG);
    auto m = Configured();
    CWqError result = m->startOutfileProcessing();
    const bool acts = state == DR_STATE_SUCCESS || state == DR_STATE_INDEX_UPDATE_PENDING;
    if (acts) {
      EXPECT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(DR_STATE_SUCCESS, SavedState());
      // The daemon records the request on its own thread.
      EXPECT_TRUE(servicetest::Eventually([&] { return Sent(PROCESS_OUTFILE_MSG) == before + 1; }));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
      EXPECT_NE(std::string::npos, result.AsString().find("Invalid state " + std::to_string(state)));
      EXPECT_EQ(state, SavedState());
      EXPECT_EQ(before, Sent(PROCESS_OUTFILE_MSG));
    }
  }
  // A request that cannot be sent leaves the state for a restart to retry.
  SaveState(DR_STATE_INDEX_UPDATE_PENDING);
  auto m = Configured();
  m->connection()->stopServicesOnClient();
  daemon.Stop();
  EXPECT_TRUE(m->startOutfileProcessing().IsError());
  EXPECT_EQ(DR_STATE_INDEX_UPDATE_PENDING, SavedState());
}

TEST_F(VTLDriverTest, TapeQuestions) {
  const struct {
    int state;
    bool created;
  } cases[] = {{0, false}, {1, false}, {2, false}, {3, true}, {4, true},
               {5, true},  {6, true},  {7, true},  {12, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    SaveState(c.state, "N", "T1:T2", 40960);
    auto m = Configured();
    EXPECT_EQ(c.created, m->wasDRTapeCreated());
    EXPECT_EQ(40960u, m->systemBackupSize());
    std::list<std::string> tapes;
    EXPECT_FALSE(m->getTapeListFromStateFile(tapes).IsError());
    EXPECT_EQ(std::list<std::string>({"T1", "T2"}), tapes);
  }
  EXPECT_EQ(1u, LogCount("Backup state is not handled"));
  SaveState(DR_STATE_BEGIN, "", "", 0);
  EXPECT_EQ(0u, Configured()->systemBackupSize());
}

// initializeTapeAndDrive(tapes, drive) reaches the client as drive then
// tapes; destroying the driver cleans up that drive, whatever the answer.
TEST_F(VTLDriverTest, TapesAndDriveCleanup) {
  daemon.ScriptNext(INITIALIZE_TAPE_MLB_MODE_MSG,
                    SimScript().Reply(std::make_shared<ClInitializeTapeMLBMode>(2, kApp, kJob, "TAPMLB02",
                                                                                std::list<std::string>{"A1"})));
  daemon.ScriptNext(VTL_DR_CLEANUP_MSG, SimScript().Reply(Empty(CLIENT_ERROR_MSG)));
  {
    auto m = Configured();
    ASSERT_FALSE(m->initializeTapeAndDrive({"A1", "B2"}, "TAPMLB01").IsError());
    EXPECT_EQ("TAPMLB02", m->connection()->configuration()->getDriveCode());
  }
  auto init = LastRequest<ClInitializeTapeMLBMode>(INITIALIZE_TAPE_MLB_MODE_MSG);
  auto cleanup = LastRequest<ClVTLDRCleanupMsg>(VTL_DR_CLEANUP_MSG);
  ASSERT_TRUE(init);
  EXPECT_EQ("TAPMLB01", init->getDriveCode());
  EXPECT_EQ(std::list<std::string>({"A1", "B2"}), init->getTapeList());
  ASSERT_TRUE(cleanup);
  EXPECT_EQ("TAPMLB02", cleanup->getDrive());

  // Without a drive (a job resumed in a new process) nothing is sent.
  { auto m = Configured(); }
  EXPECT_EQ(1u, Sent(VTL_DR_CLEANUP_MSG));
}

// The volumes the client granted are the job's from the moment they are
// granted: a restarted job whose step-3 save failed still records them, and
// once the save may have written to them they are not initialised again.
TEST_F(VTLDriverTest, ResumedJobKeepsItsTapes) {
  SetTimeout("TIMEOUT_TAPE_INIT_REPLY", 1);
  daemon.ScriptNext(INITIALIZE_TAPE_MLB_MODE_MSG,
                    SimScript().Reply(std::make_shared<ClInitializeTapeMLBMode>(2, kApp, kJob, "TAPMLB02",
                                                                                std::list<std::string>{"C3", "D4"})));
  daemon.ScriptNext(VTL_DR_CLEANUP_MSG, SimScript().Reply(Empty(SERVICE_CHECK_MSG)));
  {
    auto m = Configured();
    ASSERT_FALSE(m->initializeTapeAndDrive({"A1", "B2"}, "TAPMLB01").IsError());
    std::list<std::string> tapes;
    IBMiDRStateInterface granted(servicetest::kVellicon, kApp, kJob);
    ASSERT_FALSE(granted.restoreStatus().IsError());
    granted.getTapeList(tapes);
    EXPECT_EQ(std::list<std::string>({"C3", "D4"}), tapes);
    // The save went on to the restricted state; the tapes' own save fails.
    m->state()->setState(DR_STATE_IN_RESTRICTED_STATE);
    ASSERT_FALSE(m->state()->saveStatus().IsError());
    JobResultsSwitches::Instance().FailOpen(ENOSPC);
    EXPECT_TRUE(m->suspendJob().IsError());
    JobResultsSwitches::Instance().Reset();
  }
  // The restarted job: no new tape initialisation may touch the save.
  const size_t inits = Sent(INITIALIZE_TAPE_MLB_MODE_MSG);
  auto again = Configured();
  EXPECT_EQ("C3:D4", again->connection()->getTapeList());
  CWqError refused = again->initializeTapeAndDrive({"E5"}, "TAPMLB01");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(refused, EINVAL)) << refused.AsString();
  EXPECT_EQ(inits, Sent(INITIALIZE_TAPE_MLB_MODE_MSG));
  ASSERT_FALSE(again->suspendJob().IsError());
  std::list<std::string> tapes;
  IBMiDRStateInterface saved(servicetest::kVellicon, kApp, kJob);
  ASSERT_FALSE(saved.restoreStatus().IsError());
  saved.getTapeList(tapes);
  EXPECT_EQ(std::list<std::string>({"C3", "D4"}), tapes);
  EXPECT_EQ(DR_STATE_IN_RESTRICTED_STATE, saved.getState());
}

// A tape initialisation is refused in every state but 0 and 1, before
// anything is saved or sent.
TEST_F(VTLDriverTest, TapeInitialisationGating) {
  SetTimeout("TIMEOUT_TAPE_INIT_REPLY", 1);
  for (int state : {-1, 2, 3, 4, 5, 6, 7, 8}) {
    SCOPED_TRACE(state);
    SaveState(state, "N", "T1:T2");
    const size_t inits = Sent(INITIALIZE_TAPE_MLB_MODE_MSG);
    auto m = Configured();
    int saves = 0;
    JobResultsSwitches::Instance().SetSaveHook([&](int) { ++saves; });
    CWqError refused = m->initializeTapeAndDrive({"E5"}, "TAPMLB01");
    JobResultsSwitches::Instance().SetSaveHook(nullptr);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(refused, EINVAL)) << refused.AsString();
    EXPECT_EQ(0, saves);
    EXPECT_EQ(inits, Sent(INITIALIZE_TAPE_MLB_MODE_MSG));
    EXPECT_EQ("T1:T2", m->connection()->getTapeList());
  }
}

}  // namespace
