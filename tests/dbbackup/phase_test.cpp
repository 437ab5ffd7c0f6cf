// The phase object's entry points: results a host sees, what the server
// records, and the operations this phase cannot serve.
#include "DBBackupTestUtil.h"

namespace dbtest {
namespace {

TEST_F(DBBackupTest, StatsAndRecordsOfAJob) {
  std::vector<Answer> script;
  uint64_t sum = 0;
  for (int i = 0; i < 5; ++i) {
    const size_t size = 1000 * (i + 1);
    const std::string path = i == 2 ? scratch.Path("gone") : scratch.File("f" + std::to_string(i), size);
    if (i != 2) sum += size;
    script.push_back(Answer::File(path, "DB/f" + std::to_string(i), 100 + i));
  }
  std::unique_ptr<TestDBBackup> phase = Connected(script);
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->sendJobStart().IsError());
  EXPECT_EQ("H:DB/f0@100 D1000 E10 H:DB/f1@101 D2000 E10 F8:2 H:DB/f3@103 D2048 D1952 E10 "
            "H:DB/f4@104 D2048 D2048 D904 E10 S12",
            Drive(*phase));
  unsigned int files = 0, failed = 0;
  unsigned long bytes = 0;
  ASSERT_FALSE(phase->getStats(files, failed, bytes).IsError());
  EXPECT_EQ(5u, files);
  EXPECT_EQ(1u, failed);
  EXPECT_EQ(sum, bytes);
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  const std::vector<Message> messages = Finish(phase);
  std::vector<std::string> statuses;
  for (const Message& m : messages) {
    EXPECT_EQ(kJob, m.jobId);
    if (m.type == DBFB_FILE_MSG) {
      statuses.push_back(m.fileName.substr(scratch.path().size() + 1) + ":" + std::to_string(m.phase));
      EXPECT_EQ(1u, m.files);
      EXPECT_EQ(0u, m.bytes);  // each file was read to its end or failed
      EXPECT_EQ(static_cast<uint64_t>(::getpid()), m.threadId);
    }
  }
  EXPECT_EQ(std::vector<std::string>({"f0:0", "f1:0", "gone:1", "f3:0", "f4:0"}), statuses);
}

TEST_F(DBBackupTest, ReadErrorIsBadEofReportedOnce) {
  // A regular file whose read fails: the process's own memory at address 0.
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::File("/proc/self/mem", "DB/mem", 1)});
  ASSERT_TRUE(phase);
  EXPECT_EQ("H:DB/mem@1 E11 S12", Drive(*phase));
  unsigned int files = 0, failed = 0;
  unsigned long bytes = 0;
  phase->getStats(files, failed, bytes);
  EXPECT_EQ(1u, failed);
  EXPECT_EQ(std::vector<std::string>({"DBFB_NEXT_FILE_REQ_MSG", "DBFB_FILE_MSG:/proc/self/mem:1",
                                      "DBFB_NEXT_FILE_REQ_MSG"}),
            Conversation(Finish(phase)));
}

TEST_F(DBBackupTest, HeaderTextTooLongForTheHeaderFailsTheFileOnce) {
  const std::string a = scratch.File("a", 10);
  const std::string b = scratch.File("b", 1);
  std::unique_ptr<TestDBBackup> phase =
      Connected({Answer::File(a, std::string(CXFileHeader::kNameCapacity, 'h'), 1), Answer::File(b, "DB/b", 2)});
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->recvNextFile().IsError());
  std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
  std::memset(cx->name, 'q', sizeof cx->name);
  CWqError result = phase->getCxHeader(*cx);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENAMETOOLONG)) << result.AsString();
  EXPECT_EQ('q', cx->name[0]);  // nothing written
  std::string name, text;
  int error = 0;
  ASSERT_FALSE(phase->getFailedFile(name, error, text).IsError());
  EXPECT_EQ(a, name);
  EXPECT_EQ(ENAMETOOLONG, error);
  EXPECT_NE(std::string::npos, text.find("does not fit the header")) << text;
  EXPECT_EQ("H:DB/b@2 D1 E10 S12", Drive(*phase));
  unsigned int files = 0, failed = 0;
  unsigned long bytes = 0;
  ASSERT_FALSE(phase->getStats(files, failed, bytes).IsError());
  EXPECT_EQ(2u, files);
  EXPECT_EQ(1u, failed);
  EXPECT_EQ(std::vector<std::string>({"DBFB_NEXT_FILE_REQ_MSG", "DBFB_FILE_MSG:" + a + ":1", "DBFB_NEXT_FILE_REQ_MSG",
                                      "DBFB_FILE_MSG:" + b + ":0", "DBFB_NEXT_FILE_REQ_MSG"}),
            Conversation(Finish(phase)));
}

TEST_F(DBBackupTest, HeaderCarriesTheServersNameAndSequenceNumber) {
  const std::string a = scratch.File("a", 10);
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::File(a, "DB1/DATA/part01.dat", 0x1234567890ull)});
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->recvNextFile().IsError());
  std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
  ASSERT_FALSE(phase->getCxHeader(*cx).IsError());
  EXPECT_STREQ("DB1/DATA/part01.dat", cx->name);
  EXPECT_EQ(std::string("DB1/DATA/part01.dat").size() + 1, cx->nameLength);
  EXPECT_EQ(0x1234567890ull, cx->offset);
  EXPECT_EQ(10u, cx->size);
  EXPECT_EQ(a, phase->getFileName());
  char* opt = reinterpret_cast<char*>(1);
  unsigned int optSize = 7;
  ASSERT_FALSE(phase->getOptHeader(opt, optSize).IsError());
  EXPECT_EQ(0u, optSize);
  EXPECT_FALSE(phase->isProxyFile(a));
  // The four-argument form serves the blocks too; a delivered block is a
  // success, not ErrorInt(0).
  char* buf = nullptr;
  unsigned int size = 0;
  unsigned int type = 99;
  CWqError result = phase->recvData(buf, size, &type, nullptr);
  EXPECT_FALSE(result.IsError());
  EXPECT_EQ(10u, size);
  EXPECT_EQ(0u, type);
  result = phase->recvData(buf, size, &type, nullptr);
  EXPECT_TRUE(FXErrorUtil::IsInt(result, RECV_STATUS_GOOD_EOF));
  EXPECT_TRUE(buf == nullptr);
}

TEST_F(DBBackupTest, OperationsThisPhaseCannotServe) {
  std::unique_ptr<TestDBBackup> phase = Connected({});
  ASSERT_TRUE(phase);
  int status = 42;
  EXPECT_FALSE(phase->launchClientProcess().IsError());
  EXPECT_FALSE(phase->acceptClientProcessConnection().IsError());
  EXPECT_FALSE(phase->getClientProcessStatus(status).IsError());
  EXPECT_EQ(42, status);
  EXPECT_FALSE(phase->sendSCCollectFile().IsError());
  EXPECT_FALSE(phase->sendSyntheticFullCollectFile("/nonexistent", 1).IsError());
  EXPECT_FALSE(phase->sendCollectFile(static_cast<uint16_t>(1), static_cast<uint64_t>(0)).IsError());
  ProxyBackup& base = *phase;
  _PrePipelineDedupe_Config config{};
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.sendJobStart(true), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.sendCollectFile(1u, 0ul), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.recvReferenceList(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.recvCOBConfigMsg(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.recvPrepipelineDedupeConfigRequest(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.sendPrepipelineDedupeConfigResponse(config), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(base.init(kVellicon, kApp, kClient, kJob, 1, -5, "BKP.EXE", "h", 0), ENOTCONN));
  // The engine sends only the five types it knows.
  EXPECT_EQ(-1, phase->MsgEngineForDBFileBackupClient(DBFB_IGNORED_MSG, false));
  EXPECT_TRUE(log.Has("Network Connectivity Problem: unexpected msgType="));
  // A suspend before any file reports an empty name as failed.
  EXPECT_FALSE(phase->sendSuspendJob().IsError());
  EXPECT_EQ(std::vector<std::string>({"DBFB_FILE_MSG::1"}), Conversation(Finish(phase)));
}

TEST_F(DBBackupTest, DestructionWithoutInitSendsNothing) {
  ASSERT_FALSE(server.Start().IsError());
  { TestDBBackup phase; }
  EXPECT_EQ(0, server.Attaches());
}

}  // namespace
}  // namespace dbtest
