// Pre-pipeline deduplication through the backup phase against BKP.EXE's
// pre-pipeline mode: the configuration exchange, then a whole backup whose
// new blocks and signature tags reach the archive file.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "ClProxyTimeouts.h"
#include "DedupeTestUtil.h"
#include "backup/BackupTestUtil.h"

namespace dedupetest {
namespace {

using backuptest::StatusOf;
using backuptest::TestBackup;

class BackupDedupeTest : public backuptest::BackupTest {
 protected:
  void SetUp() override {
    backuptest::BackupTest::SetUp();
    SignatureQueryScript::Reset();
    CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(5);
    char pattern[] = "/tmp/proxy-dedupe-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root = pattern;
    archivePath = root + ".archive";
    config.ullFlags = 1;
    config.uSignatureLocation = 1;
    config.uSignatureScheme = kSignatureScheme;
    config.uDedupeBlockSizeKB = 1;
    config.uSignaturesPerBatch = 4;
    st_SigQueryParams params;
    params.uAppId = 7;
    params.bUseCacheDB = true;
    archive.reset(new KXArchive(archivePath));
    archive->SetQueryParams(params, "ibmi1");
  }
  void TearDown() override {
    archive.reset();
    std::system(("rm -rf '" + root + "' '" + archivePath + "'").c_str());
    SignatureQueryScript::Reset();
    resetTimeOutValues();
    backuptest::BackupTest::TearDown();
  }

  void File(const std::string& name, const std::string& bytes) {
    std::ofstream(root + name, std::ios::binary) << bytes;
  }

  // The configuration exchange as a host runs it.
  CWqError Exchange(TestBackup& phase, CProxyPrepipelineMgr& mgr, _PrePipelineDedupe_Config& sent) {
    CWqError result = phase.recvCOBConfigMsg();
    if (!result.IsError()) result = phase.recvPrepipelineDedupeConfigRequest();
    bool enabled = false;
    if (!result.IsError()) result = mgr.GetPrePipelineDedupeConfig(sent, enabled);
    if (!result.IsError()) result = phase.sendPrepipelineDedupeConfigResponse(sent);
    return result;
  }

  std::string root, archivePath;
  _PrePipelineDedupe_Config config;
  std::unique_ptr<KXArchive> archive;
};

TEST_F(BackupDedupeTest, ConfigurationExchange) {
  struct Row {
    const char* name;
    uint32_t capabilities;
    bool accepted;
  };
  const Row rows[] = {{"capability word 0x3 is accepted", 0x3, true},
                      {"capability word 0x2 is refused", 0x2, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    archive->SetConfig(config);
    SimBackupProgram::PrepipelineOptions options;
    options.capabilities = row.capabilities;
    options.base.sendVolumeList = false;
    auto tally = std::make_shared<SimBackupProgram::PrepipelineTally>();
    std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Prepipeline(root, options, tally));
    ASSERT_TRUE(phase);
    CProxyPrepipelineMgr mgr;
    ASSERT_FALSE(mgr.Initialize(archive.get(), kJob, kArchiveFileId).IsError());
    _PrePipelineDedupe_Config sent;
    CWqError result = Exchange(*phase, mgr, sent);
    if (row.accepted) {
      ASSERT_FALSE(result.IsError()) << result.AsString();
      ASSERT_TRUE(phase->sendJobComplete().IsError() == false);
      const size_t programs = daemon.GetProgramCount();
      phase.reset();
      ASSERT_TRUE(daemon.WaitForProgram(programs - 1, 20));
      ASSERT_TRUE(tally->gotConfig);
      EXPECT_NE(0u, sent.uQueryPort);
      EXPECT_EQ(sent.uQueryPort, tally->config.uQueryPort);  // the port at offset 44
      EXPECT_EQ(1u, tally->config.uDedupeBlockSizeKB);
    } else {
      EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));
      EXPECT_NE(std::string::npos, coretest::Texts(result).find("Client doesn't support Prepipeline"));
      EXPECT_FALSE(mgr.IsQueryServerRunning());
      phase.reset();
    }
    mgr.Uninitialize();
    EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  }
}

TEST_F(BackupDedupeTest, NoCapabilityInTimeIsReported) {
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(SimScript().Silent(3000)));
  ASSERT_TRUE(phase);
  coretest::SetTimeout("TIMEOUT_CLIENT_CONNECT", 1);
  resetTimeOutValues();
  CWqError result = phase->recvCOBConfigMsg();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME));
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Did not receive a COBConfig message."));
}

TEST_F(BackupDedupeTest, AWholeBackupStoresEachDistinctBlockOnceWithItsSignatureTag) {
  // Two identical files, and a file whose blocks repeat within it.
  std::string first(3000, '\0');
  uint32_t state = 12345;
  for (char& c : first) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  File("/one.bin", first);
  File("/two.bin", first);
  File("/rep.bin", std::string(1024, 'r') + std::string(1024, 'r') + "tail");
  ASSERT_EQ(0, ::mkdir((root + "/folder").c_str(), 0755));
  archive->SetConfig(config);

  auto tally = std::make_shared<SimBackupProgram::PrepipelineTally>();
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Prepipeline(root, {}, tally));
  ASSERT_TRUE(phase);
  CProxyPrepipelineMgr mgr;
  ASSERT_FALSE(mgr.Initialize(archive.get(), kJob, kArchiveFileId).IsError());
  _PrePipelineDedupe_Config sent;
  ASSERT_FALSE(Exchange(*phase, mgr, sent).IsError());
  ASSERT_FALSE(phase->getClientVolumeList().IsError());
  ASSERT_FALSE(phase->sendCollectFile(1, 0).IsError());

  char* buf = nullptr;
  unsigned int size = 0;
  int blocks = 0, signatures = 0;
  for (int item = 0; item < 50; ++item) {
    CWqError result = phase->recvNextFile();
    if (StatusOf(result) == RECV_STATUS_COLLECT_DONE) break;
    ASSERT_EQ(0, StatusOf(result)) << result.AsString();
    ASSERT_FALSE(phase->recvReferenceList().IsError());
    for (;;) {
      unsigned int type = 0;
      _PipelineDataHdr header;
      result = phase->recvData(buf, size, &type, &header);
      if (StatusOf(result) != 0) break;
      if (type == 0x51) {
        ++blocks;
        CWqError written = mgr.onPrepipelineDedupeData(buf, size, &header, nullptr, 0);
        ASSERT_FALSE(written.IsError()) << written.AsString();
      } else if (type == 0x50) {
        ++signatures;
        CWqError written =
            mgr.onPrepipelineSignature(reinterpret_cast<_PrePipelineDedupe_Signature*>(buf), nullptr, 0);
        ASSERT_FALSE(written.IsError()) << written.AsString();
      }
    }
    ASSERT_EQ(RECV_STATUS_GOOD_EOF, StatusOf(result)) << result.AsString();
  }
  std::free(buf);
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  phase.reset();
  ASSERT_TRUE(daemon.WaitForProgram(0, 20));
  EXPECT_FALSE(daemon.GetProgramRecord(0).failure.IsError()) << daemon.GetProgramRecord(0).failure.AsString();
  mgr.Uninitialize();
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_EQ(0u, archive->OutstandingBuffers());

  // Distinct blocks of the content: 3 of the shared file, 2 of rep.bin.
  EXPECT_EQ(5, blocks);
  EXPECT_EQ(5, signatures);
  EXPECT_EQ(3u + 3u + 3u, tally->blocksQueried);
  EXPECT_EQ(5u, tally->blocksNew);
  EXPECT_EQ(4u, tally->blocksFound);  // the second copy and the repeat
  // Found blocks get no signature record, so their answers were never kept;
  // every new block's answer went into its tag.
  EXPECT_EQ(0u, mgr.QueryManager().StoredAnswerCount());

  std::vector<KXArchive::Record> records;
  std::string error;
  ASSERT_TRUE(KXArchive::ReadArchiveFile(archivePath, records, error)) << error;
  ASSERT_EQ(10u, records.size());
  std::set<std::string> stored;
  for (size_t i = 0; i < records.size(); i += 2) {
    EXPECT_EQ(0, std::memcmp(records[i].header.data(), "TAGHD01", 8));
    EXPECT_EQ(2u, Word(records[i].header, 32));
    EXPECT_EQ(322u, Word(records[i + 1].header, 32));
    EXPECT_EQ(240u, records[i + 1].data.size());
    stored.insert(std::string(records[i].data.begin(), records[i].data.end()));
  }
  const std::set<std::string> distinct = {first.substr(0, 1024), first.substr(1024, 1024), first.substr(2048),
                                          std::string(1024, 'r'), "tail"};
  EXPECT_EQ(distinct, stored);
}

TEST_F(BackupDedupeTest, AProgramPastTheLimitOfKeptAnswersFailsInsteadOfWaiting) {
  // A limit below BKP.EXE's first batch (three blocks): it is refused.
  File("/one.bin", std::string(1024, 'a') + std::string(1024, 'b') + std::string(1024, 'c'));
  archive->SetConfig(config);
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Prepipeline(root, {}, nullptr));
  ASSERT_TRUE(phase);
  CProxyPrepipelineMgr mgr;
  ASSERT_FALSE(mgr.Initialize(archive.get(), kJob, kArchiveFileId).IsError());
  mgr.QueryManager().SetStoredAnswerLimit(2);
  _PrePipelineDedupe_Config sent;
  ASSERT_FALSE(Exchange(*phase, mgr, sent).IsError());
  ASSERT_FALSE(phase->getClientVolumeList().IsError());
  ASSERT_FALSE(phase->sendCollectFile(1, 0).IsError());
  // The program's wait for its answers ends with the refusal, and so does
  // its backup link: the host's receive fails rather than waiting.
  const std::string line = backuptest::Drive(*phase);
  EXPECT_EQ(0u, line.find("H:/one.bin")) << line;
  EXPECT_NE(std::string::npos, line.find(" X")) << line;
  ASSERT_TRUE(daemon.WaitForProgram(0, 20));
  EXPECT_NE(std::string::npos,
            coretest::Texts(daemon.GetProgramRecord(0).failure).find("the proxy refused a query batch"));
  EXPECT_TRUE(log.Has("would pass the limit of 2 answers"));
  EXPECT_TRUE(WaitUntil([&] { return !mgr.QueryManager().ListenerRunning(); }));
  phase.reset();
  mgr.Uninitialize();
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  EXPECT_EQ(0u, archive->OutstandingBuffers());
}

}  // namespace
}  // namespace dedupetest
