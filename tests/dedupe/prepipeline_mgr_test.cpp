// The pre-pipeline manager over the stand-in archive: the configuration
// and the query server's start, data blocks and signature tags with their
// tag headers, the buffer bookkeeping and the counters.
#include <ctime>

#include "DedupeTestUtil.h"
#include "KXJobPerfManager.h"

namespace dedupetest {
namespace {

_PrePipelineDedupe_Config Config(uint64_t flags, uint32_t compressionLocation, uint32_t signatureLocation) {
  _PrePipelineDedupe_Config config;
  config.ullFlags = flags;
  config.uCompressionLocation = compressionLocation;
  config.uSignatureLocation = signatureLocation;
  config.uCompressionScheme = 2;
  config.uSignatureScheme = kSignatureScheme;
  config.uDedupeBlockSizeKB = 128;
  config.uSignaturesPerBatch = 16;
  config.uQueryPort = 4711;  // what the archive gives
  return config;
}

class PrepipelineMgrTest : public DedupeTest {
 protected:
  void SetUp() override {
    DedupeTest::SetUp();
    st_SigQueryParams params;
    params.uAppId = 7;
    params.uSIDBStoreId = 33;
    params.bUseCacheDB = true;
    archive.SetQueryParams(params, "ibmi1");
  }

  // Initialized over `archive`, with the configuration given and read.
  void Ready(const _PrePipelineDedupe_Config& given, _PrePipelineDedupe_Config& config, bool& enabled) {
    archive.SetConfig(given);
    ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
    CWqError result = mgr.GetPrePipelineDedupeConfig(config, enabled);
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }

  // The query server running, and the answers of `ids` stored.
  void Answered(const std::vector<uint32_t>& ids, const std::vector<uint32_t>& seeds) {
    _PrePipelineDedupe_Config config;
    bool enabled = false;
    Ready(Config(1, 0, 1), config, enabled);
    ASSERT_TRUE(mgr.IsQueryServerRunning());
    SimQueryClient client;
    ASSERT_FALSE(client.Start(static_cast<uint16_t>(config.uQueryPort), SimScript().Reply(SimQueryClient::Query(ids, seeds)))
                     .IsError());
    ASSERT_TRUE(client.WaitReceived(1, 10));
    ASSERT_EQ(ids.size(), mgr.QueryManager().StoredAnswerCount());
  }

  KXArchive archive;
  CProxyPrepipelineMgr mgr;
};

struct ConfigRow {
  const char* name;
  uint64_t flags;
  uint32_t compressionLocation, signatureLocation;
  bool enabled, queryServer, modeLine;
};

TEST_F(PrepipelineMgrTest, ConfigurationDecidesTheMode) {
  const ConfigRow rows[] = {
      {"no flag bit 0: off, as the archive gave it", 0, 1, 1, false, false, false},
      {"compression on the client: on, no query server", 1, 1, 0, true, false, true},
      {"signatures on the client: on, the query server starts", 1, 0, 1, true, true, true},
      {"flag bit 0 but neither location: off", 1, 0, 0, false, false, false},
  };
  for (const ConfigRow& row : rows) {
    SCOPED_TRACE(row.name);
    log.Clear();
    KXArchive rowArchive;
    rowArchive.SetQueryParams(st_SigQueryParams(), "ibmi1");
    rowArchive.SetConfig(Config(row.flags, row.compressionLocation, row.signatureLocation));
    CProxyPrepipelineMgr rowMgr;
    ASSERT_FALSE(rowMgr.Initialize(&rowArchive, kJob, kArchiveFileId).IsError());
    _PrePipelineDedupe_Config config;
    bool enabled = !row.enabled;
    ASSERT_FALSE(rowMgr.GetPrePipelineDedupeConfig(config, enabled).IsError());
    EXPECT_EQ(row.enabled, enabled);
    EXPECT_EQ(row.queryServer, rowMgr.IsQueryServerRunning());
    EXPECT_EQ(row.modeLine, log.Has("BKPAPI: PrePipeline mode "));
    if (row.queryServer) {
      EXPECT_NE(4711u, config.uQueryPort);
      EXPECT_NE(0u, config.uQueryPort);
    } else {
      EXPECT_EQ(4711u, config.uQueryPort);
    }
    EXPECT_EQ(0x400000u, config.uCarried48);
    EXPECT_EQ(128u, config.uDedupeBlockSizeKB);
    rowMgr.Uninitialize();
  }
}

TEST_F(PrepipelineMgrTest, TheQueryServerStartsOnce) {
  _PrePipelineDedupe_Config first, second;
  bool enabled = false;
  Ready(Config(1, 0, 1), first, enabled);
  ASSERT_FALSE(mgr.GetPrePipelineDedupeConfig(second, enabled).IsError());
  EXPECT_EQ(first.uQueryPort, second.uQueryPort);
  EXPECT_EQ(1, SignatureQueryScript::ModulesMade());
  EXPECT_EQ(1u, log.Count("DedupeQueryMgr started successfully on"));
  mgr.Uninitialize();
  mgr.Uninitialize();
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
}

struct ReadFailureRow {
  const char* name;
  KXArchive::Call failing;  // kCallCount: none
  bool failModule;
  const char* text;
};

TEST_F(PrepipelineMgrTest, FailuresOfTheConfigurationAndTheQueryServerStart) {
  const ReadFailureRow rows[] = {
      {"the archive gives no configuration", KXArchive::kGetConfig, false,
       "The archive gave no pre-pipeline configuration"},
      {"the archive gives no signature-query parameters", KXArchive::kGetParams, false,
       "The archive gave no signature-query parameters"},
      {"the query manager cannot start", KXArchive::kCallCount, true,
       "CLProxyDedupeQueryMgr initaialization failed ["},
  };
  for (const ReadFailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    SignatureQueryScript::Reset();
    SignatureQueryScript script;
    script.failInit = row.failModule;
    SignatureQueryScript::Set(script);
    KXArchive rowArchive;
    rowArchive.SetQueryParams(st_SigQueryParams(), "ibmi1");
    rowArchive.SetConfig(Config(1, 0, 1));
    if (row.failing != KXArchive::kCallCount) rowArchive.SetFailure(row.failing, true);
    CProxyPrepipelineMgr rowMgr;
    ASSERT_FALSE(rowMgr.Initialize(&rowArchive, kJob, kArchiveFileId).IsError());
    _PrePipelineDedupe_Config config;
    bool enabled = false;
    CWqError result = rowMgr.GetPrePipelineDedupeConfig(config, enabled);
    EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));
    EXPECT_NE(std::string::npos, coretest::Texts(result).find(row.text)) << coretest::Texts(result);
    EXPECT_FALSE(rowMgr.IsQueryServerRunning());
    EXPECT_FALSE(rowMgr.QueryManager().ListenerRunning());
    if (row.failModule) {
      // What the archive gave stays: dedupe on, its query port.
      EXPECT_TRUE(enabled);
      EXPECT_EQ(4711u, config.uQueryPort);
    } else {
      EXPECT_FALSE(enabled);
    }
    // A signature record finds no query server.
    _PrePipelineDedupe_Signature signature;
    result = rowMgr.onPrepipelineSignature(&signature, nullptr, 0);
    EXPECT_NE(std::string::npos,
              coretest::Texts(result).find("Prerpipeline Dedupe message is unexpected, when Dedupe is disabled"));
    rowMgr.Uninitialize();
    EXPECT_EQ(0, SignatureQueryScript::LiveModules());
  }
}

TEST_F(PrepipelineMgrTest, TheConfiguredBatchSizeBoundsTheQueries) {
  _PrePipelineDedupe_Config config;
  bool enabled = false;
  Ready(Config(1, 0, 1), config, enabled);  // 16 signatures per batch
  std::vector<uint32_t> ids(17);
  for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = i + 1;
  SimQueryClient client;
  ASSERT_FALSE(client.Start(static_cast<uint16_t>(config.uQueryPort),
                            SimScript().Reply(SimQueryClient::Query(ids, {})).Reply(
                                SimQueryClient::Query(std::vector<uint32_t>(ids.begin(), ids.begin() + 16), {})))
                   .IsError());
  ASSERT_TRUE(client.WaitReceived(2, 10));
  EXPECT_EQ((std::vector<int>{-1, 16}), Replies(client.Record()));
  mgr.Uninitialize();
}

TEST_F(PrepipelineMgrTest, RefusalsBeforeTheirTime) {
  _PrePipelineDedupe_Config config;
  bool enabled = true;
  CWqError result = mgr.GetPrePipelineDedupeConfig(config, enabled);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("UnInitialized CProxyPrepipelineMgr module"));
  EXPECT_TRUE(FXErrorUtil::IsWin32(mgr.Initialize(nullptr, kJob, kArchiveFileId), 774));
  std::vector<uint8_t> data(10, 1);
  result = mgr.onPrepipelineDedupeData(reinterpret_cast<char*>(data.data()), 10, nullptr, nullptr, 0);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("UnInitialized CProxyPrepipelineMgr module"));
  _PrePipelineDedupe_Signature signature;
  result = mgr.onPrepipelineSignature(&signature, nullptr, 0);
  EXPECT_NE(std::string::npos,
            coretest::Texts(result).find("Prerpipeline Dedupe message is unexpected, when Dedupe is disabled"));
  WriteBufArgs_t args;
  EXPECT_EQ(-1, mgr.WriteKXArchiveBuffer(nullptr, &args, nullptr, nullptr));
}

TEST_F(PrepipelineMgrTest, ADataBlockGoesIntoItsOwnBufferBehindItsTagHeader) {
  ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  _PipelineDataHdr header;
  header.uFlags = 5;
  header.uDataSize = 5000;
  header.uSecondSize = 8192;
  header.uCompressionType = 7;
  ASSERT_FALSE(mgr.onPrepipelineDedupeData(reinterpret_cast<char*>(data.data()), 5000, &header, nullptr, 0).IsError());
  EXPECT_EQ(1u, archive.Allocations());
  EXPECT_EQ(0u, archive.OutstandingBuffers());
  std::vector<KXArchive::Record> records = archive.Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(ExpectedTag(2, 5000, 8192, kArchiveFileId, 7, 5), records[0].header);
  EXPECT_EQ(data, records[0].data);
}

TEST_F(PrepipelineMgrTest, TagHeaderCases) {
  struct Row {
    const char* name;
    uint32_t flags, compression, encryption;
    int result;
    std::vector<uint8_t> header;
    const char* logLine;
  };
  const Row rows[] = {
      {"compression 7, flags 5", 5, 7, 0, 0, ExpectedTag(2, 1000, 4096, kArchiveFileId, 7, 5), nullptr},
      {"compression 0", 2, 0, 0, 0, ExpectedTag(2, 1000, 4096, kArchiveFileId, 0, 2), nullptr},
      {"compression 3 refused", 1, 3, 0, kArchiveTagRefused, {}, "BKPAPI:[error] Unsupported Compression type(3)"},
      {"encryption 1 refused", 1, 7, 1, kArchiveTagRefused, {}, "BKPAPI:[error] Unsupported Encryption type(1)"},
  };
  ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const size_t before = archive.Records().size();
    AllocateBufArgs_t args;
    args.uDataSize = 1000;
    AllocateBufRet_t ret;
    char* buffer = mgr.AllocateKXArchiveBuffer(&args, &ret);
    ASSERT_NE(nullptr, buffer);
    _PipelineDataHdr header;
    header.uFlags = row.flags;
    header.uDataSize = 1000;
    header.uSecondSize = 4096;
    header.uCompressionType = row.compression;
    header.uEncryptionType = row.encryption;
    WriteBufArgs_t write;
    write.uBufferType = 2;
    write.uDataSize = 1000;
    EXPECT_EQ(row.result, mgr.WriteKXArchiveBuffer(buffer, &write, nullptr, &header));
    if (row.result == 0) {
      ASSERT_EQ(before + 1, archive.Records().size());
      EXPECT_EQ(row.header, archive.Records().back().header);
    } else {
      EXPECT_EQ(before, archive.Records().size());
      EXPECT_TRUE(log.Has(row.logLine)) << row.logLine;
      FreeBufArgs_t release = ret.freeArgs;
      EXPECT_EQ(0, archive.freeBuffer(&release, nullptr));  // still the caller's
    }
  }
  EXPECT_EQ(0u, archive.OutstandingBuffers());
}

TEST_F(PrepipelineMgrTest, BufferBookkeepingRefusals) {
  ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
  AllocateBufArgs_t args;
  args.uDataSize = 64;
  AllocateBufRet_t firstRet, secondRet;
  char* first = mgr.AllocateKXArchiveBuffer(&args, &firstRet);
  char* second = mgr.AllocateKXArchiveBuffer(&args, &secondRet);
  ASSERT_TRUE(first && second);
  std::memset(first, 'A', 64);
  std::memset(second, 'B', 64);
  WriteBufArgs_t write;
  write.uBufferType = 2;
  write.uDataSize = 64;

  // The earlier buffer is written with its own header, not the latest one's.
  ASSERT_EQ(0, mgr.WriteKXArchiveBuffer(first, &write, nullptr, nullptr));
  ASSERT_EQ(1u, archive.Records().size());
  EXPECT_EQ(std::vector<uint8_t>(64, 'A'), archive.Records()[0].data);
  EXPECT_EQ(ExpectedTag(2, 64, 0, kArchiveFileId, 7, 0), archive.Records()[0].header);

  // Written already, or never handed out: refused, nothing touched.
  EXPECT_EQ(kArchiveTagRefused, mgr.WriteKXArchiveBuffer(first, &write, nullptr, nullptr));
  char stranger[160] = {};
  EXPECT_EQ(kArchiveTagRefused, mgr.WriteKXArchiveBuffer(stranger + 96, &write, nullptr, nullptr));
  EXPECT_EQ(std::vector<char>(160, 0), std::vector<char>(stranger, stranger + 160));
  EXPECT_EQ(1u, archive.Records().size());
  EXPECT_TRUE(log.Has("BKPAPI:error during Write-KXArchive-Buffer [Invalid Tag pointer]"));

  // A failed write of the caller's buffer leaves it the caller's.
  archive.SetFailure(KXArchive::kWrite, true);
  _PipelineDataHdr header;
  header.uDataSize = 64;
  std::vector<char> data(64, 'C');
  CWqError result = mgr.onPrepipelineDedupeData(data.data(), 64, &header, second, secondRet.uRoom);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("error during send PL buffer"));
  EXPECT_EQ(1u, archive.OutstandingBuffers());
  // A buffer the call allocated itself is freed.
  result = mgr.onPrepipelineDedupeData(data.data(), 64, &header, nullptr, 0);
  EXPECT_TRUE(result.IsError());
  EXPECT_EQ(1u, archive.OutstandingBuffers());
  archive.SetFailure(KXArchive::kWrite, false);
  // The caller then writes its buffer after all.
  ASSERT_FALSE(mgr.onPrepipelineDedupeData(data.data(), 64, &header, second, secondRet.uRoom).IsError());
  EXPECT_EQ(0u, archive.OutstandingBuffers());
  EXPECT_EQ(0u, mgr.BuffersHandedOut());
}

TEST_F(PrepipelineMgrTest, DataRefusals) {
  ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
  std::vector<char> data(100, 'D');
  _PipelineDataHdr header;
  header.uDataSize = 99;
  CWqError result = mgr.onPrepipelineDedupeData(data.data(), 100, &header, nullptr, 0);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));
  EXPECT_EQ(0u, archive.Allocations());

  header.uDataSize = 100;
  AllocateBufArgs_t args;
  args.uDataSize = 50;
  AllocateBufRet_t ret;
  char* small = mgr.AllocateKXArchiveBuffer(&args, &ret);
  result = mgr.onPrepipelineDedupeData(data.data(), 100, &header, small, ret.uRoom);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("PL buffer is not enough copy incoming Data"));
  EXPECT_TRUE(archive.Records().empty());
  EXPECT_EQ(1u, archive.OutstandingBuffers());  // the caller's still

  archive.SetFailure(KXArchive::kAllocate, true);
  result = mgr.onPrepipelineDedupeData(data.data(), 100, &header, nullptr, 0);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("unable allocate PL buffer"));
}

TEST_F(PrepipelineMgrTest, SignatureTagsFromStoredAnswers) {
  Answered({7, 8}, {1, 2});
  _PrePipelineDedupe_Signature signature;
  signature.uUniqueId = 7;
  ASSERT_FALSE(mgr.onPrepipelineSignature(&signature, nullptr, 0).IsError());
  std::vector<KXArchive::Record> records = archive.Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(ExpectedTag(322, 240, 0, kArchiveFileId, 7, 0), records[0].header);
  ASSERT_EQ(240u, records[0].data.size());
  EXPECT_EQ(7u, *reinterpret_cast<const uint32_t*>(records[0].data.data()));

  // The same unique id again: its answer is gone.
  CWqError result = mgr.onPrepipelineSignature(&signature, nullptr, 0);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Signature not found in the resp-list [UniqueID - 7]"));

  // A tag that cannot be written still uses up its answer.
  archive.SetFailure(KXArchive::kWrite, true);
  signature.uUniqueId = 8;
  result = mgr.onPrepipelineSignature(&signature, nullptr, 0);
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("error during send PL_FS_CLDEDUP buffer"));
  EXPECT_EQ(0u, mgr.QueryManager().StoredAnswerCount());
  EXPECT_EQ(0u, archive.OutstandingBuffers());
  mgr.Uninitialize();
  EXPECT_EQ(0, SignatureQueryScript::LiveModules());
}

TEST_F(PrepipelineMgrTest, Counters) {
  std::vector<_PrePipelineDedupeperfCounter> counters(2);
  std::memset(counters[0].name, 'n', 64);  // fills the name: no NUL
  counters[0].uValue68 = 68;
  counters[0].ullValue72 = 72;
  counters[0].uValue80 = 80;
  std::memcpy(counters[1].name, "blocks", 7);
  COBPrePipelinePerfCountersMsg message(counters);

  // Dedupe off: nothing published, even with counters received.
  archive.SetConfig(Config(0, 0, 0));
  ASSERT_FALSE(mgr.Initialize(&archive, kJob, kArchiveFileId).IsError());
  ASSERT_FALSE(mgr.onPrepipelinePerfData(&message).IsError());
  _JobPerfCounterCollection collection;
  mgr.UpdatePerfCounters(&collection, 0);
  EXPECT_TRUE(collection.Snapshot().empty());
  ClEmptyMsg other(GOOD_EOF_MSG);
  EXPECT_NE(std::string::npos,
            coretest::Texts(mgr.onPrepipelinePerfData(&other)).find("unexpected class type for messge 800B"));

  _PrePipelineDedupe_Config config;
  bool enabled = false;
  archive.SetConfig(Config(1, 1, 0));
  ASSERT_FALSE(mgr.GetPrePipelineDedupeConfig(config, enabled).IsError());
  ASSERT_TRUE(enabled);
  const time_t now = static_cast<time_t>(FXTime());
  struct tm broken;
  gmtime_r(&now, &broken);
  const uint32_t stamp = static_cast<uint32_t>(mktime(&broken));
  mgr.UpdatePerfCounters(&collection, 0);
  std::vector<_JobPerfCounter> got = collection.Snapshot();
  ASSERT_EQ(2u, got.size());
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&got[0]);
  EXPECT_EQ(10002u, ClProxyWire::GetU32(bytes));
  EXPECT_EQ(542u, ClProxyWire::GetU32(bytes + 4));
  EXPECT_LE(stamp, ClProxyWire::GetU32(bytes + 8));
  EXPECT_GE(stamp + 5, ClProxyWire::GetU32(bytes + 8));
  EXPECT_EQ(68u, ClProxyWire::GetU32(bytes + 12));
  EXPECT_EQ(80u, ClProxyWire::GetU32(bytes + 20));
  EXPECT_EQ(std::string(64, 'n'), std::string(got[0].name, 64));
  EXPECT_EQ(72u, ClProxyWire::GetU64(bytes + 96));
}

TEST_F(PrepipelineMgrTest, ReinitializeMovesToTheNewArchiveFile) {
  _PrePipelineDedupe_Config config;
  bool enabled = false;
  Ready(Config(1, 0, 1), config, enabled);
  ASSERT_FALSE(mgr.Reinitialize(&archive, kJob, 12).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(mgr.Reinitialize(nullptr, kJob, 13), 774));
  // A query after the change carries the new file id, and so does its tag.
  ClProxyMsg* reply = nullptr;
  std::shared_ptr<ClProxyMsg> query = SimQueryClient::Query({3}, {3});
  ASSERT_FALSE(mgr.QueryManager().processMessage(query.get(), reply).IsError());
  delete reply;
  _PrePipelineDedupe_Signature signature;
  signature.uUniqueId = 3;
  ASSERT_FALSE(mgr.onPrepipelineSignature(&signature, nullptr, 0).IsError());
  std::vector<KXArchive::Record> records = archive.Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(ExpectedTag(322, 240, 0, 12, 7, 0), records[0].header);
  SIDBQueryAndInsertSignaturesResponseParam tag;
  std::memcpy(static_cast<void*>(&tag), records[0].data.data(), sizeof tag);
  EXPECT_EQ(12u, tag.primary.uArchiveFileId);
  mgr.Uninitialize();
}

}  // namespace
}  // namespace dedupetest
