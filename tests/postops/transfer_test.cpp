// The backed-up files list end to end over loopback: the phase sends
// "BackedUpFiles.kxf" to the simulated "PST.EXE", which checks the header,
// the blocks and the end marker and keeps the bytes. Sizes around the block
// size, a missing list, a read that fails part way and a link reset in the
// middle of the transfer.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstring>
#include <ostream>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"
#include "PostOpsTestUtil.h"
#include "ProxyEventIds.h"
#include "SimPeer.h"

using namespace postopstest;
using coretest::Texts;

namespace {

const size_t kBlock = 65536;

struct SizeCase {
  const char* name;
  size_t size;
  const char* dirEnd;  // appended to the folder the host names
  std::vector<uint32_t> blocks;
};

// Test names show the case's name, not its bytes.
void PrintTo(const SizeCase& c, std::ostream* out) { *out << c.name; }

class TransferSizeTest : public PostOpsTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TransferSizeTest, WholeListInBlocksOfAtMost65536ThenGoodEof) {
  const SizeCase& c = GetParam();
  const std::vector<uint8_t> content = Pattern(c.size);
  ASSERT_TRUE(list.Write(content));
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  ASSERT_NO_FATAL_FAILURE(Start(*phase));
  EXPECT_EQ("PST.EXE", phase->ClientProgram());

  CWqError result = phase->sendVMSBackedUpFilesList(list.path() + c.dirEnd);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(log.Has("file transfered eof:1 good:0"));
  result = phase->sendJobComplete();
  ASSERT_FALSE(result.IsError()) << result.AsString();

  SimConnectionRecord record;
  SimPostOpsProgram::Result got = Finish(phase, &record);
  EXPECT_EQ("", got.fault);
  ASSERT_EQ(1u, got.transfers.size());
  const SimPostOpsProgram::Transfer& transfer = got.transfers[0];
  EXPECT_EQ(list.ListPath(), transfer.path);
  EXPECT_EQ(c.blocks, transfer.blockSizes);
  EXPECT_TRUE(content == transfer.data) << "the bytes differ";
  EXPECT_EQ(SimPostOpsProgram::kGoodEof, transfer.end);
  EXPECT_TRUE(got.jobComplete);

  // On the wire: the job start, the header (path and NUL), the blocks, the
  // end marker and the job complete; nothing else.
  std::vector<ClProxyMsgType> expected{JOB_START_MSG, FILE_HEADER_MSG};
  expected.insert(expected.end(), c.blocks.size(), FILE_DATA_MSG);
  expected.push_back(GOOD_EOF_MSG);
  expected.push_back(JOB_COMPLETE_MSG);
  EXPECT_EQ(expected, Types(record));
  const ClBlobMsg* header = dynamic_cast<const ClBlobMsg*>(record.received.at(1).get());
  ASSERT_NE(nullptr, header);
  EXPECT_EQ(list.ListPath().size() + 1, header->getBlobSize());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TransferSizeTest,
    ::testing::Values(SizeCase{"Empty", 0, "", {}}, SizeCase{"OneByte", 1, "/", {1}},
                      SizeCase{"ExactlyOneBlock", kBlock, "", {65536}},
                      SizeCase{"OneByteMore", kBlock + 1, "/", {65536, 1}},
                      SizeCase{"SeveralBlocks", 3 * kBlock + 100, "", {65536, 65536, 65536, 100}}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST_F(PostOpsTest, MissingListFailsAndSendsNothing) {
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  ASSERT_NO_FATAL_FAILURE(Start(*phase));
  CWqError result = phase->sendVMSBackedUpFilesList(list.path());
  ASSERT_TRUE(result.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("failed to open the PostOps file")) << Texts(result);
  EXPECT_NE(std::string::npos, Texts(result).find(list.ListPath())) << Texts(result);
  ASSERT_FALSE(phase->sendJobComplete().IsError());

  SimConnectionRecord record;
  SimPostOpsProgram::Result got = Finish(phase, &record);
  EXPECT_EQ("", got.fault);
  EXPECT_TRUE(got.transfers.empty());
  EXPECT_EQ((std::vector<ClProxyMsgType>{JOB_START_MSG, JOB_COMPLETE_MSG}), Types(record));
}

// The list is a FIFO: the phase reads what the test fed, then its next read
// fails for real (EAGAIN: its descriptor was made non-blocking, and a read
// already waiting is interrupted so that it tries again and fails).
TEST_F(PostOpsTest, ReadFailurePartWaySendsBadEofAndFailsTheCall) {
  ScopedInterruptSignal interrupt;
  ASSERT_TRUE(interrupt.Installed());
  ASSERT_TRUE(list.MakeFifo(1 << 18));
  const std::vector<uint8_t> fed = Pattern(kBlock + 1000);
  ASSERT_TRUE(list.Feed(fed));
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  ASSERT_NO_FATAL_FAILURE(Start(*phase));

  const pthread_t caller = pthread_self();
  std::atomic<int> broken{0};  // 1: the read was broken; -1: it could not be
  program->SetBlockHook([&](SimPeer&, size_t, uint64_t bytes) {
    if (bytes < fed.size()) return true;
    const int reader = list.FindReaderDescriptor();
    const int flags = reader >= 0 ? fcntl(reader, F_GETFL) : -1;
    if (flags < 0 || fcntl(reader, F_SETFL, flags | O_NONBLOCK) != 0) {
      broken = -1;
      list.CloseFifo();  // the phase then sees the end of the file instead of waiting
      return true;
    }
    broken = 1;
    ScopedInterruptSignal::Interrupt(caller);
    return true;
  });

  CWqError result = phase->sendVMSBackedUpFilesList(list.path());
  ASSERT_EQ(1, broken.load());
  ASSERT_TRUE(result.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("failed to read the PostOps file")) << Texts(result);
  EXPECT_NE(std::string::npos, Texts(result).find(std::strerror(EAGAIN))) << Texts(result);
  EXPECT_TRUE(log.Has("failure while transferring file eof:0 good:0"));
  EXPECT_FALSE(log.Has("file transfered"));
  // The link is intact: the phase goes on to its end.
  ASSERT_FALSE(phase->sendJobComplete().IsError());

  SimPostOpsProgram::Result got = Finish(phase);
  EXPECT_EQ("", got.fault);
  ASSERT_EQ(1u, got.transfers.size());
  const SimPostOpsProgram::Transfer& transfer = got.transfers[0];
  EXPECT_EQ((std::vector<uint32_t>{65536, 1000}), transfer.blockSizes);
  EXPECT_TRUE(fed == transfer.data) << "the bytes differ";
  EXPECT_EQ(SimPostOpsProgram::kBadEof, transfer.end);
  EXPECT_EQ("failed to send PostOps file", transfer.badEofText);
  EXPECT_TRUE(got.jobComplete);
}

// The client resets the link after the first bytes; once the phase's end has
// taken the reset, the test gives the phase more to send. That send fails
// and the call ends without another message.
TEST_F(PostOpsTest, LinkResetInTheMiddleFailsTheCall) {
  ASSERT_TRUE(list.MakeFifo(1 << 18));
  const std::vector<uint8_t> fed = Pattern(kBlock + 4464);
  ASSERT_TRUE(list.Feed(fed));
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  ASSERT_NO_FATAL_FAILURE(Start(*phase));
  const int socket = phase->ProgramLink()->getConnectionSocket().GetSocketDescriptor();

  std::atomic<bool> resetTaken{false};
  program->SetBlockHook([&](SimPeer& peer, size_t, uint64_t bytes) {
    if (bytes < fed.size()) return true;
    peer.Abort();
    pollfd link;
    link.fd = socket;
    link.events = 0;  // the reset shows as an error or a hang-up
    link.revents = 0;
    for (int tries = 0; tries < 100 && !(link.revents & (POLLERR | POLLHUP)); ++tries) poll(&link, 1, 100);
    resetTaken = (link.revents & (POLLERR | POLLHUP)) != 0;
    EXPECT_TRUE(list.Feed(Pattern(5000)));
    return false;
  });

  CWqError result = phase->sendVMSBackedUpFilesList(list.path());
  ASSERT_TRUE(resetTaken.load());
  ASSERT_TRUE(result.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OPERATION_FAILED)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("message send failed")) << Texts(result);
  // The send's own failure is in the log.
  EXPECT_TRUE(log.Has("message type 0x400a"));
  EXPECT_FALSE(log.Has("file transfered"));
  EXPECT_FALSE(log.Has("failure while transferring"));

  SimPostOpsProgram::Result got = Finish(phase);
  EXPECT_EQ("", got.fault);
  ASSERT_EQ(1u, got.transfers.size());
  EXPECT_EQ((std::vector<uint32_t>{65536, 4464}), got.transfers[0].blockSizes);
  EXPECT_EQ(SimPostOpsProgram::kNoEnd, got.transfers[0].end);
  EXPECT_FALSE(got.jobComplete);
}

}  // namespace
