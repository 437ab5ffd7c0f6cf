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
#include "EventJournal.h"
#include "FXLogWriter.h"
#include "ClProxySerializer.h"
#include "FXClock.h"
#include "JobResults.h"
#include "MediaManagerMsgs.h"
#include "KXJobControl.h"
#include "KXPlatformInfo.h"
#include "service/IBMiDRBackupManager.h"
#include "service/IBMiDRConfiguration.h"

namespace {

using servicetest::ServicesTest;
using drtest::Empty;

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
  std::unique_ptr<IBMiDRBackupManager> Make(bool ipl = false) {
    return std::unique_ptr<IBMiDRBackupManager>(
        new IBMiDRBackupManager(&jobClient, nullptr, servicetest::kVellicon, kJob, kApp, ipl));
  }
  // The client answers the start with `started`, goes down 30 s later (when
  // `goesDown`) and is back ten minutes after that (when `comesBack`),
  // answering the status query with `exitCode`.
  void ScriptClient(std::shared_ptr<ClProxyMsg> started, bool goesDown, bool comesBack, uint32_t exitCode) {
    daemon.ScriptNext(IBM_DR_BACKUP_JOB_MSG, SimScript().Reply(started).Call([=](SimPeer&) {
      if (goesDown) clock.clock().At(clock.clock().MonotonicMs() + 30000, [this] { daemon.Stop(); });
      if (goesDown && comesBack) clock.clock().At(clock.clock().MonotonicMs() + 600000, [this] { back.Start(); });
      return CWqError::Success();
    }));
    std::string text = "done";
    back.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(Blob("KXDRBKP2", &exitCode, &text)));
  }
  void ScriptClient(uint32_t exitCode) { ScriptClient(Blob("123456/QSECOFR/KXDRBKP"), true, true, exitCode); }
  std::vector<uint32_t> Causes() {
    std::vector<uint32_t> ids;
    for (const EventJournalEntry& e : EventJournal::Instance().Entries())
      if (e.messageType == PENDING_CAUSE_MESSAGE_TYPE) ids.push_back(e.eventId);
    return ids;
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

// A new job run to its end or to the step that fails: what run returns, the
// states saved on the way and the pending causes raised.
struct WholeRunCase {
  const char* name;
  std::shared_ptr<ClProxyMsg> started;  // the client's answer to the start
  bool goesDown, comesBack;
  uint32_t exitCode;
  int errNo, plain;  // run's error: an errno, a plain integer, or neither
  DRBackupState saved;
  std::vector<int> states;  // after each save
  std::vector<uint32_t> causes;
};

void PrintTo(const WholeRunCase& c, std::ostream* os) { *os << c.name; }

class DRWholeRunTest : public DRDriverTest, public ::testing::WithParamInterface<WholeRunCase> {};

TEST_P(DRWholeRunTest, FromNewJob) {
  const WholeRunCase& c = GetParam();
  ScriptClient(c.started, c.goesDown, c.comesBack, c.exitCode);
  std::vector<int> states;
  JobResultsSwitches::Instance().SetSaveHook([&](int) { states.push_back(Saved().getState()); });
  auto m = Make();
  CWqError configured = m->configure();
  ASSERT_FALSE(configured.IsError()) << configured.AsString();
  EventJournal::Instance().Reset();
  CWqError result = m->run();
  JobResultsSwitches::Instance().SetSaveHook(nullptr);
  if (c.errNo) {
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
  } else if (c.plain) {
    EXPECT_TRUE(FXErrorUtil::IsInt(result, c.plain)) << result.AsString();
  } else {
    EXPECT_FALSE(result.IsError()) << result.AsString();
  }
  EXPECT_EQ(c.saved, Saved().getState());
  // configure, start, down, tapes, back, verdict.
  EXPECT_EQ(c.states, states);
  EXPECT_EQ(c.causes, Causes());
  EXPECT_EQ(1u, Sent(daemon, IBM_DR_BACKUP_JOB_MSG));
  EXPECT_EQ(c.comesBack && c.states.size() > 4 ? 1u : 0u, Sent(back, DR_JOB_STATUS_MSG));

  // What is saved is final: a restart in a failed state sends nothing.
  if (c.saved != DR_STATE_FAILED) return;
  auto again = Make();
  ASSERT_FALSE(again->configure().IsError());
  EXPECT_TRUE(FXErrorUtil::IsInt(again->run(), DR_ERROR_GENERAL));
  EXPECT_EQ(1u, Sent(daemon, IBM_DR_BACKUP_JOB_MSG) + Sent(back, IBM_DR_BACKUP_JOB_MSG));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DRWholeRunTest,
    ::testing::Values(
        WholeRunCase{"Success", Blob("123456/QSECOFR/KXDRBKP"), true, true, 0, 0, 0, DR_STATE_SUCCESS,
                     {0, 1, 2, 2, 4, 5}, {}},
        WholeRunCase{"ClientNeverGoesDown", Blob("123456/QSECOFR/KXDRBKP"), false, false, 0, EAGAIN, 0,
                     DR_STATE_INITIATED, {0, 1}, {EV_DR_SERVICES_NOT_STOPPED}},
        WholeRunCase{"ClientNeverBack", Blob("123456/QSECOFR/KXDRBKP"), true, false, 0, 0, DR_ERROR_RETRY_LATER,
                     DR_STATE_IN_RESTRICTED_STATE, {0, 1, 2, 2}, {EV_DR_CLIENT_NOT_BACK}},
        WholeRunCase{"FailedVerdict", Blob("123456/QSECOFR/KXDRBKP"), true, true, 5, EFAULT, 0, DR_STATE_FAILED,
                     {0, 1, 2, 2, 4, 6}, {EV_DR_CLIENT_ERROR}},
        // A start answer without a job number the status query could carry
        // ends the job at once: there would be no verdict to ask for.
        WholeRunCase{"StartAnsweredWithGoodEof", Empty(GOOD_EOF_MSG), true, true, 0, EPROTO, 0, DR_STATE_FAILED,
                     {0, 6}, {EV_DR_CLIENT_ERROR}},
        WholeRunCase{"StartAnsweredWithEmptyNumber", Blob(""), true, true, 0, EPROTO, 0, DR_STATE_FAILED, {0, 6},
                     {EV_DR_CLIENT_ERROR}},
        WholeRunCase{"StartAnsweredWithOverlongNumber", Blob(std::string(253, 'N')), true, true, 0, EPROTO, 0,
                     DR_STATE_FAILED, {0, 6}, {EV_DR_CLIENT_ERROR}}),
    [](const ::testing::TestParamInfo<WholeRunCase>& info) { return std::string(info.param.name); });

// A job saved by an older release with an empty or overlong job number
// cannot be asked about: the status step settles it as failed.
TEST_F(DRDriverTest, StatusStepWithUnusableJobNumber) {
  for (const std::string& number : {std::string(), std::string(253, 'N')}) {
    SCOPED_TRACE(number.size());
    SaveState(DR_STATE_SERVICES_BACK, number);
    EventJournal::Instance().Reset();
    auto m = Make();
    ASSERT_FALSE(m->configure().IsError());
    EXPECT_TRUE(FXErrorUtil::IsErrNo(m->run(), EINVAL));
    EXPECT_EQ(DR_STATE_FAILED, Saved().getState());
    EXPECT_EQ(std::vector<uint32_t>{EV_DR_CLIENT_ERROR}, Causes());
  }
  EXPECT_EQ(0u, Sent(daemon, DR_JOB_STATUS_MSG));
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

// Every step in every state, those outside 0-7 included: 'w' the step does
// its work (against a client that is up and answers), 'n' nothing, 'i'
// EINVAL, 'f' the job failed before. Nothing but the work sends or saves.
TEST_F(DRDriverTest, StepGating) {
  const int states[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  const char* table[] = {"wwwnnnnfnw", "wiwnnnnfnw", "wiiwnnnfnw", "wiiwwwnfnw", "wiiiiwnfnw"};
  // After its work: step 1 saved 1, step 2 found the client up (EAGAIN, no
  // save), step 3 saved the tapes only, step 4 saved 4, step 5 the verdict.
  const int worked[] = {DR_STATE_INITIATED, -100, -100, DR_STATE_SERVICES_BACK, DR_STATE_SUCCESS};
  uint32_t zero = 0;
  std::string text = "ok";
  for (int step = 0; step < 5; ++step)
    for (size_t column = 0; column < sizeof(states) / sizeof(states[0]); ++column) {
      const int state = states[column];
      const char want = table[step][column];
      SCOPED_TRACE(std::to_string(step + 1) + "/" + std::to_string(state));
      SaveState(state, "J1");
      if (want == 'w' && step == 0) daemon.ScriptNext(IBM_DR_BACKUP_JOB_MSG, SimScript().Reply(Blob("J2")));
      if (want == 'w' && step == 4) daemon.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(Blob("KXDRBKP2", &zero, &text)));
      const size_t before = Sent(daemon, IBM_DR_BACKUP_JOB_MSG) + Sent(daemon, DR_JOB_STATUS_MSG);
      auto m = Make();
      ASSERT_FALSE(m->configure().IsError());
      int saves = 0;
      JobResultsSwitches::Instance().SetSaveHook([&](int) { ++saves; });
      CWqError r = step == 0   ? m->initiateDRBackupProcess()
                   : step == 1 ? m->waitForServiceGoDown()
                   : step == 2 ? m->suspendJob()
                   : step == 3 ? m->waitForServiceComeUp()
                               : m->getDRStatus();
      JobResultsSwitches::Instance().SetSaveHook(nullptr);
      const size_t sent = Sent(daemon, IBM_DR_BACKUP_JOB_MSG) + Sent(daemon, DR_JOB_STATUS_MSG) - before;
      if (want == 'w') {
        if (step == 1) {
          EXPECT_TRUE(FXErrorUtil::IsErrNo(r, EAGAIN)) << r.AsString();
        } else {
          EXPECT_FALSE(r.IsError()) << r.AsString();
        }
        EXPECT_EQ(worked[step] == -100 ? state : worked[step], Saved().getState());
        EXPECT_EQ(step == 0 || step == 4 ? 1u : 0u, sent);
        EXPECT_EQ(step == 1 ? 0 : 1, saves);
        continue;
      }
      if (want == 'n') { EXPECT_FALSE(r.IsError()) << r.AsString(); }
      if (want == 'i') { EXPECT_TRUE(FXErrorUtil::IsErrNo(r, EINVAL)) << r.AsString(); }
      if (want == 'f') { EXPECT_TRUE(FXErrorUtil::IsInt(r, DR_ERROR_GENERAL)) << r.AsString(); }
      EXPECT_EQ(state, Saved().getState());
      EXPECT_EQ(0u, sent);
      EXPECT_EQ(0, saves);
    }
}

// Step 3 of an IPL job configured to suspend: the tapes are saved first,
// then the central server's job controller is asked to stop this job; only
// a stop request that went out moves the job to state 3.
TEST_F(DRDriverTest, SuspensionInStepThree) {
  RecordRegistry::Instance().SetTaskOption(kJob, kSuspendJobTaskOption, RecordValue(1));
  const struct {
    const char* what;
    const char* central;  // the central server's host name, if known
    bool failInit, failStop;
    const char* error;
  } cases[] = {
      {"suspended", "central01", false, false, nullptr},
      {"no central server name", nullptr, false, false, "Can't find Zentraver name"},
      {"controller refused", "central01", true, false, "Can't initialize GUI job controller."},
      {"stop refused", "central01", false, true, "Couldn't suspend job."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KXJobControlScript::Instance().Reset();
    KXJobControlScript::Instance().FailInit(c.failInit);
    KXJobControlScript::Instance().FailStop(c.failStop);
    KXPlatformInfo settings;
    ASSERT_EQ(0, settings.setString("Zentraver", "sHostName", c.central ? c.central : "", c.central ? 9 : 0));
    SaveState(DR_STATE_IN_RESTRICTED_STATE, "J1");
    auto m = Make(true);
    ASSERT_FALSE(m->configure().IsError());
    ASSERT_TRUE(m->connection()->shouldSuspendJob());
    int saves = 0;
    JobResultsSwitches::Instance().SetSaveHook([&](int) { ++saves; });
    CWqError r = m->suspendJob();
    JobResultsSwitches::Instance().SetSaveHook(nullptr);
    if (!c.error) {
      EXPECT_FALSE(r.IsError()) << r.AsString();
      EXPECT_EQ(DR_STATE_IN_SUSPENDED_STATE, Saved().getState());
      EXPECT_EQ(std::vector<KXJobID>{kJob}, KXJobControlScript::Instance().Stops());
      EXPECT_EQ(std::vector<std::string>{"central01"}, KXJobControlScript::Instance().Inits());
      EXPECT_EQ(2, saves);  // the tapes, then state 3
      continue;
    }
    EXPECT_TRUE(FXErrorUtil::IsInt(r, DR_ERROR_GENERAL)) << r.AsString();
    EXPECT_NE(std::string::npos, r.AsString().find(c.error)) << r.AsString();
    EXPECT_EQ(DR_STATE_IN_RESTRICTED_STATE, Saved().getState());
    EXPECT_EQ(1, saves);  // the tapes only
    EXPECT_EQ(c.failStop ? std::vector<KXJobID>{kJob} : std::vector<KXJobID>{},
              KXJobControlScript::Instance().Stops());
  }
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
