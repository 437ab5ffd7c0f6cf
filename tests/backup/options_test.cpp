// The backup job options as the client program receives them.
#include <functional>
#include <string>
#include <vector>

#include "BackupTestUtil.h"
#include "ProxyJobOptions.h"

namespace backuptest {
namespace {

std::string Describe(const ClJobStartMsg::Entry& entry) {
  switch (entry.kind) {
    case ClJobStartMsg::kBool: return entry.name + "=" + (entry.bValue ? "true" : "false");
    case ClJobStartMsg::kInt32: return entry.name + "=" + std::to_string(entry.iValue);
    case ClJobStartMsg::kUInt32: return entry.name + "=" + std::to_string(entry.uValue) + "u32";
    case ClJobStartMsg::kUInt64: return entry.name + "=" + std::to_string(entry.ullValue) + "u";
    case ClJobStartMsg::kString: return entry.name + "='" + entry.text + "'";
    case ClJobStartMsg::kPath: return "path " + entry.name;
  }
  return "?";
}

// The options from "Backup_Save_Access_Path" on (the job-log block and the
// content and library keys before it are the shared blocks' own tests).
std::vector<std::string> BackupKeys(const ClJobStartMsg& msg) {
  std::vector<std::string> keys;
  bool started = false;
  for (const ClJobStartMsg::Entry& entry : msg.getEntries()) {
    if (entry.name == "Backup_Save_Access_Path") started = true;
    if (started) keys.push_back(Describe(entry));
  }
  return keys;
}

const std::vector<std::string> kTail = {"isMLBMode=false", "JO_ClientName='vms1'"};

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail = kTail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct OptionCase {
  const char* name;
  std::function<void(BackupTest&, ProxyBackup&)> setUp;
  std::vector<std::string> expected;
  bool syncBackup;
};

class BackupOptionsTest : public BackupTest {};

TEST_F(BackupOptionsTest, KeysFollowTheSubclientAndTheHostMembers) {
  const std::vector<std::string> defaults = {"Backup_Save_Access_Path=true", "Backup_SAVACT=true",
                                             "isDRSubclient=false", "isVTLBackup=false", "VTLStreams=0u32",
                                             "ScanlessBackup=false", "JOB_COMPRESSION_LEVEL='*NO'",
                                             "JOB_USING_INDEX_V2=false"};
  const std::vector<OptionCase> cases = {
      {"defaults", [](BackupTest&, ProxyBackup&) {}, With(defaults), false},
      {"values as read",
       [](BackupTest& t, ProxyBackup& phase) {
         t.SetSubclient("SaveAccessPath", std::string("*SYSDFN"));
         t.SetSubclient("UpdateHistory", std::string("*YES"));
         t.SetSubclient("IBMiSaveWhileActiveFlag", std::string("*SYNCLIB"));
         t.SetSubclient("DRSubclient", true);
         t.SetSubclient("DRDataPath", std::string("/dr/stage"));
         t.SetSubclient("ScanlessBackup", true);
         t.SetSubclient("IbmiCompression", std::string("*HIGH"));
         t.SetSubclient("IBMiDVDImageFileFormat", std::string("IMG"));
         phase.m_bVTLBackup = true;
         phase.m_nVTLStreams = 3;
         phase.m_bUsingIndexV2 = true;
       },
       With({"Backup_Save_Access_Path='*SYSDFN'", "Backup_UPDHST=true", "Backup_SAVACT='*SYNCLIB'",
             "isDRSubclient=true", "DRDataPath='/dr/stage'", "isVTLBackup=true", "VTLStreams=3u32",
             "ScanlessBackup=true", "JOB_COMPRESSION_LEVEL='*HIGH'", "DRPathPrefix='IMG'",
             "JOB_USING_INDEX_V2=true"}),
       false},
      {"empty save-access path is true, empty save-while-active stays empty",
       [](BackupTest& t, ProxyBackup&) {
         t.SetSubclient("SaveAccessPath", std::string(""));
         t.SetSubclient("IBMiSaveWhileActiveFlag", std::string(""));
         t.SetSubclient("UpdateHistory", std::string("*yes"));
       },
       With({"Backup_Save_Access_Path=true", "Backup_SAVACT=''", "isDRSubclient=false", "isVTLBackup=false",
             "VTLStreams=0u32", "ScanlessBackup=false", "JOB_COMPRESSION_LEVEL='*NO'", "JOB_USING_INDEX_V2=false"}),
       false},
      {"update history other than *YES sends no key",
       [](BackupTest& t, ProxyBackup&) { t.SetSubclient("UpdateHistory", std::string("*YESS")); }, With(defaults),
       false},
      {"failing DR query sends false",
       [](BackupTest& t, ProxyBackup&) {
         t.SetSubclient("DRSubclient", true);
         RecordRegistry::Instance().FailGetter("Subclient::isDRSubclient", 5);
       },
       With(defaults), false},
      {"sync library with an unreadable wait time: 600 once",
       [](BackupTest& t, ProxyBackup&) {
         t.SetSubclient("iSeriesBackupSyncLibFlag", true);
         t.SetSubclient("iSeriesBackupSyncQueue", std::string("Q1"));
       },
       With({"Backup_Save_Access_Path=true", "Backup_SAVACT=true", "Backup_SyncLib_Enabled=true",
             "Backup_Sync_Queue='Q1'", "Backup_Save_ActiveWait_Time=600u", "isDRSubclient=false",
             "isVTLBackup=false", "VTLStreams=0u32", "ScanlessBackup=false", "JOB_COMPRESSION_LEVEL='*NO'",
             "JOB_USING_INDEX_V2=false"}),
       true},
      {"sync library disabled by the host",
       [](BackupTest& t, ProxyBackup& phase) {
         t.SetSubclient("iSeriesBackupSyncLibFlag", true);
         phase.m_bSyncLibDisabled = true;
       },
       With(defaults), false},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordRegistry::Instance().Reset();
    coretest::FillRecords(daemon.GetPort());
    SetSubclient("iSeriesSCCustomFlag", false);
    SetSubclient("iSeriesSCContentSelection", static_cast<int64_t>(0));
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), "<options/>");
    TestBackup phase;
    c.setUp(*this, phase);
    ClJobStartMsg msg(coretest::kVellicon, coretest::kApp, 1, -5, kJob);
    phase.SetJob();
    CWqError result = phase.setJobOptions(&msg);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(c.expected, BackupKeys(msg));
    EXPECT_EQ(c.syncBackup, phase.m_bSyncBackup);
  }
}

TEST_F(BackupOptionsTest, FailuresSendNoJobStart) {
  struct FailCase {
    const char* name;
    std::function<void(BackupTest&)> setUp;
    std::function<bool(const CWqError&)> check;
  };
  const std::vector<FailCase> cases = {
      {"no subclient", [](BackupTest&) { RecordRegistry::Instance().Reset(); },
       [](const CWqError& e) { return FXErrorUtil::IsEventMessage(e, EV_SUBCLIENT_NOT_FOUND); }},
      {"xml options unreadable",
       [](BackupTest&) { RecordRegistry::Instance().FailGetter("EvTask::getXMLOptions", 5); },
       [](const CWqError& e) { return FXErrorUtil::IsErrNo(e, ENOENT); }},
      {"custom flag unreadable",
       [](BackupTest&) { RecordRegistry::Instance().FailGetter("Subclient::getiSeriesSCCustomFlag", 5); },
       [](const CWqError& e) { return FXErrorUtil::IsEventMessage(e, EV_SUBCLIENT_PROPERTIES_UNREADABLE); }},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordRegistry::Instance().Reset();
    coretest::FillRecords(daemon.GetPort());
    SetSubclient("iSeriesSCCustomFlag", false);
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), "<options/>");
    c.setUp(*this);
    TestBackup phase;
    phase.SetJob();
    ClJobStartMsg msg(coretest::kVellicon, coretest::kApp, 1, -5, kJob);
    CWqError result = phase.setJobOptions(&msg);
    EXPECT_TRUE(c.check(result)) << result.AsString();
    for (const ClJobStartMsg::Entry& entry : msg.getEntries()) EXPECT_NE("isMLBMode", entry.name);
  }
}

TEST_F(BackupOptionsTest, FailedOptionsSendNoJobStart) {
  std::unique_ptr<TestBackup> phase = Connect(SimBackupProgram::Scripted(SimScript()));
  ASSERT_TRUE(phase);
  RecordRegistry::Instance().FailGetter("Subclient::getiSeriesSCCustomFlag", 5);
  CWqError result = phase->sendJobStart(true);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_SUBCLIENT_PROPERTIES_UNREADABLE)) << result.AsString();
  SimConnectionRecord record = Finish(phase);
  EXPECT_TRUE(record.received.empty());
}

TEST_F(BackupOptionsTest, InitFormsNameTheirProgram) {
  TestBackup standard;
  standard.init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, 1, -5, "127.0.0.1", 0);
  EXPECT_EQ("BKP.EXE", standard.ClientProgram());
  EXPECT_TRUE(log.Has("Standard backup call for BKP.EXE"));
  TestBackup named;
  named.init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, 1, -5, "OTHER.EXE", "127.0.0.1", 0);
  EXPECT_EQ("OTHER.EXE", named.ClientProgram());
  EXPECT_TRUE(log.Has("Backup call for OTHER.EXE"));
}

}  // namespace
}  // namespace backuptest
