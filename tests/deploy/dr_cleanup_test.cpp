// The DR staging-folder cleanup against the simulated daemon, and the DR
// backup's record of a folder to clean up.
#include <cstring>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "DeployTestUtil.h"
#include "service/IBMiDRStateInterface.h"
#include "KXJobQuery.h"
#include "SimServiceDaemon.h"

namespace {

using namespace deploytest;

const char kSection[] = "ProxyClients/ibmi1";

class DRCleanupTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    KXJobQueryScript::Instance().Reset();
    KXPlatformInfo().setNumber("ProxyTimeouts", "TIMEOUT_DAEMON_REPLY", 1);
    daemon.reset(new SimServiceDaemon);
    ASSERT_FALSE(daemon->Start().IsError());
    RecordRegistry::Instance().SetClientValue(kIbmiClient, "KXDPort", RecordValue(daemon->GetPort()));
  }
  void TearDown() override {
    KXJobQueryScript::Instance().Reset();
    DeployTest::TearDown();
  }
  void Record(const char* folder, const char* job) {
    KXPlatformInfo settings;
    settings.deleteSection(kSection);
    if (folder) settings.setString(kSection, "CleanUpFolder", folder, std::strlen(folder));
    if (job) settings.setString(kSection, "CleanUpFolderJob", job, std::strlen(job));
  }
  bool Kept(const std::string& section = kSection) {
    std::string value;
    return KXPlatformInfo().getString(section, "CleanUpFolder", &value) != 0;
  }
  std::unique_ptr<SimServiceDaemon> daemon;
};

enum Reply { kNone, kGood, kFailed, kClientError, kSilence };

TEST_F(DRCleanupTest, CaseTable) {
  struct Case {
    const char* name;
    const char* folder;
    const char* job;
    bool failInit;
    int state;
    Reply reply;
    bool queried;
    bool kept;
    const char* error;  // null: success
  } cases[] = {
      {"only the folder", "/kxdr", nullptr, false, 4, kNone, false, true, nullptr},
      {"empty folder", "", "12", false, 4, kNone, false, false, nullptr},
      {"job not a number", "/kxdr", "12x", false, 4, kNone, false, true, nullptr},
      {"query not ready", "/kxdr", "12", true, 4, kNone, false, true, "Failed to initialize KXJobQuery object."},
      {"active 3", "/kxdr", "12", false, 3, kNone, true, true, nullptr},
      {"active 20", "/kxdr", "12", false, 20, kNone, true, true, nullptr},
      {"ended, removed", "/kxdr", "12", false, 4, kGood, true, false, nullptr},
      {"ended 19, refused", "/kxdr", "12", false, 19, kFailed, true, true, "5:access denied"},
      {"client error", "/kxdr", "12", false, 4, kClientError, true, true, "Error detected"},
      {"no answer", "/kxdr", "12", false, 4, kSilence, true, true, "no confirmation from client"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record(c.folder, c.job);
    KXJobQueryScript::Instance().Reset();
    KXJobQueryScript::Instance().FailInit(c.failInit);
    KXJobQueryScript::Instance().SetJobState(12, c.state);
    if (c.reply == kGood)
      daemon->ScriptNext(IBM_DR_BACKUP_CLEAN_MSG, SimScript().Reply(std::make_shared<ClEmptyMsg>(GOOD_EOF_MSG)));
    else if (c.reply == kFailed)
      daemon->ScriptNext(IBM_DR_BACKUP_CLEAN_MSG,
                         SimScript().Reply(std::make_shared<ClFailedFileMsg>("/kxdr", 5, "access denied")));
    else if (c.reply == kClientError)
      daemon->ScriptNext(IBM_DR_BACKUP_CLEAN_MSG, SimScript().Reply(std::make_shared<ClEmptyMsg>(CLIENT_ERROR_MSG)));
    else if (c.reply == kSilence)
      daemon->ScriptNext(IBM_DR_BACKUP_CLEAN_MSG, SimScript().Silent(1500));
    std::unique_ptr<ClClientManager> manager = Loaded(kIbmiClient, "127.0.0.1");
    CWqError result = manager->CheckAndCleanupDRFolder(true);
    if (c.error) {
      EXPECT_TRUE(result.IsError());
      EXPECT_NE(std::string::npos, result.AsString().find(c.error)) << result.AsString();
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    }
    EXPECT_EQ(c.queried, !KXJobQueryScript::Instance().Queries().empty());
    EXPECT_EQ(c.kept, Kept());
  }
}

TEST_F(DRCleanupTest, FailedFileIsErrorFourteen) {
  Record("/kxdr", "12");
  KXJobQueryScript::Instance().SetJobState(12, 4);
  daemon->ScriptNext(IBM_DR_BACKUP_CLEAN_MSG,
                     SimScript().Reply(std::make_shared<ClFailedFileMsg>("/kxdr", 5, "access denied")));
  CWqError result = Loaded(kIbmiClient, "127.0.0.1")->CheckAndCleanupDRFolder(true);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 14)) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("DR backup cleanup failed:"));
}

TEST_F(DRCleanupTest, UnloadedManagerReadsNothing) {
  KXPlatformInfo().setString("ProxyClients/", "CleanUpFolder", "/other", 6);
  KXPlatformInfo().setString("ProxyClients/", "CleanUpFolderJob", "12", 2);
  KXJobQueryScript::Instance().SetJobState(12, 4);
  ClClientManager manager("127.0.0.1", daemon->GetPort(), kIbmiClient);
  EXPECT_FALSE(manager.CheckAndCleanupDRFolder(true).IsError());
  EXPECT_TRUE(KXJobQueryScript::Instance().Queries().empty());
  EXPECT_TRUE(Kept("ProxyClients/"));
}

TEST_F(DRCleanupTest, ScheduleWritesUnderTheClientName) {
  IBMiDRStateInterface state(0, 0, 99);
  EXPECT_FALSE(state.scheduleCleanupDRFolder(kIbmiClient, 99, "/kxdr/stage").IsError());
  std::string folder, job;
  KXPlatformInfo().getString(kSection, "CleanUpFolder", &folder);
  KXPlatformInfo().getString(kSection, "CleanUpFolderJob", &job);
  EXPECT_EQ("/kxdr/stage", folder);
  EXPECT_EQ("99", job);

  // A client without a name writes nothing: the bare section would be read
  // by a manager whose data never loaded.
  ScopedCapture capture(0);
  EXPECT_FALSE(state.scheduleCleanupDRFolder(4711, 99, "/kxdr/stage").IsError());
  EXPECT_FALSE(Kept("ProxyClients/"));
  EXPECT_TRUE(capture.AnyContains("no client name"));
}

}  // namespace
