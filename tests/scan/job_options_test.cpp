// The scan job start as the scan program receives it: the base options, the
// job-log block, the IBM i subclient block, streams, compression, readers
// and access times, for the cases that change the list; and the failures
// that keep the job start from being sent.
#include <functional>

#include "FXErrorUtil.h"
#include "ProxyJobOptions.h"
#include "ScanTestUtil.h"

using namespace scantest;

namespace {

const std::vector<std::string> kBase = {"isMLBMode=false", "JO_ClientName='vms1'"};
const std::vector<std::string> kPlainTail = {"nmStreams=4", "JOB_COMPRESSION_LEVEL='*NO'", "keepATime=false"};
const std::vector<std::string> kAllContent = {"Backup_SecurityData_Enabled=true", "Backup_ConfigData_Enabled=true",
                                              "Backup_IBM_Enabled=true",          "Backup_ALLDLO_Enabled=true",
                                              "Backup_AllUser_Enabled=true",      "Backup_Link_Enabled=true",
                                              "Backup_History_Log_Enabled=true"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const std::vector<std::string>& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct OptionCase {
  const char* name;
  // Records and host members beyond a subclient whose custom flag reads false.
  std::function<void(ProxyScan&)> setup;
  // The options after "isMLBMode" and "JO_ClientName"; empty when the job
  // start must not be sent.
  std::vector<std::string> options;
  uint32_t failure;  // event id of the expected failure, 0 for none
  bool syncLibEnabled;
  std::vector<std::string> logLines;     // must be written
  std::vector<std::string> absentLines;  // must not be written
};

// Test names show the case, not its bytes.
void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }

void Subclient(const std::string& name, const RecordValue& value) {
  ASSERT_TRUE(RecordRegistry::Instance().SetSubclientValue(kVellicon, kApp, name, value)) << name;
}
void Task(uint32_t id, const RecordValue& value) {
  RecordRegistry::Instance().SetTaskOption(static_cast<int64_t>(kJob), id, value);
}

const OptionCase kCases[] = {
    {"NothingSet",
     [](ProxyScan&) {},
     Join({{"Iseries_Custome_SC_Flag=false"}, kPlainTail}),
     0,
     false,
     {"m_numberOfReadersPerVolume:0", "ProxyScan::setJobOptions", "JobLog option [0]",
      "Unable to get NumberOfStreams. Using default value of 4 stream.", "Maximum Number of streams set to 4"},
     {}},
    {"JobLogZero",
     [](ProxyScan&) {
       Task(TASK_OPTION_LOG_OUTPUT_OPTION, 0);
       Task(TASK_OPTION_LOG_OUTPUT_FILE, "QSYS/LOG");
     },
     Join({{"Iseries_Custome_SC_Flag=false"}, kPlainTail}),
     0,
     false,
     {"JobLog option [0]"},
     {}},
    {"JobLogOne",
     [](ProxyScan&) {
       Task(TASK_OPTION_LOG_OUTPUT_OPTION, 1);
       Task(TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, 3);
       Task(TASK_OPTION_LOG_OUTPUT_FILE, "QSYS/LOG");
     },
     Join({{"Log_Output_Option=1", "Iseries_Custome_SC_Flag=false"}, kPlainTail}),
     0,
     false,
     {"JobLog option [1]"},
     {}},
    {"JobLogTwo",
     [](ProxyScan&) {
       Task(TASK_OPTION_LOG_OUTPUT_OPTION, 2);
       Task(TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, 3);  // basic form: not sent
       Task(TASK_OPTION_LOG_OUTPUT_FILE, "QGPL/JOBLOG");
       Task(TASK_OPTION_LOG_OUTPUT_MEMBER, "MEMBER1");
       Task(TASK_OPTION_LOG_OUTPUT_MEMBER_OPTION, 4);
     },
     Join({{"Log_Output_Option=2", "Log_Output_File='QGPL/JOBLOG'", "Log_Output_Member='MEMBER1'",
            "Log_Output_Member_Option=4", "Iseries_Custome_SC_Flag=false"},
           kPlainTail}),
     0,
     false,
     {"JobLog option [2]"},
     {}},
    // The flag is set twice (the order of the calls is checked in
    // job_option_blocks_test.cpp); the job start keeps one value per name,
    // the last, in the place of the first.
    {"DefaultContentOverridesCustomFlagAndMask",
     [](ProxyScan&) {
       Subclient("iSeriesSCCustomFlag", true);
       Subclient("DefaultSubclient", true);
       Subclient("iSeriesSCContentSelection", 0);
     },
     Join({{"Iseries_Custome_SC_Flag=false"}, kAllContent, kPlainTail}),
     0,
     false,
     {},
     {"SCContentSelection="}},
    {"MaskFiveSetsBitsZeroAndTwo",
     [](ProxyScan&) { Subclient("iSeriesSCContentSelection", 0x85); },  // bit 7 is no content kind
     Join({{"Iseries_Custome_SC_Flag=false", "Backup_SecurityData_Enabled=true", "Backup_ConfigData_Enabled=false",
            "Backup_IBM_Enabled=true", "Backup_ALLDLO_Enabled=false", "Backup_AllUser_Enabled=false",
            "Backup_Link_Enabled=false", "Backup_History_Log_Enabled=false"},
           kPlainTail}),
     0,
     false,
     {"SCContentSelection=133"},
     {}},
    {"CustomSelectionSetsNoContentKey",
     [](ProxyScan&) {
       Subclient("iSeriesSCCustomFlag", true);
       Subclient("iSeriesSCContentSelection", 127);
     },
     Join({{"Iseries_Custome_SC_Flag=true"}, kPlainTail}),
     0,
     false,
     {},
     {"SCContentSelection="}},
    {"LibraryDataAndSaveWhileActive",
     [](ProxyScan&) {
       Subclient("iSeriesBackupLibSAVFDTAFlag", true);
       Subclient("iSeriesBackupLibSPLFDTAFlag", false);
       Subclient("iSeriesBackupLibQDTAFlag", true);
       Subclient("iSeriesBackupLibPVTAUTFlag", false);
       Subclient("iSeriesBackupTargetRelease", "V7R4M0");
       Subclient("iSeriesSaveActiveWaitTime", 30);
     },
     Join({{"Iseries_Custome_SC_Flag=false", "Backup_SaveFileData_Enabled=true", "Backup_SpoolFileData_Enabled=false",
            "Backup_QueueData_Enabled=true", "Backup_PrivateAuthority_Enabled=false",
            "Target_release_For_Backup_Data='V7R4M0'", "Backup_Save_ActiveWait_Time=30u"},
           kPlainTail}),
     0,
     false,
     {},
     {}},
    {"SyncLibOff",
     [](ProxyScan&) { Subclient("iSeriesBackupSyncLibFlag", false); },
     Join({{"Iseries_Custome_SC_Flag=false", "Backup_SyncLib_Enabled=false"}, kPlainTail}),
     0,
     false,
     {},
     {}},
    {"SyncLibWithCustomSelection",
     [](ProxyScan&) {
       Subclient("iSeriesSCCustomFlag", true);
       Subclient("iSeriesBackupSyncLibFlag", true);
       Subclient("iSeriesBackupSyncQueue", "QGPL/SYNCQ");
       Subclient("iSeriesLibSyncCheckpoint", "*LIB");
     },
     Join({{"Iseries_Custome_SC_Flag=true", "Backup_SyncLib_Enabled=true", "Backup_Sync_Queue='QGPL/SYNCQ'",
            "Backup_LibSync_Checkpoint='*LIB'"},
           kPlainTail}),
     0,
     true,
     {},
     {}},
    {"SyncLibWithHostPermit",
     [](ProxyScan& phase) {
       Subclient("iSeriesBackupSyncLibFlag", true);
       phase.m_bAllowSyncLib = true;
     },
     Join({{"Iseries_Custome_SC_Flag=false", "Backup_SyncLib_Enabled=true"}, kPlainTail}),
     0,
     true,
     {},
     {}},
    {"SyncLibRefusedWithoutCustomSelectionOrPermit",
     [](ProxyScan&) {
       Subclient("iSeriesBackupSyncLibFlag", true);
       Subclient("iSeriesBackupSyncQueue", "QGPL/SYNCQ");
     },
     {},
     EV_SYNCLIB_NOT_ALLOWED,
     false,
     {},
     {"Maximum Number of streams"}},
    {"CustomFlagUnreadable",
     [](ProxyScan&) { RecordRegistry::Instance().FailGetter("Subclient::getiSeriesSCCustomFlag", 3); },
     {},
     EV_SUBCLIENT_NOT_FOUND,
     false,
     {"JobLog option [0]"},
     {}},
    {"NoSubclient",
     [](ProxyScan&) { RecordRegistry::Instance().FailGetter("ApplicationId::getSubclient", 2); },
     {},
     EV_SUBCLIENT_NOT_FOUND,
     false,
     {},
     {"ProxyScan::setJobOptions"}},
    {"StreamsZeroCompressionAndHostMembers",
     [](ProxyScan& phase) {
       Subclient("NumberOfStreams", 0);
       Subclient("IbmiCompression", "*HIGH");
       phase.m_numberOfReadersPerVolume = 3;
       phase.m_bKeepATime = true;
     },
     {"Iseries_Custome_SC_Flag=false", "nmStreams=4", "JOB_COMPRESSION_LEVEL='*HIGH'", "nmReadersPVol=3",
      "keepATime=true"},
     0,
     false,
     {"Maximum Number of streams set to 4", "m_numberOfReadersPerVolume:3"},
     {"Unable to get NumberOfStreams"}},
    {"StreamsReadAndNegativeReaders",
     [](ProxyScan& phase) {
       Subclient("NumberOfStreams", 6);
       phase.m_numberOfReadersPerVolume = -2;
     },
     {"Iseries_Custome_SC_Flag=false", "nmStreams=6", "JOB_COMPRESSION_LEVEL='*NO'", "keepATime=false"},
     0,
     false,
     {"Maximum Number of streams set to 6"},
     {}},
};

class ScanJobOptionsTest : public ScanTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(ScanJobOptionsTest, JobStartCarriesTheOptions) {
  const OptionCase& c = GetParam();
  std::unique_ptr<ProxyScan> phase = Connect(SimScanProgram::Scripted(SimScript()));
  ASSERT_TRUE(phase);
  c.setup(*phase);
  CWqError result = phase->sendJobStart();
  EXPECT_EQ(c.syncLibEnabled, phase->m_bSyncLibEnabled);
  if (c.failure != 0) {
    ASSERT_TRUE(result.IsError());
    EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, c.failure)) << result.AsString();
  } else {
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }
  for (const std::string& line : c.logLines) EXPECT_TRUE(log.Has(line)) << line;
  for (const std::string& line : c.absentLines) EXPECT_FALSE(log.Has(line)) << line;

  SimConnectionRecord program = Program(phase);
  std::shared_ptr<const ClJobStartMsg> start = SimScanProgram::JobStart(program);
  if (c.failure != 0) {
    EXPECT_EQ(nullptr, start) << "a failed job start must not be sent";
    return;
  }
  ASSERT_NE(nullptr, start);
  EXPECT_EQ(Join({kBase, c.options}), Describe(*start));
  EXPECT_EQ(kVellicon, start->getVelliconId());
  EXPECT_EQ(kApp, start->getAppId());
  EXPECT_EQ(kJob, start->getJobId());
  EXPECT_EQ(-5, start->getJobStartValue());
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanJobOptionsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
