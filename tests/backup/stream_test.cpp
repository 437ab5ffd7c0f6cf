// Reception of the file stream: every status, the header payload forms,
// the buffer rule, pre-pipeline items and retries.
#include <cstring>
#include <functional>

#include "BackupTestUtil.h"
#include "ClPipelineMsgs.h"
#include "ProxyEventIds.h"

namespace backuptest {
namespace {

namespace sim = SimBackupProgram;

std::vector<uint8_t> Bytes(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

// A header message whose payload stops `cut` bytes short.
std::shared_ptr<ClProxyMsg> CutHeader(const ClProxyFileHeader& header, const std::vector<uint8_t>& extra, size_t cut) {
  std::shared_ptr<ClProxyMsg> message = sim::Header(header, extra);
  const ClBlobMsg& whole = static_cast<const ClBlobMsg&>(*message);
  return sim::Blob(FILE_HEADER_MSG, std::vector<uint8_t>(whole.getBlob(), whole.getBlob() + whole.getBlobSize() - cut));
}

struct StreamCase {
  const char* name;
  SimScript stream;
  std::string expected;
  std::function<void(TestBackup&)> check;
  bool vtl = false;
};

class BackupStreamTest : public BackupTest {
 protected:
  std::unique_ptr<TestBackup> StartStream(const SimScript& stream, bool vtl = false) {
    prepare = [vtl](TestBackup& phase) { phase.m_bVTLBackup = vtl; };
    SimBackupProgram::Options options;
    options.sendControlPort = false;
    return Started(sim::Scripted(stream, options), false);
  }
};

TEST_F(BackupStreamTest, StatusesAndMembers) {
  const ClProxyFileHeader a = FileHeader("/data/a", 8);
  const std::vector<StreamCase> cases = {
      {"file with data", SimScript().Reply(sim::Header(a)).Reply(sim::Data(Bytes(3))).Reply(sim::Data(Bytes(5)))
           .Reply(sim::GoodEof()).Reply(sim::Stats(1, 0, 8)),
       "H:/data/a D3 D5 E10 S7",
       [](TestBackup& phase) {
         unsigned int files = 0, failed = 9;
         unsigned long total = 0;
         phase.getStats(files, failed, total);
         EXPECT_EQ(1u, files);
         EXPECT_EQ(0u, failed);
         EXPECT_EQ(8u, total);
       }},
      {"events before a header", SimScript().Reply(sim::Event(0x13000010)).Reply(sim::Event(0x13000011))
           .Reply(sim::Event(0x13000012)).Reply(sim::Header(a)).Reply(sim::GoodEof()).Reply(sim::Stats(1, 0, 0)),
       "H:/data/a E10 S7",
       [](TestBackup&) { EXPECT_EQ(3u, EventJournal::Instance().Entries().size()); }},
      {"failed file instead of a header",
       SimScript().Reply(sim::FailedFile("/data/gone", ENOENT, "No such file")).Reply(sim::Stats(0, 1, 0)),
       "S8 S7",
       [](TestBackup& phase) {
         // The stats came after: the failed-file members were reset by it.
         EXPECT_EQ("", phase.m_sFailedFile);
       }},
      {"bad end of file", SimScript().Reply(sim::Header(a)).Reply(sim::Data(Bytes(3))).Reply(sim::BadEof("disk gone"))
           .Reply(sim::Stats(0, 1, 3)),
       "H:/data/a D3 E11 S7",
       nullptr},
      {"failed file inside the data", SimScript().Reply(sim::Header(a)).Reply(sim::FailedFile("/data/a", 5, "I/O"))
           .Reply(sim::Stats(0, 1, 0)),
       "H:/data/a E8 S7", nullptr},
      {"tape, library and collect events",
       SimScript().Reply(sim::TapeFull("BC0001")).Reply(sim::NewLibrary()).Reply(sim::BadCollect())
           .Reply(sim::TapeInfo("BC0002", "SER9", "KEY1", "QUEUE1")).Reply(sim::Stats(0, 0, 0)),
       "S20 S21 S16 S19 S7",
       [](TestBackup& phase) {
         EXPECT_EQ("BC0002", phase.m_sTapeBarCode);
         EXPECT_EQ("SER9", phase.m_sDriveSerial);
         EXPECT_EQ("KEY1", phase.m_sMessageKey);
         EXPECT_EQ("QUEUE1", phase.m_sMSGQName);
       }},
      {"data where a header belongs", SimScript().Reply(sim::Data(Bytes(3))), "X71", nullptr},
      {"truncated header", SimScript().Reply(CutHeader(a, {}, 1)), "K", nullptr},
      {"silence", SimScript(), "X62", nullptr},
      {"link closed in a file", SimScript().Reply(sim::Header(a)).Close(), "H:/data/a X107", nullptr},
      {"link reset", SimScript().Reset(), "X104", nullptr},
  };
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  coretest::SetTimeout("TIMEOUT_FILE_DATA_RETRIES", 1);
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    EventJournal::Instance().Reset();
    std::unique_ptr<TestBackup> phase = StartStream(c.stream, c.vtl);
    ASSERT_TRUE(phase);
    EXPECT_EQ(c.expected, Drive(*phase));
    if (c.check) c.check(*phase);
  }
}

TEST_F(BackupStreamTest, FailedFileDetails) {
  std::unique_ptr<TestBackup> phase = StartStream(
      SimScript().Reply(sim::FailedFile("/data/gone", ENOENT, "No such file")).Reply(sim::Header(FileHeader("/data/b")))
          .Reply(sim::Data(Bytes(2))).Reply(sim::BadEof("disk gone")));
  ASSERT_TRUE(phase);
  EXPECT_EQ(RECV_STATUS_FAILED_FILE, StatusOf(phase->recvNextFile()));
  std::string name, text;
  int error = 0;
  phase->getFailedFile(name, error, text);
  EXPECT_EQ("/data/gone", name);
  EXPECT_EQ(ENOENT, error);
  EXPECT_EQ("No such file", text);
  EXPECT_EQ("/data/gone", phase->getFileName());  // the name-only header
  EXPECT_TRUE(log.Has("Failed file, fileName=/data/gone, OS errno=2 (No such file)"));

  ASSERT_EQ(0, StatusOf(phase->recvNextFile()));
  CXFileHeader cx;
  ASSERT_FALSE(phase->getCxHeader(cx).IsError());
  char* buf = nullptr;
  unsigned int size = 0;
  EXPECT_EQ(0, StatusOf(phase->recvData(buf, size, nullptr, nullptr)));
  EXPECT_EQ(2u, size);
  // The buffer of the last call is freed by this one (the sanitizers see a leak otherwise).
  EXPECT_EQ(RECV_STATUS_BAD_EOF, StatusOf(phase->recvData(buf, size, nullptr, nullptr)));
  EXPECT_EQ(nullptr, buf);
  EXPECT_EQ(0u, size);
  phase->getFailedFile(name, error, text);
  EXPECT_EQ("/data/b", name);
  EXPECT_EQ(-1, error);
  EXPECT_EQ("disk gone", text);
}

// Two client files whose names differ only after a NUL must not land on one
// archive name: each fails on its own, and the stream goes on.
TEST_F(BackupStreamTest, NamesWithANulFailTheirItemOnly) {
  std::unique_ptr<TestBackup> phase = StartStream(
      SimScript().Reply(sim::Header(FileHeader(std::string("/top/a\0x", 8), 2))).Reply(sim::Data(Bytes(2)))
          .Reply(sim::GoodEof()).Reply(sim::Header(FileHeader(std::string("/top/a\0y", 8), 2)))
          .Reply(sim::Data(Bytes(2))).Reply(sim::GoodEof()).Reply(sim::Header(FileHeader("/top/b", 3)))
          .Reply(sim::Data(Bytes(3))).Reply(sim::GoodEof()).Reply(sim::Stats(3, 0, 7)));
  ASSERT_TRUE(phase);
  std::vector<std::string> lines;
  char* buf = nullptr;
  unsigned int size = 0;
  for (int item = 0; item < 4; ++item) {
    const int status = StatusOf(phase->recvNextFile());
    if (status == RECV_STATUS_COLLECT_DONE) break;
    ASSERT_EQ(0, status);
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    CWqError result = phase->getCxHeader(*cx);
    if (result.IsError()) {
      std::string name, text;
      int error = 0;
      phase->getFailedFile(name, error, text);
      lines.push_back("failed " + name + " " + std::to_string(error));
    } else {
      lines.push_back("archived " + std::string(cx->name) + " " + std::to_string(cx->nameLength));
    }
    ASSERT_FALSE(phase->recvReferenceList().IsError());
    int end = 0;
    while ((end = StatusOf(phase->recvData(buf, size, nullptr, nullptr))) == 0) {
    }
    EXPECT_EQ(RECV_STATUS_GOOD_EOF, end);
  }
  std::free(buf);
  EXPECT_EQ((std::vector<std::string>{"failed /top/a\\0x 22", "failed /top/a\\0y 22", "archived /top/b 7"}), lines);
  EXPECT_TRUE(log.Has("Failed file, fileName=/top/a\\0x, errno=22"));
}

TEST_F(BackupStreamTest, HeaderPayloadForms) {
  struct Case {
    const char* name;
    bool vtl;
    std::vector<uint8_t> extra;
    int32_t barcode, streamCount, streamNumber;
    std::string archive;
    size_t optHeader;
  };
  const std::vector<uint8_t> barcodeOnly = sim::VtlFields(42);
  std::vector<uint8_t> withOpt = sim::VtlFields(42, 3, 0, "ARCH");
  withOpt.insert(withOpt.end(), 10, 0xEE);
  const std::vector<Case> cases = {
      {"plain header with 10 optional bytes", false, std::vector<uint8_t>(10, 0xAB), 0, 0, 0, "", 10},
      {"VTL barcode only", true, barcodeOnly, 42, 1, 1, "", 0},
      {"VTL three streams, number 0", true, sim::VtlFields(42, 3, 0, "A"), 42, 3, 0, "A-1", 0},
      {"VTL one stream", true, sim::VtlFields(42, 1, 5, "A"), 42, 1, 5, "", 0},
      {"VTL largest stream number", true, sim::VtlFields(42, 2, 2147483647, "A"), 42, 2, 2147483647, "A-2147483648", 0},
      {"VTL fields then an optional header", true, withOpt, 42, 3, 0, "ARCH-1", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TestBackup> phase =
        StartStream(SimScript().Reply(sim::Header(FileHeader("/f"), c.extra)), c.vtl);
    ASSERT_TRUE(phase);
    ASSERT_EQ(0, StatusOf(phase->recvNextFile()));
    EXPECT_EQ(c.barcode, phase->m_nBarcode);
    EXPECT_EQ(c.streamCount, phase->m_nStreamCount);
    EXPECT_EQ(c.streamNumber, phase->m_nStreamNumber);
    EXPECT_EQ(c.archive, phase->m_sArchiveObjectName);
    char* opt = nullptr;
    unsigned int optSize = 0;
    phase->getOptHeader(opt, optSize);
    EXPECT_EQ(c.optHeader, optSize);
    if (c.optHeader) EXPECT_EQ(0, std::memcmp(opt, c.extra.data() + c.extra.size() - c.optHeader, c.optHeader));
    else EXPECT_EQ(nullptr, opt);
  }
}

TEST_F(BackupStreamTest, UndecodableVtlFields) {
  const std::vector<std::vector<uint8_t>> extras = {
      {0, 0, 1},                                   // barcode cut
      {0, 0, 0, 1, 0, 0, 0, 2},                    // stream number missing
      {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0},  // archive name cut
  };
  for (const std::vector<uint8_t>& extra : extras) {
    SCOPED_TRACE(extra.size());
    std::unique_ptr<TestBackup> phase = StartStream(SimScript().Reply(sim::Header(FileHeader("/f"), extra)), true);
    ASSERT_TRUE(phase);
    CWqError result = phase->recvNextFile();
    EXPECT_EQ(static_cast<int32_t>(EV_FILE_HEADER_DECODE_FAILED), FXErrorUtil::GetKXResult(result))
        << result.AsString();
  }
}

TEST_F(BackupStreamTest, PrePipelineItems) {
  _PipelineDataHdr header;
  header.uFlags = 3;
  header.uDataSize = 5;
  _PipelineDataHdr lying = header;
  lying.uDataSize = 6;
  _PrePipelineDedupe_Signature signature;
  signature.uUniqueId = 0x01020304;
  signature.carried0[0] = 0x5A;
  std::unique_ptr<TestBackup> phase = StartStream(SimScript()
                                                      .Reply(sim::Header(FileHeader("/f")))
                                                      .Reply(sim::PipelineData(header, Bytes(5)))
                                                      .Reply(sim::Signature(&signature))
                                                      .Reply(sim::PipelineData(lying, Bytes(5)))
                                                      .Reply(sim::Signature(nullptr))
                                                      .Reply(sim::PipelineData(header, Bytes(5))));
  ASSERT_TRUE(phase);
  ASSERT_EQ(0, StatusOf(phase->recvNextFile()));
  char* buf = nullptr;
  unsigned int size = 0, type = 0;
  _PipelineDataHdr got;
  ASSERT_EQ(0, StatusOf(phase->recvData(buf, size, &type, &got)));
  EXPECT_EQ(0x51u, type);
  EXPECT_EQ(5u, size);
  EXPECT_EQ(0, std::memcmp(buf, Bytes(5).data(), 5));
  EXPECT_EQ(3u, got.uFlags);
  EXPECT_EQ(5u, got.uDataSize);

  ASSERT_EQ(0, StatusOf(phase->recvData(buf, size, &type, &got)));
  EXPECT_EQ(0x50u, type);
  EXPECT_EQ(0u, size);
  ASSERT_NE(nullptr, buf);
  EXPECT_EQ(0, std::memcmp(buf, &signature, sizeof signature));

  // The header names 6 bytes, 5 came: nothing is handed out.
  CWqError result = phase->recvData(buf, size, &type, &got);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1359)) << result.AsString();
  EXPECT_EQ(nullptr, buf);
  EXPECT_EQ(0u, size);

  result = phase->recvData(buf, size, &type, &got);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1359)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Invalide data found in  ClPipelineSignatureMsg"));

  result = phase->recvData(buf, size, nullptr, nullptr);
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1359)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Invalid Parameter for messge PROXY_PREPIPELINE_DATA_MSG"));
  std::free(buf);
}

// TIMEOUT_FILE_DATA of 1 second and a block that comes now or after about
// 1.5 s: a late block needs a second attempt; a retry setting of 0 still
// makes one attempt (a negative setting is refused by the settings store
// and the default used, so only 0 reaches the clamp).
TEST_F(BackupStreamTest, FileDataAttempts) {
  const struct {
    const char* name;
    unsigned long attempts;
    int lateMs;
    bool received;
  } cases[] = {
      {"late block, two attempts", 2, 1500, true},
      {"0 attempts are one: the block already there", 0, 0, true},
      {"0 attempts are one: a late block is not waited for twice", 0, 1500, false},
  };
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    coretest::SetNumber("ProxyTimeouts", "TIMEOUT_FILE_DATA_RETRIES", c.attempts);
    SimScript stream = SimScript().Reply(sim::Header(FileHeader("/f")));
    if (c.lateMs) stream.Silent(c.lateMs);
    std::unique_ptr<TestBackup> phase = StartStream(stream.Reply(sim::Data(Bytes(4))));
    ASSERT_TRUE(phase);
    ASSERT_EQ(0, StatusOf(phase->recvNextFile()));
    char* buf = nullptr;
    unsigned int size = 0;
    CWqError result = phase->recvData(buf, size, nullptr, nullptr);
    if (c.received) {
      EXPECT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(4u, size);
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
    }
    std::free(buf);
  }
}

}  // namespace
}  // namespace backuptest
