// The DR driver end to end on the virtual clock against the simulated IBM i
// daemon: a whole run from a new job, resumption from each saved state, the
// step gating table, and the refusals of configure.
#include <gtest/gtest.h>

#include <fstream>
#include <list>
#include <memory>

#include "DRTestUtil.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClFileStreamMsgs.h"
#include "App_ExecuteSP.h"
#include "ClProxySerializer.h"
#include "FXClock.h"
#include "JobResults.h"
#include "MediaManagerMsgs.h"
#include "KXJobControl.h"
#include "service/IBMiDRBackupManager.h"

namespace {

using servicetest::ServicesTest;

const int kApp = 17;
const long long kJob = 123456789012LL;

std::shared_ptr<ClProxyMsg> Blob(const std::string& first, const uint32_t* code = nullptr,
                                 const std::string* text = nullptr) {
  std::vector<uint8_t> bytes(512);
  uint32_t offset = 0;
  ClProxySerializer::serialize(first, bytes.data(), 512, offset);
  if (code) ClProxySerializer::serialize(*code, bytes.data(), 512, offset);
  if (text) ClProxySerializer::serialize(*text, bytes.data(), 512, offset);
  return std::make_shared<ClBlobMsg>(DR_JOB_STATUS_MSG, ClBlobMsg::Copy, bytes.data(), offset);
}


class DRDriverTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    RecordRegistry& r = RecordRegistry::Instance();
    r.AddSubclient(servicetest::kVellicon, kApp, servicetest::kClient);
    r.SetSubclientValue(servicetest::kVellicon, kApp, "DRDataPath", RecordValue("/home/drimage"));
    r.SetTaskXMLOptions(kJob, "<options/>");
    // The library query answers "no VTL".
    r.SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, SimLibraryReply(false));
    SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
    KXJobControlScript::Instance().Reset();
    ASSERT_TRUE(jobClient.init("central01", 0, kJob));
    back.SetBindAddress("127.0.0.1", daemon.GetPort());
  }
  void TearDown() override {
    back.Stop();
    KXJobControlScript::Instance().Reset();
    JobResultsSwitches::Instance().Reset();
    ServicesTest::TearDown();
  }
  std::unique_ptr<IBMiDRBackupManager> Make() {
    return std::unique_ptr<IBMiDRBackupManager>(
        new IBMiDRBackupManager(&jobClient, nullptr, servicetest::kVellicon, kJob, kApp, false));
  }
  // The client goes down 30 s after the start and is back ten minutes later,
  // answering the status query with `exitCode`.
  void ScriptClient(uint32_t exitCode) {
    daemon.ScriptNext(IBM_DR_BACKUP_JOB_MSG, SimScript().Reply(Blob("123456/QSECOFR/KXDRBKP")).Call([this](SimPeer&) {
      clock.clock().At(clock.clock().MonotonicMs() + 30000, [this] { daemon.Stop(); });
      clock.clock().At(clock.clock().MonotonicMs() + 600000, [this] { back.Start(); });
      return CWqError::Success();
    }));
    std::string text = "done";
    back.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(Blob("KXDRBKP2", &exitCode, &text)));
  }
  void SaveState(int state, const std::string& number) {
    IBMiDRStateInterface s(servicetest::kVellicon, kApp, kJob);
    s.setState(static_cast<DRBackupState>(state));
    s.setBackupJobNumber(number);
    ASSERT_FALSE(s.saveStatus().IsError());
  }
  IBMiDRStateInterface Saved() {
    IBMiDRStateInterface s(servicetest::kVellicon, kApp, kJob);
    EXPECT_FALSE(s.restoreStatus().IsError());
    return s;
  }
  size_t Sent(SimServiceDaemon& d, ClProxyMsgType type) {
    size_t n = 0;
    for (ClProxyMsgType t : d.GetRequests()) n += t == type;
    return n;
  }

  ScopedResultsRoot results;
  FXScopedVirtualClock clock;
  KXBkpJobClient jobClient;
  SimServiceDaemon back;
};

TEST_F(DRDriverTest, NotConfigured) {
  auto m = Make();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(m->run(), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(m->cleanUp(), EINVAL));
  EXPECT_TRUE(daemon.GetRequests().empty());
}

TEST_F(DRDriverTest, WholeRunFromNewJob) {
  struct Case {
    uint32_t exitCode;
    bool ok;
    DRBackupState saved;
  } cases[] = {{0, true, DR_STATE_SUCCESS}};
  for (const Case& c : cases) {
    ScriptClient(c.exitCode);
    std::vector<int> states;
    JobResultsSwitches::Instance().SetSaveHook([&](int) { states.push_back(Saved().getState()); });
    auto m = Make();
    CWqError configured = m->configure();
    ASSERT_FALSE(configured.IsError()) << configured.AsString();
    CWqError result = m->run();
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    JobResultsSwitches::Instance().SetSaveHook(nullptr);
    IBMiDRStateInterface s = Saved();
    EXPECT_EQ(c.saved, s.getState());
    EXPECT_EQ("123456/QSECOFR/KXDRBKP", s.getBackupJobNumber());
    // configure, start, down, tapes, back, verdict.
    EXPECT_EQ((std::vector<int>{0, 1, 2, 2, 4, 5}), states);
    EXPECT_EQ(1u, Sent(daemon, IBM_DR_BACKUP_JOB_MSG));
    EXPECT_EQ(1u, Sent(back, DR_JOB_STATUS_MSG));
  }
}

// A restarted job resumes after the last saved step.
TEST_F(DRDriverTest, ResumesFromSavedState) {
  struct Case {
    int state;
    bool ok;
    int final;
    size_t starts, queries;
  } cases[] = {
      {DR_STATE_IN_SUSPENDED_STATE, true, DR_STATE_SUCCESS, 0, 1},
      {DR_STATE_SERVICES_BACK, true, DR_STATE_SUCCESS, 0, 1},
      {DR_STATE_SUCCESS, true, DR_STATE_SUCCESS, 0, 0},
      {DR_STATE_INDEX_UPDATE_PENDING, true, DR_STATE_INDEX_UPDATE_PENDING, 0, 0},
      {DR_STATE_FAILED, false, DR_STATE_FAILED, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    SaveState(c.state, "J7");
    uint32_t zero = 0;
    std::string text = "ok";
    daemon.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(Blob("KXDRBKP2", &zero, &text)));
    size_t startsBefore = Sent(daemon, IBM_DR_BACKUP_JOB_MSG), queriesBefore = Sent(daemon, DR_JOB_STATUS_MSG);
    auto m = Make();
    ASSERT_FALSE(m->configure().IsError());
    CWqError result = m->run();
    EXPECT_EQ(c.ok, !result.IsError()) << result.AsString();
    if (c.state == DR_STATE_FAILED) { EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_GENERAL)); }
    EXPECT_EQ(c.final, Saved().getState());
    EXPECT_EQ(c.starts, Sent(daemon, IBM_DR_BACKUP_JOB_MSG) - startsBefore);
    EXPECT_EQ(c.queries, Sent(daemon, DR_JOB_STATUS_MSG) - queriesBefore);
  }
}

TEST_F(DRDriverTest, StepGating) {
  // step -> state -> expected: 'w' works (not run here), 'n' nothing, 'i' invalid, 'f' failed before.
  const char* table[] = {"wwnnnnfn", "iwnnnnfn", "iiwnnnfn", "iiwwwnfn", "iiiiwnfn"};
  for (int step = 0; step < 5; ++step)
    for (int state = 0; state < 8; ++state) {
      char want = table[step][state];
      if (want == 'w') continue;
      SCOPED_TRACE(std::to_string(step + 1) + "/" + std::to_string(state));
      SaveState(state, "J1");
      auto m = Make();
      ASSERT_FALSE(m->configure().IsError());
      CWqError r = step == 0   ? m->initiateDRBackupProcess()
                   : step == 1 ? m->waitForServiceGoDown()
                   : step == 2 ? m->suspendJob()
                   : step == 3 ? m->waitForServiceComeUp()
                               : m->getDRStatus();
      if (want == 'n') { EXPECT_FALSE(r.IsError()); }
      if (want == 'i') { EXPECT_TRUE(FXErrorUtil::IsErrNo(r, EINVAL)); }
      if (want == 'f') { EXPECT_TRUE(FXErrorUtil::IsInt(r, DR_ERROR_GENERAL)); }
      EXPECT_EQ(state, Saved().getState());
    }
  EXPECT_EQ(0u, Sent(daemon, IBM_DR_BACKUP_JOB_MSG) + Sent(daemon, DR_JOB_STATUS_MSG));
}

TEST_F(DRDriverTest, ConfigureRefusesUnreadableStatusFile) {
  IBMiDRStateInterface s(servicetest::kVellicon, kApp, kJob);
  SaveState(DR_STATE_SERVICES_BACK, "J1");
  { std::ofstream(s.statusFilePath(), std::ios::trunc) << "garbage"; }
  auto m = Make();
  CWqError result = m->configure();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL));
  EXPECT_NE(std::string::npos, result.AsString().find(s.statusFilePath()));
  std::ifstream in(s.statusFilePath());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ("garbage", text);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(m->run(), EINVAL));

  // An empty file starts afresh.
  { std::ofstream(s.statusFilePath(), std::ios::trunc); }
  auto fresh = Make();
  EXPECT_FALSE(fresh->configure().IsError());
  EXPECT_EQ(DR_STATE_BEGIN, Saved().getState());
}

TEST_F(DRDriverTest, ConfigureRefusesWhenSaveFails) {
  JobResultsSwitches::Instance().FailOpen(ENOSPC);
  auto m = Make();
  EXPECT_TRUE(FXErrorUtil::IsWin32(m->configure(), 996));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(m->run(), EINVAL));
}

// A subclient writing to a VTL and a non-VTL library: run is the pre-scan.
// It measures the system, clears the create-index flag and saves state 0
// with the size, keeping the tape list; a job whose save has started is
// left as it is.
TEST_F(DRDriverTest, PreScan) {
  RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, SimLibraryReply(true));
  auto sized = std::make_shared<ClClientBackupSize>(2, kApp, kJob);
  sized->setClientBackupSize(40960);

  const struct {
    const char* what;
    int saved;
    SimScript size;
    bool ok;
    int state;
    const char* number;
    unsigned int megabytes;
    size_t sizeRequests;
  } cases[] = {
      {"after a failed job", DR_STATE_FAILED, SimScript().Reply(sized), true, DR_STATE_BEGIN, "", 40960, 1},
      {"a finished job", DR_STATE_SUCCESS, SimScript().Reply(sized), true, DR_STATE_BEGIN, "", 40960, 1},
      {"a started save", DR_STATE_IN_RESTRICTED_STATE, SimScript(), true, DR_STATE_IN_RESTRICTED_STATE, "OLD", 0, 0},
      {"the client cannot measure", DR_STATE_FAILED,
       SimScript().Reply(std::make_shared<ClFailedFileMsg>("", 0x17000090, "scan failed")), false, DR_STATE_FAILED,
       "OLD", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SaveState(c.saved, "OLD");
    {
      IBMiDRStateInterface s = Saved();
      s.setTapeList("T1:T2");
      ASSERT_FALSE(s.saveStatus().IsError());
    }
    const size_t before = Sent(daemon, CLIENT_BACKUP_SIZE_MSG);
    if (c.sizeRequests) daemon.ScriptNext(CLIENT_BACKUP_SIZE_MSG, c.size);
    auto m = Make();
    ASSERT_TRUE(m->isPreScanOnly());
    ASSERT_FALSE(m->configure().IsError());
    EXPECT_EQ(c.ok, !m->run().IsError());
    IBMiDRStateInterface after = Saved();
    EXPECT_EQ(c.state, after.getState());
    EXPECT_EQ(c.number, after.getBackupJobNumber());
    EXPECT_EQ(c.megabytes, after.getSystemBackupSize());
    std::list<std::string> tapes;
    after.getTapeList(tapes);
    EXPECT_EQ(std::list<std::string>({"T1", "T2"}), tapes);
    EXPECT_EQ(c.sizeRequests, Sent(daemon, CLIENT_BACKUP_SIZE_MSG) - before);
    EXPECT_EQ(0u, Sent(daemon, IBM_DR_BACKUP_JOB_MSG));
  }
  // Each measured pre-scan cleared the create-index flag.
  EXPECT_EQ(2u, Sent(daemon, CREATE_INDEX_FLAG_MSG));
}

TEST_F(DRDriverTest, ConfigureRefusesWhenLibraryQueryFails) {
  RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 5, "");
  auto m = Make();
  EXPECT_FALSE(m->isPreScanOnly());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(m->configure(), EAGAIN));
}

}  // namespace

namespace {

struct Crash {};

// The process ends right after a save; a new driver (the restarted job) goes
// on from what was saved. Only a crash in state 1 starts the save twice.
struct CrashCase {
  int crashAfterSave;  // 1 configure, 2 initiated, 3 restricted, 4 tapes, 5 back
  size_t starts;
};

class DRCrashTest : public DRDriverTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(DRCrashTest, NewDriverFinishesTheJob) {
  const CrashCase c = GetParam();
  ScriptClient(0);
  ScriptClient(0);  // a second start, should the job send one
  JobResultsSwitches::Instance().SetSaveHook([&](int n) {
    if (n == c.crashAfterSave) throw Crash();
  });
  {
    auto m = Make();
    try {
      if (!m->configure().IsError()) m->run();
    } catch (const Crash&) {
    }
  }
  JobResultsSwitches::Instance().SetSaveHook(nullptr);
  // A job that crashed once the client was down is restarted when it is back;
  // one that crashed before resumes while the client still runs.
  if (c.crashAfterSave >= 3) clock.clock().Advance(700000);
  auto again = Make();
  CWqError configured = again->configure();
  ASSERT_FALSE(configured.IsError()) << configured.AsString();
  CWqError result = again->run();
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(DR_STATE_SUCCESS, Saved().getState());
  EXPECT_EQ(c.starts, Sent(daemon, IBM_DR_BACKUP_JOB_MSG) + Sent(back, IBM_DR_BACKUP_JOB_MSG));
}

INSTANTIATE_TEST_SUITE_P(EachSave, DRCrashTest,
                         ::testing::Values(CrashCase{1, 1}, CrashCase{2, 2}, CrashCase{3, 1}, CrashCase{4, 1},
                                           CrashCase{5, 1}));

}  // namespace
