// The service operations end to end against the simulated daemon: each
// answer the client can give, silences, and the state a failed exchange
// leaves for the next request.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClServiceMsgs.h"
#include "ServicesTestUtil.h"

using namespace servicetest;

namespace {

std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }
std::shared_ptr<ClProxyMsg> IndexAnswer(uint32_t command) {
  return std::make_shared<ClCreateIndexFlagMsg>(static_cast<ClCreateIndexFlagMsg::CreateIndexFlagCmd>(command), kVellicon,
                                                kApp);
}

class OperationsTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    folder = MakeScratchFolder("proxy-services-folder-");
    ASSERT_FALSE(folder.empty());
    daemon.SetClientFolder(folder);
    SetTimeout("TIMEOUT_CREATE_FOLDER_REPLY", 1);
    SetTimeout("TIMEOUT_DAEMON_REPLY", 1);
    handle = ProxyServices::instanceForClient(kClient);
    ASSERT_TRUE(handle);
  }
  void TearDown() override {
    handle.reset();
    ServicesTest::TearDown();
    RemoveScratchFolder(folder);
  }
  static bool IsDir(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  size_t Sent(ClProxyMsgType type) const {
    size_t count = 0;
    for (ClProxyMsgType request : daemon.GetRequests())
      if (request == type) ++count;
    return count;
  }

  std::string folder;
  ProxyServicesPtr handle;
};

TEST_F(OperationsTest, Folders) {
  EXPECT_FALSE(handle->createNewFolder("lib1").IsError());
  EXPECT_TRUE(IsDir(folder + "/lib1"));

  // The client's failure keeps EINVAL and the fixed text; its code and text come as a detail.
  CWqError result = handle->createNewFolder("lib1");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("Failed to create directory."));
  EXPECT_NE(std::string::npos, Texts(result).find("The client reported [17]"));
  EXPECT_TRUE(handle->instance()->isConnected());  // a defined answer keeps the link

  daemon.ScriptNext(CREATE_FOLDER_MSG, SimScript().Reply(Empty(CLIENT_ERROR_MSG)));
  EXPECT_TRUE(FXErrorUtil::IsWin32(handle->createNewFolder("lib2"), 1018));
  EXPECT_TRUE(LogCount("Error detected on a client. Check client logs.") >= 1);

  const size_t before = Sent(CREATE_FOLDER_MSG);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(handle->createNewFolder(nullptr), EINVAL));
  EXPECT_TRUE(daemon.WaitForOpenLinks(1, 5));
  EXPECT_EQ(before, Sent(CREATE_FOLDER_MSG));  // nothing sent

  // No answer in time: the link is closed, so a late answer cannot answer the next request.
  daemon.ScriptNext(CREATE_FOLDER_MSG, SimScript().Silent(1500).Reply(Empty(GOOD_EOF_MSG)));
  result = handle->createNewFolder("lib3");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_FALSE(handle->instance()->isConnected());
  EXPECT_TRUE(FXErrorUtil::IsWin32(handle->createNewFolder("lib4"), 2250));
}

TEST_F(OperationsTest, CommitIsSentAndNoAnswerRead) {
  EXPECT_FALSE(handle->commitBackupJob(2, 0x100000001ull, 10, -7).IsError());
  EXPECT_TRUE(Eventually([&] { return Sent(COMMIT_BACKUP_JOB_MSG) == 1; }));
  EXPECT_EQ(std::vector<std::string>{"2,4294967297,10,-7"}, daemon.GetCommits());  // all 64 bits, in order
  EXPECT_TRUE(handle->instance()->isConnected());
  // The next request is answered as its own.
  EXPECT_FALSE(handle->createNewFolder("after-commit").IsError());
}

TEST_F(OperationsTest, TapePreparation) {
  const struct {
    const char* name;
    SimScript answer;
    int errNo;  // 0: success
    const char* text;
    bool connectedAfter;
  } cases[] = {
      {"heartbeats then done",
       SimScript().Reply(Empty(SERVICE_CHECK_MSG)).Reply(Empty(SERVICE_CHECK_MSG)).Reply(Empty(GOOD_EOF_MSG)), 0,
       "Tape [T1] in drive [D1] was cleared.", true},
      {"an unlisted answer is waited past",
       SimScript().Reply(Empty(SERVICE_CHECK_MSG)).Reply(Empty(DISCONNECT_MSG)).Reply(Empty(GOOD_EOF_MSG)), 0,
       "Unexpected message 8007 from client.", true},
      {"the client failed", SimScript().Reply(Empty(SERVICE_CHECK_MSG)).Reply(std::make_shared<ClBadEofMsg>("no tape")),
       EFAULT, "Tape [T1] in drive [D1] failed to be cleared: no tape", true},
      {"silence between heartbeats", SimScript().Reply(Empty(SERVICE_CHECK_MSG)), ETIME,
       "timed out waiting confirmation from client IBM i 5 to clear tape T1 in drive D1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(ReconnectIfClosed(handle));
    g_ptrLogWriter->ClearCapture();
    daemon.ScriptNext(PREPARE_VTL_TAPE_MSG, c.answer);
    CWqError result = handle->prepareVTLTape("D1", "T1");
    if (c.errNo == 0) EXPECT_FALSE(result.IsError()) << result.AsString();
    else EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
    EXPECT_TRUE(LogCount(c.text) >= 1 || Texts(result).find(c.text) != std::string::npos) << Texts(result);
    EXPECT_EQ(c.connectedAfter, handle->instance()->isConnected());
  }
  // What the client was asked: the drive first, then the tape.
  EXPECT_EQ(std::vector<std::string>(4, "D1|T1"), daemon.GetTapePreparations());
}

TEST_F(OperationsTest, TapeRequestTooLongOrDisconnectedSendsNothing) {
  const size_t before = Sent(PREPARE_VTL_TAPE_MSG);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(handle->prepareVTLTape(std::string(200, 'd'), std::string(100, 't')), EINVAL));
  EXPECT_TRUE(handle->instance()->isConnected());
  ASSERT_FALSE(handle->disconnectFromClient().IsError());
  CWqError result = handle->prepareVTLTape("D1", "T1");
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 2250)) << result.AsString();
  EXPECT_EQ(before, Sent(PREPARE_VTL_TAPE_MSG));
}

TEST_F(OperationsTest, CreateIndexFlag) {
  bool required = false;
  ASSERT_FALSE(handle->isCreateIndexRequired(kVellicon, kClient, kApp, 1001, required).IsError());
  EXPECT_TRUE(required);
  ASSERT_FALSE(handle->createIndexComplete(kVellicon, kClient, kApp, 1001).IsError());
  // Other client and job ids: the same request on the wire, the same flag.
  ASSERT_FALSE(handle->isCreateIndexRequired(kVellicon, 99, kApp, 7, required).IsError());
  EXPECT_FALSE(required);
  ASSERT_FALSE(handle->clearCreateIndexFlag(kVellicon, kClient, kApp, 1001).IsError());
  ASSERT_FALSE(handle->isCreateIndexRequired(kVellicon, kClient, kApp, 1001, required).IsError());
  EXPECT_TRUE(required);

  for (uint32_t command : {0u, 1u, 2u, 3u, 4u, 5u}) {
    SCOPED_TRACE(command);
    daemon.ScriptNext(CREATE_INDEX_FLAG_MSG, SimScript().Reply(IndexAnswer(command)));
    required = command != 4;
    ASSERT_FALSE(handle->isCreateIndexRequired(kVellicon, kClient, kApp, 1001, required).IsError());
    EXPECT_EQ(command != 4, required);
  }

  // A failure code 0 is still a failure; the link stays open.
  daemon.ScriptNext(CREATE_INDEX_FLAG_MSG,
                    SimScript().Reply(std::make_shared<ClFailedFileMsg>("", 0, "flag store unavailable")));
  CWqError result = handle->clearCreateIndexFlag(kVellicon, kClient, kApp, 1001);
  EXPECT_TRUE(FXErrorUtil::IsInt(result, 0)) << result.AsString();
  EXPECT_TRUE(handle->instance()->isConnected());

  // A query that is not answered leaves `required` true and closes the link;
  // the next create-index operation reconnects without the installation check.
  daemon.ScriptNext(CREATE_INDEX_FLAG_MSG, SimScript().Silent(1500));
  required = false;
  EXPECT_TRUE(handle->isCreateIndexRequired(kVellicon, kClient, kApp, 1001, required).IsError());
  EXPECT_TRUE(required);
  EXPECT_FALSE(handle->instance()->isConnected());
  const int checks = hooks->checks.load();
  EXPECT_FALSE(handle->createIndexComplete(kVellicon, kClient, kApp, 1001).IsError());
  EXPECT_TRUE(handle->instance()->isConnected());
  EXPECT_EQ(checks, hooks->checks.load());
  EXPECT_EQ(2u, hooks->Ports().size());
}

}  // namespace
