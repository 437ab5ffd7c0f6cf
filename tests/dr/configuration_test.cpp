// DR configuration and start message: records read at configure, the media
// directory check with its pending causes, library names, the users' warning,
// the IBM i name helpers and what populateDRMessage puts in the message.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <vector>
#include <string>

#include "ClDRStartMsg.h"
#include "ClProxyMsgFactory.h"
#include "EventJournal.h"
#include "FXErrorUtil.h"
#include "KXJobControl.h"
#include "RecordRegistry.h"
#include "service/IBMiDRConfiguration.h"
#include "service/IBMiVTLDRConfiguration.h"

namespace {

const int kVellicon = 2;
const int kApp = 17;
const long long kJob = 123456789012LL;
const int kClient = 5;

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordRegistry& r = RecordRegistry::Instance();
    r.Reset();
    EventJournal::Instance().Reset();
    r.AddClient(kClient, "ibmi1", 118);
    r.SetClientValue(kClient, "NetworkHostname", RecordValue("ibmi1.example"));
    r.SetClientValue(kClient, "KXDPort", RecordValue(8400));
    r.AddSubclient(kVellicon, kApp, kClient);
    r.SetSubclientValue(kVellicon, kApp, "DRDataPath", RecordValue("/home/drimage"));
    r.SetTaskXMLOptions(kJob, "<options/>");
  }
  void TearDown() override {
    RecordRegistry::Instance().Reset();
    EventJournal::Instance().Reset();
  }
  void Sub(const std::string& name, const RecordValue& value) {
    RecordRegistry::Instance().SetSubclientValue(kVellicon, kApp, name, value);
  }
  std::map<std::string, std::string> Options(const ClIBMDRBackupJobMsg& msg) {
    return std::map<std::string, std::string>(msg.getOptions().begin(), msg.getOptions().end());
  }
};

TEST_F(ConfigurationTest, ConfigureReadsRecords) {
  IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
  EXPECT_EQ(~0ULL, config.getClientID());
  ASSERT_FALSE(config.configure().IsError());
  EXPECT_EQ(static_cast<uint64_t>(kClient), config.getClientID());
  EXPECT_EQ("ibmi1.example", config.getClientName());
  EXPECT_EQ(8400, config.getClientPort());
  EXPECT_EQ("/home/drimage", config.getDRMediaPath());
  EXPECT_EQ(1, config.getDelayBeforeShutDown());
  EXPECT_EQ(250, config.getMaxJobDuration());
  EXPECT_FALSE(config.shouldSuspendJob());
}

TEST_F(ConfigurationTest, ConfigureFailures) {
  struct Case {
    const char* what;
    int vellicon, app;
    std::function<void()> setup;
    int errNo;
  } cases[] = {
      {"no vellicon", 0, kApp, [] {}, EINVAL},
      {"no app", kVellicon, 0, [] {}, EINVAL},
      {"no subclient", kVellicon, 99, [] {}, EFAULT},
      {"no client id", kVellicon, kApp, [] { RecordRegistry::Instance().FailGetter("KXClient::getClientId", 3); },
       EINVAL},
      {"no host name", kVellicon, kApp,
       [] { RecordRegistry::Instance().FailGetter("KXClient::getNetworkHostname", 3); }, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    c.setup();
    IBMiDRConfigurationInterface config(c.vellicon, c.app, kJob, false);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(config.configure(), c.errNo));
    EXPECT_FALSE(config.isConfigured());
  }
}

TEST_F(ConfigurationTest, PortAndSuspendDefaults) {
  struct Case {
    const char* what;
    RecordValue port;
    bool ipl;
    bool setOption;
    int option;
    int wantPort;
    bool wantSuspend;
  } cases[] = {
      {"port 0", RecordValue(0), false, true, 1, 9401, false},
      {"port too big", RecordValue(70000), false, false, 0, 9401, false},
      {"no ipl ignores option", RecordValue(8400), false, true, 1, 8400, false},
      {"ipl unreadable option", RecordValue(8400), true, false, 0, 8400, false},
      {"ipl option set", RecordValue(8400), true, true, 1, 8400, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    RecordRegistry::Instance().SetClientValue(kClient, "KXDPort", c.port);
    if (c.setOption) RecordRegistry::Instance().SetTaskOption(kJob, kSuspendJobTaskOption, RecordValue(c.option));
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, c.ipl);
    ASSERT_FALSE(config.configure().IsError());
    EXPECT_EQ(c.wantPort, config.getClientPort());
    EXPECT_EQ(c.wantSuspend, config.shouldSuspendJob());
  }
}

TEST_F(ConfigurationTest, ResumedJobKeepsItsDuration) {
  Sub("IBMiBackupMaxTime", RecordValue(600));
  Sub("IBMiNotifyDelay", RecordValue(5));
  IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, true);
  ASSERT_FALSE(config.configure().IsError());
  EXPECT_EQ(600, config.getMaxJobDuration());
  EXPECT_EQ(5, config.getDelayBeforeShutDown());
}

TEST_F(ConfigurationTest, MediaDirectoryCheck) {
  struct Case {
    std::string path;
    uint32_t eventId;  // 0: accepted
    std::string checked;
  } cases[] = {
      {"/QSYS.LIB/DRLIB.LIB/IMG", EV_DR_MEDIA_PATH_IN_QSYS, ""},
      {"/home/QSYS.LIB/x", EV_DR_MEDIA_PATH_IN_QSYS, ""},
      {"/qsys.lib/x/y", EV_DR_MEDIA_PATH_IN_QSYS, ""},
      {"//QSYS.LIB//X", EV_DR_MEDIA_PATH_IN_QSYS, ""},
      {"/", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"/DRIMAGE", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"//DRIMAGE/", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"/./DRIMAGE/.", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"home/drimage", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"/home/../drimage", EV_DR_MEDIA_PATH_AT_ROOT, ""},
      {"/home/drimage", 0, "/home/drimage"},
      {"/home//drimage/./", 0, "/home/drimage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SetUp();
    Sub("DRDataPath", RecordValue(c.path));
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
    ASSERT_FALSE(config.configure().IsError());
    KXBkpJobClient jobClient;
    ASSERT_TRUE(jobClient.init("central01", 0, kJob));
    CWqError result = config.validateDRParameters(&jobClient);
    bool causeRaised = false;
    for (const EventJournalEntry& e : EventJournal::Instance().Entries())
      if (e.messageType == PENDING_CAUSE_MESSAGE_TYPE && e.eventId == c.eventId) causeRaised = true;
    if (c.eventId) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL));
      EXPECT_TRUE(causeRaised);
    } else {
      EXPECT_FALSE(result.IsError());
      EXPECT_EQ(c.checked, config.getDRMediaPath());
    }
  }
}

TEST_F(ConfigurationTest, EmptyMediaDirectoryPasses) {
  Sub("DRDataPath", RecordValue(""));
  IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
  ASSERT_FALSE(config.configure().IsError());
  EXPECT_FALSE(config.validateDRParameters(nullptr).IsError());
}

TEST_F(ConfigurationTest, LibraryNames) {
  struct Case {
    std::string paths;
    bool ok;
    std::string names;
  } cases[] = {
      {"/QSYS.LIB/PAYROLL.LIB", true, "PAYROLL"},
      {"/QSYS.LIB/payroll.lib", true, "payroll"},
      {"/QSYS.LIB/PAYROLL.FILE", true, "PAYROLL.FILE"},
      {"/QSYS.LIB/A.LIB\n/QSYS.LIB/B.LIB", true, "A:B"},
      {"", true, ""},
      {"/QSYS.LIB/A.LIB/B.FILE", false, ""},
      {"QSYS.LIB/PAYROLL.LIB", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paths);
    SetUp();
    if (!c.paths.empty()) Sub("IbmiDrBackupLibraryPaths", RecordValue(c.paths));
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
    ASSERT_FALSE(config.configure().IsError());
    std::string names = "untouched";
    CWqError result = config.getAdditionalLibraryList(names);
    if (c.ok) {
      EXPECT_FALSE(result.IsError());
      EXPECT_EQ(c.names, names);
    } else {
      EXPECT_TRUE(FXErrorUtil::IsInt(result, DR_ERROR_GENERAL));
      EXPECT_EQ("untouched", names);
    }
  }
}

TEST_F(ConfigurationTest, NotifyMessage) {
  struct Case {
    const char* what;
    bool setFlag, flag;
    const char* text;
    std::string want;
    bool wantNotify;
  } cases[] = {
      {"flag off", true, false, "x", "", false},
      {"default text", true, true, nullptr,
       "The system will shut down in 5 minutes. Please save your work and logout.", true},
      {"two marks", true, true, "## and ##", "5 and 5", true},
      {"unread flag keeps preset", false, false, "hi", "hi", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    Sub("IBMiNotifyDelay", RecordValue(5));
    if (c.setFlag) Sub("IBMiNotifyUser", RecordValue(c.flag));
    if (c.text) Sub("IBMiNotifyMessage", RecordValue(c.text));
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
    ASSERT_FALSE(config.configure().IsError());
    std::string message;
    bool notify = true;
    config.getNotifyUserMessage(message, notify);
    EXPECT_EQ(c.wantNotify, notify);
    EXPECT_EQ(c.want, message);
  }
}

TEST(DRHelpers, StripExtensions) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"/QSYS.LIB/MYLIB.LIB/STARTUP.PGM", "MYLIB/STARTUP"},
      {"/QSYS.LIB/MYLIB.LIB/STARTUP", "MYLIB/STARTUP"},
      {"/qsys.lib/mylib.lib/startup.pgm", "mylib/startup"},
      {"MYLIB/STARTUP", "MYLIB/STARTUP"},
      {"MYLIB.LIB", "MYLIB.LIB"},
      {"/QSYS.LIB/MYLIB.LIB/", "/QSYS.LIB/MYLIB.LIB/"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string path = c.in;
    KXDRHelperFunctions::StripExtensions(path);
    EXPECT_EQ(c.out, path) << c.in;
  }
}

TEST(DRHelpers, MessageOptions) {
  ClIBMDRBackupJobMsg msg(kVellicon, kJob, kApp);
  EXPECT_EQ("", KXDRHelperFunctions::messageOptions(msg));
  msg.setOption("B", static_cast<uint32_t>(1));
  msg.setOption("A", "x");
  EXPECT_EQ("A:x B:1 ", KXDRHelperFunctions::messageOptions(msg));
}

TEST_F(ConfigurationTest, StartMessageDefaults) {
  IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
  ASSERT_FALSE(config.configure().IsError());
  ClIBMDRBackupJobMsg msg(kVellicon, kJob, kApp);
  ASSERT_FALSE(config.populateDRMessage(msg).IsError());
  EXPECT_EQ("/home/drimage", msg.getDRMediaLocation());
  EXPECT_EQ(250, msg.getMaxJobDuration());
  EXPECT_EQ(1, msg.getDelayBeforeContinue());
  EXPECT_TRUE(msg.getNotifyUsers());
  EXPECT_EQ("The system will shut down in 1 minutes. Please save your work and logout.", msg.getNotifyMessage());
  EXPECT_EQ("", msg.getUserBackupCommand());
  EXPECT_EQ("", msg.getUserStartupProgram());
  EXPECT_TRUE(msg.getSaveCnfObj());
  EXPECT_TRUE(msg.getSaveSecObj());
  EXPECT_FALSE(msg.getIPL());
  std::map<std::string, std::string> want = {
      {"Backup_Save_Access_Path", "1"},      {"Backup_UPDHST", "1"},
      {"Backup_DR_Print_System_Info", "*NO"}, {"Backup_SpoolFileData_Enabled", "0"},
      {"Backup_QueueData_Enabled", "0"},     {"Backup_DR_Start_To_Restricted_State", "0"},
  };
  EXPECT_EQ(want, Options(msg));
}

// Decoded from the wire, so the encoding carries every field.
TEST_F(ConfigurationTest, StartMessageValuesOnTheWire) {
  Sub("IBMiBackupMaxTime", RecordValue(600));
  Sub("IBMiNotifyDelay", RecordValue(7));
  Sub("IBMiNotifyUser", RecordValue(false));
  Sub("IBMiSaveConfObjects", RecordValue(false));
  Sub("IBMiSaveSecurityData", RecordValue(true));
  Sub("IBMiUserIPLProgram", RecordValue("/QSYS.LIB/MYLIB.LIB/STARTUP.PGM"));
  Sub("IBMiUserProgram", RecordValue("MYLIB/BEFORE"));
  Sub("IBMiUserCommand", RecordValue("CALL RST"));
  Sub("IBMiPrintSysInfo", RecordValue(true));
  Sub("SaveAccessPath", RecordValue("*SYSVAL"));
  Sub("IbmiDrBackupLibraryPaths", RecordValue("/QSYS.LIB/A.LIB\n/QSYS.LIB/B.LIB"));
  RecordRegistry::Instance().SetTaskOption(kJob, kSuspendJobTaskOption, RecordValue(1));
  RecordRegistry::Instance().SetTaskOption(kJob, 0x1722ca9a, RecordValue(2));
  RecordRegistry::Instance().SetTaskOption(kJob, 0x22b53998, RecordValue(3));
  RecordRegistry::Instance().SetTaskOption(kJob, 0x2a0686b9, RecordValue("MYLIB/OUT"));
  IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, true);
  ASSERT_FALSE(config.configure().IsError());
  ClIBMDRBackupJobMsg msg(kVellicon, kJob, kApp);
  ASSERT_FALSE(config.populateDRMessage(msg).IsError());

  std::vector<uint8_t> scratch;
  ClProxyPayloadView view;
  ASSERT_FALSE(msg.encodePayload(scratch, view).IsError());
  std::unique_ptr<uint8_t[]> copy(new uint8_t[view.size]);
  std::memcpy(copy.get(), view.data, view.size);
  ClProxyMsg* raw = nullptr;
  ASSERT_FALSE(ClProxyMsgFactory::Create(IBM_DR_BACKUP_JOB_MSG, std::move(copy), view.size, raw).IsError());
  std::unique_ptr<ClProxyMsg> decoded(raw);
  ASSERT_NE(nullptr, decoded);
  const ClIBMDRBackupJobMsg& got = static_cast<const ClIBMDRBackupJobMsg&>(*decoded);
  EXPECT_EQ(kVellicon, got.getVelliconId());
  EXPECT_EQ(static_cast<uint64_t>(kJob), got.getJobId());
  EXPECT_EQ(kApp, got.getAppId());
  EXPECT_EQ(600, got.getMaxJobDuration());
  EXPECT_EQ(7, got.getDelayBeforeContinue());
  EXPECT_FALSE(got.getNotifyUsers());
  EXPECT_EQ("", got.getNotifyMessage());
  EXPECT_EQ("MYLIB/STARTUP", got.getUserStartupProgram());
  EXPECT_EQ("MYLIB/BEFORE", got.getUserBackupCommand());
  EXPECT_FALSE(got.getSaveCnfObj());
  EXPECT_TRUE(got.getSaveSecObj());
  EXPECT_TRUE(got.getIPL());
  std::map<std::string, std::string> opts = Options(got);
  EXPECT_EQ("*SYSVAL", opts["Backup_Save_Access_Path"]);
  EXPECT_EQ("*YES", opts["Backup_DR_Print_System_Info"]);
  EXPECT_EQ("1", opts["Backup_DR_Start_To_Restricted_State"]);
  EXPECT_EQ("2", opts["Log_Output_Option"]);
  EXPECT_EQ("3", opts["Log_Output_Type_Of_Info"]);
  EXPECT_EQ("MYLIB/OUT", opts["Log_Output_File"]);
  EXPECT_EQ("CALL RST", opts[ClIBMDRBackupJobMsg::Option_RestoreCommand]);
  EXPECT_EQ("A:B", opts[ClIBMDRBackupJobMsg::Option_AddLibrary]);
}

TEST_F(ConfigurationTest, LogOutputOptions) {
  struct Case {
    int option;
    bool typeSet, fileSet;
    std::vector<std::string> present;
  } cases[] = {
      {0, true, true, {}},
      {1, true, true, {"Log_Output_Option", "Log_Output_Type_Of_Info"}},
      {1, false, true, {"Log_Output_Option"}},
      {2, true, true, {"Log_Output_Option", "Log_Output_Type_Of_Info", "Log_Output_File"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    SetUp();
    RecordRegistry::Instance().SetTaskOption(kJob, 0x1722ca9a, RecordValue(c.option));
    if (c.typeSet) RecordRegistry::Instance().SetTaskOption(kJob, 0x22b53998, RecordValue(1));
    if (c.fileSet) RecordRegistry::Instance().SetTaskOption(kJob, 0x2a0686b9, RecordValue("L/F"));
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
    ASSERT_FALSE(config.configure().IsError());
    ClIBMDRBackupJobMsg msg(kVellicon, kJob, kApp);
    ASSERT_FALSE(config.populateDRMessage(msg).IsError());
    std::vector<std::string> present;
    for (const auto& o : msg.getOptions())
      if (o.first.compare(0, 11, "Log_Output_") == 0) present.push_back(o.first);
    std::sort(present.begin(), present.end());
    std::vector<std::string> want = c.present;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, present);
  }
}

TEST_F(ConfigurationTest, StartMessageFailuresLeaveMessageUntouched) {
  struct Case {
    const char* what;
    std::function<void()> setup;
    bool isInt;
    int code;
  } cases[] = {
      {"bad library", [this] { Sub("IbmiDrBackupLibraryPaths", RecordValue("QSYS.LIB/X.LIB")); }, true, 99},
      {"no xml options", [] { RecordRegistry::Instance().FailGetter("EvTask::getXMLOptions", 3); }, false, ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    c.setup();
    IBMiDRConfigurationInterface config(kVellicon, kApp, kJob, false);
    ASSERT_FALSE(config.configure().IsError());
    ClIBMDRBackupJobMsg msg(kVellicon, kJob, kApp);
    CWqError result = config.populateDRMessage(msg);
    EXPECT_TRUE(c.isInt ? FXErrorUtil::IsInt(result, c.code) : FXErrorUtil::IsErrNo(result, c.code));
    EXPECT_TRUE(msg.getOptions().empty());
    EXPECT_EQ("", msg.getDRMediaLocation());
  }
}

TEST_F(ConfigurationTest, VTLStartMessage) {
  struct Case {
    long long job;
    bool taskOutfile;
    std::list<std::string> tapes;
    std::string category, volumes, joined, outFile;
  } cases[] = {
      {7, false, {"A1", "B2"}, "KXDR0007", "A1 B2", "A1:B2", "KXLIBOBJ/DRLOG"},
      {kJob, true, {}, "KXDR123456789012", "", "", "MY/OUT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.job);
    SetUp();
    RecordRegistry::Instance().SetTaskXMLOptions(c.job, "<options/>");
    if (c.taskOutfile) {
      RecordRegistry::Instance().SetTaskOption(c.job, 0x1722ca9a, RecordValue(2));
      RecordRegistry::Instance().SetTaskOption(c.job, 0x22b53998, RecordValue(5));
      RecordRegistry::Instance().SetTaskOption(c.job, 0x2a0686b9, RecordValue("MY/OUT"));
    }
    IBMiVTLDRConfiguration config(kVellicon, kApp, c.job, false);
    ASSERT_FALSE(config.configure().IsError());
    config.setTapeListAndDevice(c.tapes, "TAPVRT01");
    EXPECT_EQ(c.joined, config.getTapeList());
    ClIBMDRBackupJobMsg msg(kVellicon, c.job, kApp);
    ASSERT_FALSE(config.populateDRMessage(msg).IsError());
    std::map<std::string, std::string> opts = Options(msg);
    EXPECT_EQ(c.category, opts["Backup_DR_VTL_Tape_Category"]);
    EXPECT_EQ(c.volumes, opts["Backup_DR_VTL_Volume_List"]);
    EXPECT_EQ("TAPVRT01", opts["Backup_DR_VTL_Device"]);
    EXPECT_EQ("2:17:" + std::to_string(c.job), opts["Backup_DR_VTL_Job_Token"]);
    EXPECT_EQ("2", opts["Log_Output_Option"]);
    EXPECT_EQ("2", opts["Log_Output_Type_Of_Info"]);
    EXPECT_EQ(c.outFile, opts["Log_Output_File"]);
    EXPECT_EQ("1", opts["Backup_SaveFileData_Enabled"]);
  }
}

}  // namespace
