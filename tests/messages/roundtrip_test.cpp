// Every message class survives encode -> factory -> the same fields, and
// every malformed payload is an EPROTO error, never a crash.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <list>

#include "ClProxyMessages.h"
#include "ClServiceMsgs.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "ISendEventInterface.h"
#include "msg_test_util.h"

namespace {

_PrePipelineDedupe_Query Query(uint32_t uniqueId) {
  _PrePipelineDedupe_Query q;
  q.signature[0] = static_cast<uint8_t>(uniqueId);
  q.signature[63] = 0x80;
  q.carried64[1] = 0x11;
  q.uValue68 = 0x68686868;
  q.ullValue72 = 0x7272727272727272ull;
  q.ullValue80 = 0x8080808080808080ull;
  q.uUniqueId = uniqueId;
  q.carried92[11] = 0x92;
  return q;
}

struct Case {
  Case(const char* n, std::function<std::unique_ptr<ClProxyMsg>()> mk,
       std::function<void(const ClProxyMsg&)> ck, std::function<bool(uint32_t)> prefix = nullptr,
       bool trailing = false)
      : name(n), make(std::move(mk)), check(std::move(ck)), validPrefix(std::move(prefix)),
        trailingBytesAllowed(trailing) {}

  const char* name;
  std::function<std::unique_ptr<ClProxyMsg>()> make;
  // Checks the decoded message's fields against what `make` put in.
  std::function<void(const ClProxyMsg&)> check;
  // A truncated payload of this length that still decodes (the class allows
  // it); none by default.
  std::function<bool(uint32_t)> validPrefix;
  bool trailingBytesAllowed;
};

// Names the decoded message as its class, or fails the check.
#define AS(T, m)                                   \
  const T* t = dynamic_cast<const T*>(&(m));       \
  ASSERT_NE(nullptr, t)

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  cases.push_back({"LaunchCmd", [] { return std::unique_ptr<ClProxyMsg>(new ClLaunchCmdMsg(4711, "SCN.EXE")); },
                   [](const ClProxyMsg& m) {
                     AS(ClLaunchCmdMsg, m);
                     EXPECT_EQ(4711, t->getPort());
                     EXPECT_EQ("SCN.EXE", t->getCommand());
                   }});
  cases.push_back({"LaunchCmdDIP", [] { return std::unique_ptr<ClProxyMsg>(new ClLaunchCmdDIPMsg("10.0.0.1", 65535, "BKP.EXE")); },
                   [](const ClProxyMsg& m) {
                     AS(ClLaunchCmdDIPMsg, m);
                     EXPECT_EQ("10.0.0.1", t->getInterface());
                     EXPECT_EQ(65535, t->getPort());
                     EXPECT_EQ("BKP.EXE", t->getCommand());
                   }});
  cases.push_back({"LaunchResponse", [] { return std::unique_ptr<ClProxyMsg>(new ClLaunchCmdResponseMsg(-1)); },
                   [](const ClProxyMsg& m) {
                     int64_t pid = 0;
                     AS(ClLaunchCmdResponseMsg, m);
                     t->get(pid);
                     EXPECT_EQ(-1, pid);
                   }});
  cases.push_back({"GetProcessStatus", [] { return std::unique_ptr<ClProxyMsg>(new ClGetProcessStatusMsg(1234)); },
                   [](const ClProxyMsg& m) {
                     AS(ClGetProcessStatusMsg, m);
                     EXPECT_EQ(1234, t->getProcessId());
                   }});
  cases.push_back({"ProcessStatusResponse", [] { return std::unique_ptr<ClProxyMsg>(new ClProcessStatusResponseMsg(3)); },
                   [](const ClProxyMsg& m) {
                     int32_t status = 0;
                     AS(ClProcessStatusResponseMsg, m);
                     t->get(status);
                     EXPECT_EQ(3, status);
                   }});
  cases.push_back({"JobStart",
                   [] {
                     std::unique_ptr<ClJobStartMsg> m(new ClJobStartMsg(2, 9, 4, INT64_MIN, UINT64_MAX));
                     m->setOptionValue("b", true);
                     m->setOptionValue("i", INT32_MIN);
                     m->setOptionValue("u", UINT32_MAX);
                     m->setOptionValue("ull", UINT64_MAX);
                     m->setOptionValue("s", std::string("v\0w", 3));
                     m->addPath("/src", "");
                     m->setOptionValue("empty", "");
                     return std::unique_ptr<ClProxyMsg>(std::move(m));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClJobStartMsg, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(9, t->getAppId());
                     EXPECT_EQ(4, t->getBackupLevel());
                     EXPECT_EQ(INT64_MIN, t->getJobStartValue());
                     EXPECT_EQ(UINT64_MAX, t->getJobId());
                     ASSERT_EQ(7u, t->getEntries().size());
                     ASSERT_NE(nullptr, t->findOption("b"));
                     EXPECT_TRUE(t->findOption("b")->bValue);
                     EXPECT_EQ(INT32_MIN, t->findOption("i")->iValue);
                     EXPECT_EQ(UINT32_MAX, t->findOption("u")->uValue);
                     EXPECT_EQ(UINT64_MAX, t->findOption("ull")->ullValue);
                     EXPECT_EQ(std::string("v\0w", 3), t->findOption("s")->text);
                     EXPECT_EQ(ClJobStartMsg::kString, t->findOption("empty")->kind);
                     ASSERT_EQ(1u, t->getPaths().size());
                     EXPECT_EQ("/src", t->getPaths()[0].first);
                     EXPECT_EQ(ClJobStartMsg::kPath, t->getEntries()[5].kind);
                   }});
  cases.push_back({"ScanConfig",
                   [] {
                     return std::unique_ptr<ClProxyMsg>(new ClScanConfigMsg(
                         {"/QSYS.LIB/A.LIB", ""}, {"f1"}, {}, {"x", "y", "z"}, {"/new"},
                         {{"isCommandFileJob", "1"}, {"", ""}}));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClScanConfigMsg, m);
                     EXPECT_EQ((std::list<std::string>{"/QSYS.LIB/A.LIB", ""}), t->getContent());
                     EXPECT_EQ(std::list<std::string>{"f1"}, t->getSecondList());
                     EXPECT_TRUE(t->getThirdList().empty());
                     EXPECT_EQ((std::list<std::string>{"x", "y", "z"}), t->getFourthList());
                     EXPECT_EQ(std::list<std::string>{"/new"}, t->getNewContent());
                     EXPECT_EQ((ClScanOptionList{{"isCommandFileJob", "1"}, {"", ""}}), t->getOptions());
                   }});
  cases.push_back({"ScanResult", [] { return std::unique_ptr<ClProxyMsg>(new ClScanResultMsg(7, -12345, {"a", "b"}, 5, 6)); },
                   [](const ClProxyMsg& m) {
                     AS(ClScanResultMsg, m);
                     int64_t time = 0;
                     std::list<std::string> failures{"stale"};
                     uint32_t failed = 0, collect = 0;
                     t->get(time, failures, failed, collect);
                     EXPECT_EQ(-12345, time);
                     EXPECT_EQ((std::list<std::string>{"a", "b"}), failures);
                     EXPECT_EQ(5u, failed);
                     EXPECT_EQ(6u, collect);
                     EXPECT_EQ(7u, t->getStatusWord());
                     EXPECT_EQ(2, t->getPhaseStatus());
                   }});
  cases.push_back({"BadEof", [] { return std::unique_ptr<ClProxyMsg>(new ClBadEofMsg("failed to send package file")); },
                   [](const ClProxyMsg& m) {
                     std::string text;
                     AS(ClBadEofMsg, m);
                     t->get(text);
                     EXPECT_EQ("failed to send package file", text);
                   }});
  cases.push_back({"CreateIndexFlag",
                   [] { return std::unique_ptr<ClProxyMsg>(new ClCreateIndexFlagMsg(ClCreateIndexFlagMsg::kQuery, 2, 10)); },
                   [](const ClProxyMsg& m) {
                     AS(ClCreateIndexFlagMsg, m);
                     EXPECT_EQ(3u, t->getCommand());
                     EXPECT_EQ(2u, t->getVelliconId());
                     EXPECT_EQ(10u, t->getAppId());
                   }});
  cases.push_back({"CommitBackupJob", [] { return std::unique_ptr<ClProxyMsg>(new ClCommitBackupJobMsg(-2, 0x123456789ul, 7, -9)); },
                   [](const ClProxyMsg& m) {
                     AS(ClCommitBackupJobMsg, m);
                     EXPECT_EQ(-2, t->getFirst());
                     EXPECT_EQ(0x123456789ull, t->getSecond());
                     EXPECT_EQ(7, t->getThird());
                     EXPECT_EQ(-9, t->getFourth());
                   }});
  cases.push_back({"ClientBrowseReq", [] { return std::unique_ptr<ClProxyMsg>(new ClClientBrowseReqMsg("/QSYS.LIB/A b")); },
                   [](const ClProxyMsg& m) {
                     AS(ClClientBrowseReqMsg, m);
                     EXPECT_EQ("/QSYS.LIB/A b", t->getPath());
                   }});
  cases.push_back({"ClientBrowseRep",
                   [] {
                     std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> entries(3);
                     entries[0].name = ".";
                     entries[0].type = 1;
                     entries[1].name = "file";
                     entries[1].value = 0xFFFFFFFFu;
                     entries[1].size = -5;
                     entries[2].name = "";
                     entries[2].size = 0x7FFFFFFFFFFFll;
                     entries[2].type = 7;
                     return std::unique_ptr<ClProxyMsg>(new ClClientBrowseRepMsg(entries));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClClientBrowseRepMsg, m);
                     std::vector<ClClientBrowseRepMsg::EntryView> data;
                     ClClientBrowseRepMsg::Cursor cursor(*t);
                     for (ClClientBrowseRepMsg::EntryView entry; cursor.next(entry);) data.push_back(entry);
                     ASSERT_EQ(3u, data.size());
                     ASSERT_EQ(3u, t->entryCount());
                     EXPECT_EQ(5u, t->nameBytes());
                     EXPECT_EQ(".", std::string(data[0].name, data[0].nameSize));
                     EXPECT_EQ("file", std::string(data[1].name, data[1].nameSize));
                     EXPECT_EQ(0u, data[2].nameSize);
                     EXPECT_EQ(1u, data[0].type);
                     EXPECT_EQ(0xFFFFFFFFu, data[1].value);
                     EXPECT_EQ(-5, data[1].size);
                     EXPECT_EQ(0x7FFFFFFFFFFFll, data[2].size);
                     EXPECT_EQ(7u, data[2].type);
                   }});
  cases.push_back({"DownloadLogFile", [] { return std::unique_ptr<ClProxyMsg>(new ClDownloadLogFile(0x80000001u, 5)); },
                   [](const ClProxyMsg& m) {
                     AS(ClDownloadLogFile, m);
                     EXPECT_EQ(0x80000001u, t->getRequest());
                     EXPECT_EQ(5u, t->getSecond());
                   }});
  cases.push_back({"DownloadDirChangeFile",
                   [] {
                     int first = 2, second = -10;
                     unsigned long third = 1001;
                     return std::unique_ptr<ClProxyMsg>(new ClDownloadDirChangeFile(first, second, third));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClDownloadDirChangeFile, m);
                     EXPECT_EQ(2, t->getFirst());
                     EXPECT_EQ(-10, t->getSecond());
                     EXPECT_EQ(1001u, t->getThird());
                   }});
  cases.push_back({"FailedFile", [] { return std::unique_ptr<ClProxyMsg>(new ClFailedFileMsg("/x/y", 13, "Permission denied")); },
                   [](const ClProxyMsg& m) {
                     std::string name, text;
                     int code = 0;
                     AS(ClFailedFileMsg, m);
                     t->get(name, code, text);
                     EXPECT_EQ("/x/y", name);
                     EXPECT_EQ(13, code);
                     EXPECT_EQ("Permission denied", text);
                   }});
  cases.push_back({"BackupStats", [] { return std::unique_ptr<ClProxyMsg>(new ClBackupStatsMsg(10, 1, 0x123456789ull)); },
                   [](const ClProxyMsg& m) {
                     uint32_t files = 0, failed = 0;
                     uint64_t total = 0;
                     AS(ClBackupStatsMsg, m);
                     t->get(files, failed, total);
                     EXPECT_EQ(10u, files);
                     EXPECT_EQ(1u, failed);
                     EXPECT_EQ(0x123456789ull, total);
                   }});
  cases.push_back({"CollectFile", [] { return std::unique_ptr<ClProxyMsg>(new ClCollectFileMsg(3, 0xFFFFFFFF01ull)); },
                   [](const ClProxyMsg& m) {
                     AS(ClCollectFileMsg, m);
                     EXPECT_EQ(3, t->getNumber());
                     EXPECT_EQ(0xFFFFFFFF01ull, t->getRestartOffset());
                   }});
  cases.push_back({"SyntheticFullCollectFile", [] { return std::unique_ptr<ClProxyMsg>(new ClSyntheticFullCollectFileMsg(65535)); },
                   [](const ClProxyMsg& m) {
                     AS(ClSyntheticFullCollectFileMsg, m);
                     EXPECT_EQ(65535, t->getNumber());
                   }});
  cases.push_back({"Event", [] { return std::unique_ptr<ClProxyMsg>(new ClEventMsg(0x13000257u, 4, 0, {"CLIENTSCAN", "host"})); },
                   [](const ClProxyMsg& m) {
                     AS(ClEventMsg, m);
                     EXPECT_EQ(0x13000257u, t->getEventID());
                     EXPECT_EQ(4, t->getSeverity());
                     EXPECT_EQ(0, t->getValue());
                     EXPECT_EQ((std::list<std::string>{"CLIENTSCAN", "host"}), t->getArguments());
                   }});
  cases.push_back({"TapeInfo",
                   [] {
                     std::unique_ptr<ClTapeInfoMsg> m(new ClTapeInfoMsg("BC0001", "SER9"));
                     m->setArgument(ClTapeInfoMsg::keyMessage_Key, "0042");
                     m->setArgument(ClTapeInfoMsg::keyMSGQName, "QSYSOPR");
                     return std::unique_ptr<ClProxyMsg>(std::move(m));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClTapeInfoMsg, m);
                     EXPECT_EQ("BC0001", t->currentTapeBarCode());
                     EXPECT_EQ("SER9", t->currentDriveSerial());
                     std::string value;
                     EXPECT_FALSE(t->getArgument(ClTapeInfoMsg::keyMessage_Key, value).IsError());
                     EXPECT_EQ("0042", value);
                     EXPECT_FALSE(t->getArgument(ClTapeInfoMsg::keyMSGQName, value).IsError());
                     EXPECT_EQ("QSYSOPR", value);
                     EXPECT_EQ(2u, t->getArguments().size());
                   }});
  cases.push_back({"TapeFull", [] { return std::unique_ptr<ClProxyMsg>(new ClTapeFullMsg("BC0002")); },
                   [](const ClProxyMsg& m) {
                     AS(ClTapeFullMsg, m);
                     EXPECT_EQ("BC0002", t->getTapeBarCode());
                   }});
  cases.push_back({"DRBackupClean",
                   [] {
                     std::unique_ptr<ClIBMDRBackupCleanMsg> m(new ClIBMDRBackupCleanMsg(2, 0, 77));
                     m->setDRMediaLocation("/KXDR/STAGE");
                     return std::unique_ptr<ClProxyMsg>(std::move(m));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClIBMDRBackupCleanMsg, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(0u, t->getJobId());
                     EXPECT_EQ(77, t->getAppId());
                     EXPECT_EQ("/KXDR/STAGE", t->getDRMediaLocation());
                   }});
  cases.push_back({"ClientBackupSize",
                   [] {
                     std::unique_ptr<ClClientBackupSize> m(new ClClientBackupSize(2, 17, 123456789012ul));
                     m->addUserLibrary("/QSYS.LIB/PAYROLL.LIB");
                     m->addUserLibrary("/QSYS.LIB/HR.LIB");
                     m->setClientBackupSize(0xFFFFFFFFu);
                     return std::unique_ptr<ClProxyMsg>(std::move(m));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClClientBackupSize, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(17, t->getAppId());
                     EXPECT_EQ(123456789012ul, t->getJobId());
                     EXPECT_EQ(std::list<std::string>({"/QSYS.LIB/PAYROLL.LIB", "/QSYS.LIB/HR.LIB"}),
                               t->getUserLibraries());
                     EXPECT_EQ(0xFFFFFFFFu, t->getClientBackupSize());
                   }});
  cases.push_back({"InitializeTapeMLBMode",
                   [] {
                     return std::unique_ptr<ClProxyMsg>(
                         new ClInitializeTapeMLBMode(2, 17, 123456789012ul, "TAPMLB01", {"A1", "B2"}));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClInitializeTapeMLBMode, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(17, t->getAppId());
                     EXPECT_EQ(123456789012ul, t->getJobId());
                     EXPECT_EQ("TAPMLB01", t->getDriveCode());
                     EXPECT_EQ(std::list<std::string>({"A1", "B2"}), t->getTapeList());
                   }});
  cases.push_back({"ProcessOutFile",
                   [] { return std::unique_ptr<ClProxyMsg>(new ClProcessOutFileMsg(2, 17, 123456789012ul, "QGPL/OUT")); },
                   [](const ClProxyMsg& m) {
                     AS(ClProcessOutFileMsg, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(17, t->getAppId());
                     EXPECT_EQ(123456789012ul, t->getJobId());
                     EXPECT_EQ("QGPL/OUT", t->getOutfileName());
                   }});
  cases.push_back({"VTLDRCleanup",
                   [] { return std::unique_ptr<ClProxyMsg>(new ClVTLDRCleanupMsg(2, 17, 123456789012ul, "TAPMLB01", 7)); },
                   [](const ClProxyMsg& m) {
                     AS(ClVTLDRCleanupMsg, m);
                     EXPECT_EQ(2, t->getVelliconId());
                     EXPECT_EQ(17, t->getAppId());
                     EXPECT_EQ(123456789012ul, t->getJobId());
                     EXPECT_EQ("TAPMLB01", t->getDrive());
                     EXPECT_EQ(7u, t->getValue());
                   }});
  cases.push_back({"COBConfig",
                   [] {
                     COBClientConfig c;
                     c.uCapabilities = 0x3;
                     return std::unique_ptr<ClProxyMsg>(new COBConfigMsg(c));
                   },
                   [](const ClProxyMsg& m) {
                     AS(COBConfigMsg, m);
                     EXPECT_EQ(0x3u, t->GetConfig()->uCapabilities);
                   }});
  cases.push_back({"DedupeInfoResp",
                   [] {
                     _PrePipelineDedupe_Config c;
                     c.uCompressionLocation = 1;
                     c.uSignatureLocation = 1;
                     c.ullFlags = 1;
                     c.uQueryPort = 40001;
                     c.ullCarried72 = 0xFEDCBA9876543210ull;
                     return std::unique_ptr<ClProxyMsg>(new COBPrePipelineDedupeInfoRespMsg(c));
                   },
                   [](const ClProxyMsg& m) {
                     AS(COBPrePipelineDedupeInfoRespMsg, m);
                     const auto& c = t->getConfig();
                     EXPECT_EQ(1u, c.uCompressionLocation);
                     EXPECT_EQ(1u, c.uSignatureLocation);
                     EXPECT_EQ(1u, c.ullFlags);
                     EXPECT_EQ(40001u, c.uQueryPort);
                     EXPECT_EQ(0x400000u, c.uCarried48);
                     EXPECT_EQ(0xFEDCBA9876543210ull, c.ullCarried72);
                   }});
  cases.push_back({"DedupeQuery",
                   [] { return std::unique_ptr<ClProxyMsg>(new COBPrePipelineDedupeQueryMsg({Query(1), Query(2)})); },
                   [](const ClProxyMsg& m) {
                     uint32_t count = 0;
                     AS(COBPrePipelineDedupeQueryMsg, m);
                     const _PrePipelineDedupe_Query* q = t->getQuery(count);
                     ASSERT_EQ(2u, count);
                     ASSERT_NE(nullptr, q);
                     for (uint32_t i = 0; i < count; ++i) {
                       _PrePipelineDedupe_Query expected = Query(i + 1);
                       EXPECT_EQ(0, std::memcmp(&q[i], &expected, sizeof(expected))) << i;
                     }
                   }});
  cases.push_back({"DedupeResultResp",
                   [] {
                     _PrePipelineDedupe_Result_Resp r;
                     r.uUniqueId = 9;
                     r.uIsNew = 1;
                     r.uUniqueId2 = 9;
                     return std::unique_ptr<ClProxyMsg>(new COBPrePipelineDedupeResultRespMsg({r, r}));
                   },
                   [](const ClProxyMsg& m) {
                     AS(COBPrePipelineDedupeResultRespMsg, m);
                     const auto& results = t->getResults();
                     ASSERT_EQ(2u, results.size());
                     EXPECT_EQ(9u, results[1].uUniqueId);
                     EXPECT_EQ(1u, results[1].uIsNew);
                     EXPECT_EQ(9u, results[1].uUniqueId2);
                   }});
  cases.push_back({"PerfCounters",
                   [] {
                     std::vector<_PrePipelineDedupeperfCounter> counters(2);
                     std::memset(counters[0].name, 'c', sizeof counters[0].name);
                     counters[0].uValue68 = 68;
                     counters[0].ullValue72 = 0x0102030405060708ull;
                     counters[0].uValue80 = 80;
                     counters[1].carried84[27] = 0xEE;
                     return std::unique_ptr<ClProxyMsg>(new COBPrePipelinePerfCountersMsg(counters));
                   },
                   [](const ClProxyMsg& m) {
                     AS(COBPrePipelinePerfCountersMsg, m);
                     const auto& counters = t->getPerfCounters();
                     ASSERT_EQ(2u, counters.size());
                     EXPECT_EQ(std::string(64, 'c'), std::string(counters[0].name, 64));
                     EXPECT_EQ(68u, counters[0].uValue68);
                     EXPECT_EQ(0x0102030405060708ull, counters[0].ullValue72);
                     EXPECT_EQ(80u, counters[0].uValue80);
                     EXPECT_EQ(0xEE, counters[1].carried84[27]);
                   }});
  cases.push_back({"PipelineSignature",
                   [] {
                     _PrePipelineDedupe_Signature s;
                     s.uUniqueId = 0xA1B2C3D4;
                     s.carried0[67] = 1;
                     return std::unique_ptr<ClProxyMsg>(new ClPipelineSignatureMsg(s));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClPipelineSignatureMsg, m);
                     const _PrePipelineDedupe_Signature* s = t->GetSignature();
                     ASSERT_NE(nullptr, s);
                     EXPECT_EQ(0xA1B2C3D4u, s->uUniqueId);
                     EXPECT_EQ(1, s->carried0[67]);
                   },
                   [](uint32_t length) { return length == 0; }});
  cases.push_back({"PipelineSignatureWithoutRecord",
                   [] { return std::unique_ptr<ClProxyMsg>(new ClPipelineSignatureMsg()); },
                   [](const ClProxyMsg& m) {
                     AS(ClPipelineSignatureMsg, m);
                     EXPECT_EQ(nullptr, t->GetSignature());
                   }});
  cases.push_back({"PipelineBlob",
                   [] {
                     _PipelineDataHdr h;
                     h.uFlags = 5;
                     h.uDataSize = 4;
                     h.uCompressionType = 7;
                     h.carried20[35] = 0x35;
                     return std::unique_ptr<ClProxyMsg>(new ClPipelineBlobMsg(h, "data", 4));
                   },
                   [](const ClProxyMsg& m) {
                     AS(ClPipelineBlobMsg, m);
                     EXPECT_EQ(5u, t->GetPipelineDataHdr()->uFlags);
                     EXPECT_EQ(4u, t->GetPipelineDataHdr()->uDataSize);
                     EXPECT_EQ(7u, t->GetPipelineDataHdr()->uCompressionType);
                     EXPECT_EQ(0x35, t->GetPipelineDataHdr()->carried20[35]);
                     ASSERT_EQ(4u, t->getBlobSize());
                     EXPECT_EQ(0, std::memcmp("data", t->getBlob(), 4));
                   },
                   // Past its header the payload is data, however long.
                   [](uint32_t length) { return length >= ClPrePipelineWire::kDataHdrSize; },
                   true});
  return cases;
}

// Keeps gtest from dumping the case's bytes into test names and logs.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class MessageCaseTest : public ::testing::TestWithParam<Case> {};

TEST_P(MessageCaseTest, RoundTripKeepsEveryField) {
  const Case& c = GetParam();
  std::unique_ptr<ClProxyMsg> original = c.make();
  std::vector<uint8_t> payload = EncodePayload(*original);
  Decoded decoded = DecodePayload(original->getMsgType(), payload);
  ASSERT_FALSE(decoded.result.IsError()) << decoded.result.AsString();
  ASSERT_NE(nullptr, decoded.msg);
  EXPECT_EQ(original->getMsgType(), decoded.msg->getMsgType());
  c.check(*decoded.msg);
  // Nothing is lost: the decoded message encodes to the same bytes.
  EXPECT_EQ(payload, EncodePayload(*decoded.msg));
}

TEST_P(MessageCaseTest, EveryTruncationIsEproto) {
  const Case& c = GetParam();
  std::unique_ptr<ClProxyMsg> original = c.make();
  std::vector<uint8_t> payload = EncodePayload(*original);
  for (size_t cut = 0; cut < payload.size(); ++cut) {
    std::vector<uint8_t> part(payload.begin(), payload.begin() + cut);
    Decoded decoded = DecodePayload(original->getMsgType(), part);
    if (c.validPrefix && c.validPrefix(static_cast<uint32_t>(cut))) continue;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(decoded.result, EPROTO)) << c.name << " cut at " << cut;
    EXPECT_EQ(nullptr, decoded.msg) << c.name << " cut at " << cut;
  }
}

TEST_P(MessageCaseTest, TrailingBytesAreEproto) {
  const Case& c = GetParam();
  if (c.trailingBytesAllowed) return;
  std::unique_ptr<ClProxyMsg> original = c.make();
  std::vector<uint8_t> payload = EncodePayload(*original);
  payload.push_back(0);
  Decoded decoded = DecodePayload(original->getMsgType(), payload);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(decoded.result, EPROTO)) << c.name;
  EXPECT_NE(std::string::npos, decoded.result.AsString().find("0x")) << "the text names the type";
}

INSTANTIATE_TEST_SUITE_P(AllClasses, MessageCaseTest, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// Counts and lengths that claim far more than the payload holds.
TEST(MalformedPayloadTest, InflatedCountsAndLengthsAreEproto) {
  struct Forged {
    uint16_t type;
    std::vector<uint8_t> payload;
  } forged[] = {
      {BAD_EOF_MSG, BYTES("\x7F\xFF\xFF\xFF" "abc")},
      {SCAN_RESULT_MSG, BYTES("\x00\x00\x00\x01" "\x00\x00\x00\x00\x00\x00\x00\x00"
                              "\x00\x00\x00\x00" "\x00\x00\x00\x00" "\xFF\xFF\xFF\xFF")},
      {JOB_START_MSG, BYTES("\x00\x00\x00\x02" "\x00\x00\x00\x01" "\x00\x00\x00\x01"
                            "\x00\x00\x00\x00\x00\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\x00\x01"
                            "\xFF\xFF\xFF\xFF")},
      {PREPIPELINE_DEDUPE_QUERY_MSG, BYTES("\xFF\xFF\xFF\xFF" "\x00\x00\x00\x00")},
      {PREPIPELINE_DEDUPE_RESULT_RESP_MSG, BYTES("\x00\x00\x00\x02" "\x00\x00\x00\x00")},
      {TAPE_INFO_MSG, BYTES("\x00\x00\x00\x00" "\x00\x00\x00\x00" "\x40\x00\x00\x00")},
      {SCAN_CONFIG_MSG, BYTES("\x00\x00\x00\x00" "\x00\x00\x00\x00" "\x00\x00\x00\x00"
                              "\x00\x00\x00\x00" "\x00\x00\x00\x00" "\xFF\xFF\xFF\xF0")},
      {EVENT_MSG, BYTES("\x00\x00\x00\x01" "\x00\x00\x00\x00" "\x00\x00\x00\x00"
                        "\x00\x00\x00\x01" "\xFF\xFF\xFF\xFF")},
  };
  for (const Forged& f : forged) {
    Decoded decoded = DecodePayload(f.type, f.payload);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(decoded.result, EPROTO)) << std::hex << f.type;
    EXPECT_EQ(nullptr, decoded.msg);
  }
}

TEST(MalformedPayloadTest, JobStartRefusesUnknownKindAndBadBool) {
  std::vector<uint8_t> head = BYTES("\x00\x00\x00\x02" "\x00\x00\x00\x01" "\x00\x00\x00\x01"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x01" "\x00\x00\x00\x01");
  std::vector<uint8_t> unknownKind = head;
  for (uint8_t b : BYTES("\x00\x07" "\x00\x00\x00\x01" "n" "\x00\x00")) unknownKind.push_back(b);
  std::vector<uint8_t> badBool = head;
  for (uint8_t b : BYTES("\x00\x01" "\x00\x00\x00\x01" "n" "\x00\x02")) badBool.push_back(b);
  std::vector<uint8_t> goodBool = head;
  for (uint8_t b : BYTES("\x00\x01" "\x00\x00\x00\x01" "n" "\x00\x01")) goodBool.push_back(b);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(DecodePayload(JOB_START_MSG, unknownKind).result, EPROTO));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(DecodePayload(JOB_START_MSG, badBool).result, EPROTO));
  EXPECT_FALSE(DecodePayload(JOB_START_MSG, goodBool).result.IsError());
}

// The DR start message's options come in ascending name order: a repeated
// or unordered name is refused, not folded into one option.
TEST(MalformedPayloadTest, DRStartRefusesRepeatedOrUnorderedOptions) {
  ClIBMDRBackupJobMsg start(2, 9, 17);
  start.setOption("A", "1");
  start.setOption("B", "2");
  const std::vector<uint8_t> good = EncodePayload(start);
  ASSERT_FALSE(DecodePayload(IBM_DR_BACKUP_JOB_MSG, good).result.IsError());
  // The last option's name "B" (its length, then the byte) becomes "A".
  const size_t lastName = good.size() - (4 + 1) - (4 + 1);
  ASSERT_EQ('B', good[lastName + 4]);
  std::vector<uint8_t> repeated = good;
  repeated[lastName + 4] = 'A';
  EXPECT_TRUE(FXErrorUtil::IsErrNo(DecodePayload(IBM_DR_BACKUP_JOB_MSG, repeated).result, EPROTO));
  std::vector<uint8_t> unordered = good;
  unordered[lastName + 4] = '0';
  EXPECT_TRUE(FXErrorUtil::IsErrNo(DecodePayload(IBM_DR_BACKUP_JOB_MSG, unordered).result, EPROTO));
}

TEST(MessageFactoryTest, ShapesByType) {
  // Empty and type-only types: the payload is not read.
  for (uint16_t type : {static_cast<uint16_t>(GOOD_EOF_MSG), static_cast<uint16_t>(STREAM_STOP_MSG),
                        static_cast<uint16_t>(PREPIPELINE_DEDUPE_RESULT_REQ_MSG)}) {
    Decoded decoded = DecodePayload(type, BYTES("junk"));
    ASSERT_FALSE(decoded.result.IsError());
    EXPECT_NE(nullptr, dynamic_cast<ClEmptyMsg*>(decoded.msg.get()));
    EXPECT_EQ(type, decoded.msg->getMsgType());
  }
  // A blob keeps every byte, NULs included.
  Decoded blob = DecodePayload(FILE_HEADER_MSG, BYTES("DC\0"));
  ASSERT_FALSE(blob.result.IsError());
  const ClBlobMsg* b = dynamic_cast<ClBlobMsg*>(blob.msg.get());
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(3u, b->getBlobSize());
  // An unknown type is refused.
  Decoded unknown = DecodePayload(0x0200, {});
  EXPECT_TRUE(FXErrorUtil::IsErrNo(unknown.result, EPROTO));
  EXPECT_EQ(nullptr, unknown.msg);
}

TEST(JobStartOptionsTest, SecondSettingReplacesInPlace) {
  ClJobStartMsg msg(2, 1, 1, 0, 1);
  msg.setOptionValue("Backup_Save_ActiveWait_Time", static_cast<uint64_t>(10));
  msg.setOptionValue("other", true);
  msg.setOptionValue("Backup_Save_ActiveWait_Time", static_cast<uint64_t>(10));
  msg.setOptionValue("Backup_Save_ActiveWait_Time", static_cast<uint64_t>(600));
  msg.setOptionValue("Backup_Save_Access_Path", true);
  msg.setOptionValue("Backup_Save_Access_Path", "*ALL");  // the type may change too
  ASSERT_EQ(3u, msg.getEntries().size());
  EXPECT_EQ("Backup_Save_ActiveWait_Time", msg.getEntries()[0].name);
  EXPECT_EQ(600u, msg.getEntries()[0].ullValue);
  EXPECT_EQ(ClJobStartMsg::kString, msg.findOption("Backup_Save_Access_Path")->kind);
  EXPECT_EQ("*ALL", msg.findOption("Backup_Save_Access_Path")->text);
  EXPECT_EQ(nullptr, msg.findOption("backup_save_access_path"));  // names are case-sensitive
}

TEST(JobStartOptionsTest, PathsAreNeverMerged) {
  ClJobStartMsg msg(2, 1, 0, 0, 1);
  msg.setOptionValue("RestoreByJobRunning", true);
  msg.addPath("/a", "/b");
  msg.addPath("/a", "/b");
  msg.setOptionValue("/a", 1);  // an option named like a path is still an option
  ASSERT_EQ(4u, msg.getEntries().size());
  EXPECT_EQ(2u, msg.getPaths().size());
  EXPECT_EQ(ClJobStartMsg::kInt32, msg.findOption("/a")->kind);
}

TEST(TapeInfoTest, MissingArgumentIsEnoentAndLeavesValue) {
  ClTapeInfoMsg msg("T", "D");
  std::string value = "unchanged";
  CWqError result = msg.getArgument(ClTapeInfoMsg::keyInitTape, value);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOENT));
  EXPECT_EQ("unchanged", value);
  msg.setArgument(ClTapeInfoMsg::keyInitTape, "0");
  msg.setArgument(ClTapeInfoMsg::keyInitTape, "1");
  EXPECT_FALSE(msg.getArgument(ClTapeInfoMsg::keyInitTape, value).IsError());
  EXPECT_EQ("1", value);
}

TEST(ScanResultTest, PhaseStatusMapsUnknownWordsToFailed) {
  for (uint32_t word : {0u, 1u, 2u, 3u, 4u, 7u, 0xFFFFFFFFu}) {
    ClScanResultMsg msg(word, 0, {}, 0, 0);
    int expected = (word >= 1 && word <= 3) ? static_cast<int>(word) : 2;
    EXPECT_EQ(expected, msg.getPhaseStatus()) << word;
  }
}

TEST(EventMsgTest, AsErrorCarriesIdAndArguments) {
  ClEventMsg msg(0x0600000Au, 3, 0, {"a", "b"});
  CWqError error = msg.asError();
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(error, 0x0600000Au));
  ASSERT_EQ(2u, error.GetParameters().size());
  EXPECT_EQ("b", boost::any_cast<std::string>(error.GetParameters()[1]));
}

}  // namespace

namespace {

// Records what reaches the process-wide event sender.
class RecordingSender : public ISendEventInterface {
 public:
  void SendEvent(const CWqError& error, int severity, long long, int value) override {
    calls.push_back("event");
    lastError = error;
    lastSeverity = severity;
    lastValue = value;
  }
  void SendInfoEvent(const CWqError&, long long, int) override { calls.push_back("info"); }
  void SendMinorEvent(const CWqError&, long long, int) override { calls.push_back("minor"); }
  void SendMajorEvent(const CWqError&, long long, int) override { calls.push_back("major"); }
  void SendCriticalEvent(const CWqError&, long long, int) override { calls.push_back("critical"); }
  void SetPendingCause(const CWqError&, long long) override { calls.push_back("pending"); }
  void SetPendingCauseAndEvent(const CWqError& error, int severity, int value) override {
    calls.push_back("pendingAndEvent");
    lastError = error;
    lastSeverity = severity;
    lastValue = value;
  }
  void SetPendingCauseAndCriticalEvent(const CWqError&, int) override {
    calls.push_back("pendingAndCritical");
  }

  std::vector<std::string> calls;
  CWqError lastError;
  int lastSeverity = 0;
  int lastValue = 0;
};

TEST(EventMsgTest, RaisesThroughTheInstalledSender) {
  boost::shared_ptr<RecordingSender> sender(new RecordingSender);
  ISendEventInterface::SetInstance(sender);
  ClEventMsg msg(0x0600000Bu, 5, 9, {"x"});
  msg.sendEvent();
  msg.sendPendingCauseAndEvent();
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  EXPECT_EQ((std::vector<std::string>{"event", "pendingAndEvent"}), sender->calls);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(sender->lastError, 0x0600000Bu));
  EXPECT_EQ(5, sender->lastSeverity);
  EXPECT_EQ(9, sender->lastValue);
}

TEST(EventMsgTest, WithoutSenderTheEventIsDroppedWithALine) {
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  boost::shared_ptr<FXLogWriter> saved = g_ptrLogWriter;
  boost::shared_ptr<FXLogWriter> log(new FXLogWriter);
  log->SetQuiet(true);
  log->SetCapture(true);
  log->SetLevel(-1);  // only the lines that are always written
  g_ptrLogWriter = log;
  ClEventMsg msg(1, 0, 0, {});
  msg.sendEvent();
  msg.sendPendingCauseAndEvent();
  g_ptrLogWriter = saved;
  EXPECT_TRUE(log->HasCapturedLine("No event sender installed, client event 0x1 dropped"));
  EXPECT_TRUE(log->HasCapturedLine("No event sender installed, client pending event 0x1 dropped"));
}

}  // namespace

namespace {

// The command request keeps every byte it was sent with; the answers come
// back as their type alone.
TEST(MessageFactoryTest, CommandExecutionShapes) {
  ClBlobMsg request(EXECUTE_COMMAND_MSG, ClBlobMsg::Copy, "A \"b\";c", 7);
  Decoded blob = DecodePayload(EXECUTE_COMMAND_MSG, EncodePayload(request));
  ASSERT_FALSE(blob.result.IsError());
  const ClBlobMsg* b = dynamic_cast<ClBlobMsg*>(blob.msg.get());
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(EXECUTE_COMMAND_MSG, b->getMsgType());
  EXPECT_EQ("A \"b\";c", std::string(reinterpret_cast<const char*>(b->getBlob()), b->getBlobSize()));
  for (uint16_t type : {static_cast<uint16_t>(EXECUTE_SUCCESS_MSG), static_cast<uint16_t>(EXECUTE_FAILURE_MSG)}) {
    Decoded answer = DecodePayload(type, {});
    ASSERT_FALSE(answer.result.IsError());
    EXPECT_NE(nullptr, dynamic_cast<ClEmptyMsg*>(answer.msg.get()));
    EXPECT_EQ(type, answer.msg->getMsgType());
  }
}

}  // namespace
