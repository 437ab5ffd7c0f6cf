// The option blocks in the forms that the scan phase does not use (the
// backup's type-of-info job log and sync-library group), filled straight
// into a job start.
#include "ProxyJobOptions.h"
#include "ScanTestUtil.h"

using namespace scantest;

namespace {

class JobOptionBlocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordRegistry::Instance().Reset();
    RecordRegistry::Instance().AddClient(kClient, "vms1", 118);
    RecordRegistry::Instance().AddSubclient(kVellicon, kApp, kClient);
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }
  static void Set(const std::string& name, const RecordValue& value) {
    ASSERT_TRUE(RecordRegistry::Instance().SetSubclientValue(kVellicon, kApp, name, value)) << name;
  }

  coretest::ScopedLogCapture log;
  Subclient subclient{kVellicon, kApp};
  ClJobStartMsg msg{kVellicon, kApp, 2, 0, kJob};
};

TEST_F(JobOptionBlocksTest, TypeOfInfoFormAddsItsOptionAfterTheLogOption) {
  RecordRegistry::Instance().SetTaskOption(kJob, TASK_OPTION_LOG_OUTPUT_OPTION, 2);
  RecordRegistry::Instance().SetTaskOption(kJob, TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, 7);
  RecordRegistry::Instance().SetTaskOption(kJob, TASK_OPTION_LOG_OUTPUT_MEMBER_OPTION, 1);
  EvTask task(kJob);
  EXPECT_EQ(2, ProxyJobOptions::SetJobLogOptions(task, msg, ProxyJobOptions::kJobLogTypeOfInfo));
  EXPECT_EQ(
      (std::vector<std::string>{"Log_Output_Option=2", "Log_Output_Type_Of_Info=7", "Log_Output_Member_Option=1"}),
      Describe(msg));
}

TEST_F(JobOptionBlocksTest, BackupFormUnreadableCustomFlagHasItsOwnEvent) {
  bool custom = true;
  CWqError result =
      ProxyJobOptions::SetContentSelectionOptions(subclient, msg, ProxyJobOptions::kBackupForm, FX_HERE, custom);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_SUBCLIENT_PROPERTIES_UNREADABLE)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Failed to read Subclient properties."));
  EXPECT_TRUE(custom) << "left untouched";
  EXPECT_TRUE(msg.getEntries().empty());
}

// The backup form forces a short save-while-active wait up to 600; the
// group-3 value decides, and the wait time is set once more before.
TEST_F(JobOptionBlocksTest, BackupFormSyncLibForcesShortWaitTime) {
  struct Case {
    int64_t wait;  // -1: none configured
    std::string expected;
    bool forced;
    std::vector<std::string> calls;
  } cases[] = {{10,
                "Backup_Save_ActiveWait_Time=600u",
                true,
                {"Backup_Save_ActiveWait_Time=10u", "Backup_Save_ActiveWait_Time=10u",
                 "Backup_Save_ActiveWait_Time=600u"}},
               {11,
                "Backup_Save_ActiveWait_Time=11u",
                false,
                {"Backup_Save_ActiveWait_Time=11u", "Backup_Save_ActiveWait_Time=11u"}},
               {-1, "Backup_Save_ActiveWait_Time=600u", true, {"Backup_Save_ActiveWait_Time=600u"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wait);
    SetUp();
    log.Clear();
    Set("iSeriesBackupSyncLibFlag", true);
    if (c.wait >= 0) Set("iSeriesSaveActiveWaitTime", c.wait);
    ClJobStartMsg start(kVellicon, kApp, 2, 0, kJob);
    uint64_t groupThree = 99;
    EXPECT_EQ(c.wait >= 0, ProxyJobOptions::SetSaveActiveOptions(subclient, start, groupThree));
    bool syncBackup = false;
    ProxyJobOptions::SetSyncLibOptionsForBackup(subclient, start, false, groupThree, syncBackup);
    EXPECT_TRUE(syncBackup);
    const ClJobStartMsg::Entry* wait = start.findOption("Backup_Save_ActiveWait_Time");
    ASSERT_NE(nullptr, wait);
    EXPECT_EQ(c.expected, Describe(*wait));
    EXPECT_EQ(c.calls, DescribeSetCalls(start, "Backup_Save_ActiveWait_Time"));
    EXPECT_EQ(c.forced, log.Has("Forcing SaveAct wait time to 600 from " + std::to_string(c.wait < 0 ? 0 : c.wait)));
  }
}

// A default subclient's content overrides a custom selection: the flag is
// set true, then false, and every content kind follows.
TEST_F(JobOptionBlocksTest, DefaultSubclientSetsTheCustomFlagTrueThenFalse) {
  Set("iSeriesSCCustomFlag", true);
  Set("DefaultSubclient", true);
  bool custom = false;
  CWqError result =
      ProxyJobOptions::SetContentSelectionOptions(subclient, msg, ProxyJobOptions::kScanForm, FX_HERE, custom);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(custom);
  EXPECT_EQ((std::vector<std::string>{"Iseries_Custome_SC_Flag=true", "Iseries_Custome_SC_Flag=false"}),
            DescribeSetCalls(msg, "Iseries_Custome_SC_Flag"));
}

TEST_F(JobOptionBlocksTest, BackupFormDisabledSyncLibIsNotEvenRead) {
  Set("iSeriesBackupSyncLibFlag", true);
  bool syncBackup = false;
  ProxyJobOptions::SetSyncLibOptionsForBackup(subclient, msg, true, 0, syncBackup);
  EXPECT_FALSE(syncBackup);
  EXPECT_TRUE(msg.getEntries().empty());
}

}  // namespace
