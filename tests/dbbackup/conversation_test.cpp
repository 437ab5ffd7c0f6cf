// The conversation with the database file-backup server: next-file answers
// of every kind, the bound on the conversation, the launch acknowledgement
// and the connect that is never accepted.
#include <sys/socket.h>
#include <unistd.h>

#include "DBBackupTestUtil.h"
#include "FXClock.h"
#include "KxNetFrame.h"
#include "KxXdr.h"

namespace dbtest {
namespace {

// A whole DBFB_FILE_MSG frame whose file name holds `name` as it stands.
std::vector<uint8_t> FileFrameWithName(const std::string& name) {
  std::vector<uint8_t> body;
  KxXdrWriter writer(body);
  writer.PutUint64(kJob);
  writer.PutUint64(1);
  writer.PutString(name.data(), name.size(), 1u << 20);
  writer.PutUint64(0);
  writer.PutUint64(1);
  writer.PutInt32(0);
  writer.PutString("h", 1, 16);
  writer.PutUint64(0);
  std::vector<uint8_t> frame(kKxNetHeaderSize);
  KxNetEncodeHeader(DBFB_FILE_MSG, static_cast<uint32_t>(body.size()), frame.data());
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

struct ConversationCase {
  const char* name;
  std::vector<Answer> script;
  std::string expected;                    // Drive's line
  std::vector<std::string> conversation;   // what the server recorded
  int files;                               // getStats
};

TEST_F(DBBackupTest, NextFileAnswers) {
  const std::string a = scratch.File("a.dat", 3);
  const std::vector<ConversationCase> cases = {
      {"a file", {Answer::File(a, "DB1/a", 7)}, "H:DB1/a@7 D3 E10 S12",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_FILE_MSG:" + a + ":0", "DBFB_NEXT_FILE_REQ_MSG",
        "DBFB_JOB_COMPLETE_MSG"},
       1},
      {"try_again three times, then a name",
       {Answer::TryAgain(), Answer::TryAgain(), Answer::TryAgain(), Answer::File(a, "DB1/a", 1)},
       "H:DB1/a@1 D3 E10 S12",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_NEXT_FILE_REQ_MSG",
        "DBFB_NEXT_FILE_REQ_MSG", "DBFB_FILE_MSG:" + a + ":0", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"},
       1},
      {"no_more_files", {Answer::NoMoreFiles()}, "S12",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"job stop", {Answer::JobStop()}, "S12",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"an answer of another type", {Answer::OtherType(DBFB_JOB_COMPLETE_MSG)}, "X71",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"an answer of an unknown type", {Answer::OtherType(0x12000099)}, "X71",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"a dropped link", {Answer::Drop()}, "X107", {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG"}, 0},
      {"a file record with a NUL inside its name",
       {Answer::Raw(FileFrameWithName(std::string("a\0b", 3)))},
       "X71", {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"a file name above the bound", {Answer::Raw(FileFrameWithName(std::string(4097, 'n')))}, "X71",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG", "DBFB_JOB_COMPLETE_MSG"}, 0},
      {"a frame above the limit", {Answer::Raw({0x12, 0x00, 0x00, 0x2e, 0x7f, 0xff, 0xff, 0xff})}, "X71",
       {"DBFB_JOB_START_MSG", "DBFB_NEXT_FILE_REQ_MSG"}, 0},
  };
  for (const ConversationCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimDBFileBackupServer one;
    server.Stop();
    std::unique_ptr<TestDBBackup> phase;
    {
      one.SetScript(c.script);
      ASSERT_FALSE(one.Start().IsError());
      phase.reset(new TestDBBackup);
      CWqError result = phase->init(kVellicon, kApp, kClient, kJob, 1, -5, "ignored", 0);
      ASSERT_FALSE(result.IsError()) << result.AsString();
    }
    EXPECT_FALSE(phase->sendJobStart().IsError());
    EXPECT_EQ(c.expected, Drive(*phase));
    EXPECT_FALSE(phase->sendJobComplete().IsError());
    unsigned int files = 0, failed = 0;
    unsigned long bytes = 0;
    phase->getStats(files, failed, bytes);
    EXPECT_EQ(static_cast<unsigned>(c.files), files);
    phase.reset();
    EXPECT_TRUE(one.WaitForEnd(10));
    EXPECT_EQ(c.conversation, Conversation(one.Received()));
  }
}

TEST_F(DBBackupTest, TryAgainPausesOnThePlatformClock) {
  const std::string a = scratch.File("a.dat", 1);
  std::unique_ptr<TestDBBackup> phase =
      Connected({Answer::TryAgain(), Answer::TryAgain(), Answer::TryAgain(), Answer::File(a, "DB1/a", 1)});
  ASSERT_TRUE(phase);
  FXScopedVirtualClock clock;
  EXPECT_FALSE(phase->recvNextFile().IsError());
  EXPECT_EQ(std::vector<int64_t>({30, 30, 30}), clock.clock().Sleeps());
}

TEST_F(DBBackupTest, ErrorsOfALostServerNameItAndAreNotTheEndOfTheFiles) {
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::Drop()});
  ASSERT_TRUE(phase);
  CWqError result = phase->recvNextFile();
  ASSERT_TRUE(FXErrorUtil::IsErrNo(result));
  EXPECT_FALSE(FXErrorUtil::IsInt(result, RECV_STATUS_NO_MORE_FILES));
  EXPECT_NE(std::string::npos, result.AsString().find("Lost the database file-backup server")) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("KX_COMMANDID_ORAARCHIVE_BACKUP on localhost"))
      << result.AsString();
  // The next request cannot be sent: it fails at once, without a wait.
  result = phase->recvNextFile();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result)) << result.AsString();
}

TEST_F(DBBackupTest, SilencePastTheLimitEndsTheWait) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::Silence()});
  ASSERT_TRUE(phase);
  CWqError result = phase->recvNextFile();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
}

TEST_F(DBBackupTest, NextFileLimitOfZeroWaitsWithoutLimit) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 0);
  const std::string a = scratch.File("a", 3);
  const std::string b = scratch.File("b", 2);
  std::unique_ptr<TestDBBackup> phase =
      Connected({Answer::File(a, "DB/a", 1), Answer::Late(Answer::File(b, "DB/b", 2), 300)});
  ASSERT_TRUE(phase);
  EXPECT_EQ("H:DB/a@1 D3 E10 H:DB/b@2 D2 E10 S12", Drive(*phase));
}

// An answer that comes after its wait ran out must not be taken for the
// answer to the next request: the link goes with the failure.
TEST_F(DBBackupTest, LateAnswerIsNeverPairedWithTheNextRequest) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  const std::string a = scratch.File("a", 3);
  const std::string b = scratch.File("b", 2);
  std::unique_ptr<TestDBBackup> phase =
      Connected({Answer::Late(Answer::File(a, "DB/a", 1), 10000), Answer::File(b, "DB/b", 2)});
  ASSERT_TRUE(phase);
  CWqError result = phase->recvNextFile();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  result = phase->recvNextFile();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result)) << result.AsString();
  EXPECT_NE(a, phase->getFileName());
}

TEST_F(DBBackupTest, TryAgainRoundsStopAtTheLimit) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 1);
  std::vector<Answer> script(200, Answer::TryAgain());
  std::unique_ptr<TestDBBackup> phase = Connected(script);
  ASSERT_TRUE(phase);
  FXScopedVirtualClock clock;
  CWqError result = phase->recvNextFile();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  // 1 second of 30 ms pauses, then the next answer ends it.
  EXPECT_EQ(34u, clock.clock().Sleeps().size());
}

TEST_F(DBBackupTest, LaunchAcknowledgement) {
  ASSERT_FALSE(server.Start().IsError());
  SimDBFileBackupServer::LaunchRecord launch = server.Launch(&DBProxyBackup::ReplyToDBFileBackupSvrRequest);
  EXPECT_EQ(0, launch.result);
  EXPECT_TRUE(launch.acknowledged);
  EXPECT_EQ(static_cast<uint64_t>(::getpid()), launch.processId);
  EXPECT_TRUE(launch.disconnected);
  EXPECT_TRUE(log.Has("launchSession->attachBackToRequester success"));

  char program[] = "dbhost";
  char* argv[] = {program, nullptr};
  EXPECT_EQ(-1, DBProxyBackup::ReplyToDBFileBackupSvrRequest(1, argv));
  EXPECT_TRUE(log.Has("failed to attachBackToRequester. Error:["));
}

TEST_F(DBBackupTest, AttachWithAWarningCountsAsEstablished) {
  server.SetAttachStatus(3);
  std::unique_ptr<TestDBBackup> phase = Connected({Answer::NoMoreFiles()});
  ASSERT_TRUE(phase);
  EXPECT_TRUE(phase->Session() != nullptr);
  EXPECT_EQ(RECV_STATUS_NO_MORE_FILES, StatusOf(phase->recvNextFile()));
  EXPECT_EQ(1, server.Attaches());
}

TEST_F(DBBackupTest, ConnectNeverAcceptedGivesUpAfterTheDeadline) {
  // A registered port where nobody listens: every attach is refused.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
  ASSERT_EQ(0, ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length));
  ASSERT_EQ(0, CKxNetwork::RegisterService("localhost", DBProxyBackup::kServiceName, ntohs(address.sin_port)));

  FXScopedVirtualClock clock;
  TestDBBackup phase;
  CWqError result = phase.init(kVellicon, kApp, kClient, kJob, 1, -5, "ignored", 0);
  ::close(fd);
  EXPECT_TRUE(FXErrorUtil::IsInt(result, -1)) << result.AsString();
  EXPECT_EQ(std::vector<int64_t>(100, 1800), clock.clock().Sleeps());
  EXPECT_EQ(100u, log.Count("Connecting to Control Proc with hostname = localhost*ibmi1"));
  EXPECT_TRUE(log.Has("connection with Control Proc failed(180 secs) for stream=0."));
  EXPECT_TRUE(log.Has("FAILED TO CONNECT TO DBSessionServer"));
  EXPECT_TRUE(phase.Session() == nullptr);
  // Nothing that needs the server reaches for the missing connection.
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.recvNextFile(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.sendJobStart(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.sendSuspendJob(), ENOTCONN));
  char* buf = nullptr;
  uint32_t size = 0;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.recvData(buf, size), ENOTCONN));
}

TEST_F(DBBackupTest, ServiceNameFitsItsBuffer) {
  EXPECT_EQ(30u, std::string(DBProxyBackup::kServiceName).size());
  EXPECT_EQ(std::string("KX_COMMANDID_") + "ORAARCHIVE_BACKUP", DBProxyBackup::kServiceName);
}

}  // namespace
}  // namespace dbtest
