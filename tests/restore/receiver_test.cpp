// The receiver thread against "RST.EXE": each report of the client, held
// and released at the loop's test seam, its start and stop, and events.
#include <sys/socket.h>

#include <string>
#include <future>
#include <thread>
#include <vector>

#include "RestoreTestUtil.h"
#include "SimFrames.h"
#include "SimPeer.h"

namespace restoretest {
namespace {

using SimRestoreProgram::StatusEntry;

SimRestoreProgram::Options Ending() {
  SimRestoreProgram::Options options;
  options.answerJobComplete = true;
  return options;
}

class ReceiverTest : public RestoreTest {
 protected:
  std::unique_ptr<TestRestore> StartedWithSeam(const SimScript& stream) {
    prepare = [this](TestRestore& restore) { restore.setReceiverTestSeam(gate.Seam()); };
    return Started(SimRestoreProgram::Scripted(stream, Ending()));
  }
  SeamGate gate;
};

TEST_F(ReceiverTest, EveryReportOfTheClient) {
  SimScript stream;
  stream.Reply(SimRestoreProgram::ItemStatus({{"/a", "", 5, 1}, {"/b", "gone", 3, 2}}))
      .Reply(SimRestoreProgram::DataNotNeeded("/c"))
      .Reply(SimRestoreProgram::FailedFile("/d", 12, "no room"))
      .Reply(SimRestoreProgram::Event(0x17000123, {"arg1"}))
      .Reply(SimRestoreProgram::Empty(SERVICE_CHECK_MSG))
      .Reply(SimRestoreProgram::Empty(static_cast<ClProxyMsgType>(0x80ee)))
      .SendRaw(SimFrames::Frame(0x0077, {1, 2, 3}))
      .Reply(SimRestoreProgram::Empty(TAPE_CLOSE_MSG))
      .Reply(SimRestoreProgram::Empty(DISK_FULL_MSG))
      .Reply(SimRestoreProgram::Empty(GOOD_EOF_MSG));
  std::unique_ptr<TestRestore> phase = StartedWithSeam(stream);
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  ASSERT_TRUE(gate.WaitMessages(10));
  for (int i = 0; i < 2000 && phase->ThreadRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(phase->ThreadRunning());  // ended by GOOD_EOF_MSG
  EXPECT_FALSE(phase->ReceiverFailed());
  EXPECT_TRUE(phase->DiskFull());
  EXPECT_EQ(4u, phase->StatusCount());
  EXPECT_TRUE(log.Has("Unexpected message from client type=0x80EE"));
  EXPECT_TRUE(log.Has("Unexpected message from client type=0x77"));
  EXPECT_TRUE(log.Has("client finished processing current offsets"));
  // The event went through the host's sender, for this job.
  bool raised = false;
  for (const EventJournalEntry& entry : EventJournal::Instance().Entries())
    if (entry.eventId == 0x17000123 && entry.jobId == static_cast<long long>(kJob)) raised = true;
  EXPECT_TRUE(raised) << EventJournal::Instance().FormatAll();
  // No new thread for a later start; the exchange still ends, and the full
  // disk the receiver saw is the result.
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  CWqError result = phase->sendJobComplete();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOSPC)) << result.AsString();
  std::string name, message;
  uint32_t status = 0;
  uint64_t value = 0;
  std::vector<std::string> names;
  while (!phase->getFileRestoreStatusInfo(name, status, message, value).IsError()) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"/a", "/b", "/d"}), names);
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(1u, Count(record, JOB_COMPLETE_MSG));
}

TEST_F(ReceiverTest, EventsWithoutAHostSenderUseThisJob) {
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  std::unique_ptr<TestRestore> phase = StartedWithSeam(SimScript().Reply(SimRestoreProgram::Event(0x17000777)));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  ASSERT_TRUE(gate.WaitMessages(1));
  EXPECT_FALSE(ISendEventInterface::GetInstance());  // nothing installed
  bool raised = false;
  for (const EventJournalEntry& entry : EventJournal::Instance().Entries())
    if (entry.eventId == 0x17000777) raised = entry.jobId == static_cast<long long>(kJob);
  EXPECT_TRUE(raised) << EventJournal::Instance().FormatAll();
  EXPECT_FALSE(phase->sendJobComplete().IsError());
}

TEST_F(ReceiverTest, StopAndMessageInOnePass) {
  // The program sends its report once the test says so.
  std::promise<void> go;
  std::shared_future<void> goSignal = go.get_future().share();
  SimScript stream;
  stream.Call([goSignal](SimPeer& peer) {
    goSignal.wait();
    return peer.Send(*SimRestoreProgram::ItemStatus({{"/late", "", 7, 0}}));
  });
  std::unique_ptr<TestRestore> phase = StartedWithSeam(stream);
  ASSERT_TRUE(phase);
  gate.Arm();
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  ASSERT_TRUE(gate.WaitHeld());
  go.set_value();
  ASSERT_TRUE(WaitReadable(phase->ProgramLink()->getConnectionSocket().GetSocketDescriptor()));
  const char stop = '1';
  ASSERT_EQ(1, ::write(phase->StopWriteEnd(), &stop, 1));
  gate.Release();
  ASSERT_TRUE(gate.WaitMessages(1));
  for (int i = 0; i < 2000 && phase->ThreadRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(phase->ThreadRunning());
  EXPECT_TRUE(log.Has("thread stop signaled"));
  EXPECT_EQ(1u, phase->StatusCount());
  EXPECT_FALSE(phase->sendJobComplete().IsError());
  EXPECT_FALSE(phase->HasThread());
}

TEST_F(ReceiverTest, StopWithTheClientMidFrame) {
  const std::vector<uint8_t> frame =
      SimFrames::Frame(ITEM_STATUS_MSG, SimRestoreProgram::ItemStatusBytes({{"/half", "", 5, 0}}));
  std::unique_ptr<TestRestore> phase =
      StartedWithSeam(SimScript().SendRaw(SimFrames::Slice(frame, 0, frame.size() - 4)).Silent(-1));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  // The loop took what had arrived and went back to its wait.
  ASSERT_TRUE(gate.WaitWaits(2));
  EXPECT_FALSE(phase->stopReceiverThread().IsError());
  EXPECT_FALSE(phase->HasThread());
  EXPECT_FALSE(phase->ReceiverFailed());
  EXPECT_EQ(0u, phase->StatusCount());
}

TEST_F(ReceiverTest, StartThenStopAtOnce) {
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript(), Ending()));
  ASSERT_TRUE(phase);
  for (int i = 0; i < 200; ++i) {
    ASSERT_FALSE(phase->startReceiverThread().IsError());
    ASSERT_FALSE(phase->stopReceiverThread().IsError());
    ASSERT_FALSE(phase->HasThread());
    ASSERT_EQ(-1, phase->StopWriteEnd());
  }
  EXPECT_FALSE(phase->stopReceiverThread().IsError());  // nothing to stop
  EXPECT_FALSE(phase->sendJobComplete().IsError());
}

TEST_F(ReceiverTest, FailedStartIsTriedAgain) {
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript(), Ending()));
  ASSERT_TRUE(phase);
  KXThread::FailNextStarts(1);
  CWqError result = phase->startReceiverThread();
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Failed create receiver thread:"));
  EXPECT_FALSE(phase->HasThread());
  EXPECT_EQ(-1, phase->StopReadEnd());
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  EXPECT_TRUE(phase->HasThread());
  EXPECT_FALSE(phase->sendJobComplete().IsError());
}

TEST_F(ReceiverTest, LinkFailuresFailTheNextSend) {
  struct Row {
    const char* name;
    SimScript stream;
    int error;
  };
  std::vector<uint8_t> cut = SimRestoreProgram::ItemStatusBytes({{"/f", "", 5, 0}, {"/g", "", 5, 0}});
  cut.resize(cut.size() - 2);
  std::vector<Row> rows;
  rows.push_back({"closed", SimScript().Close(), ENOTCONN});
  rows.push_back({"reset", SimScript().Reset(), ECONNRESET});
  rows.push_back({"bad frame", SimScript().SendRaw(SimFrames::Header(ITEM_STATUS_MSG, 4, 0x12345678)), EPROTO});
  rows.push_back({"status entry cut", SimScript().Reply(SimRestoreProgram::Blob(ITEM_STATUS_MSG, cut)), EPROTO});
  // A failed-file report that does not decode would otherwise lose a failure.
  rows.push_back({"failed file undecodable", SimScript().SendRaw(SimFrames::Frame(FAILED_FILE_MSG, {1, 2, 3})), EPROTO});
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    SeamGate local;
    prepare = [&local](TestRestore& restore) { restore.setReceiverTestSeam(local.Seam()); };
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(row.stream, Ending()));
    ASSERT_TRUE(phase);
    phase->SetCurrentFile("/f");
    ASSERT_FALSE(phase->startReceiverThread().IsError());
    for (int i = 0; i < 2000 && !phase->ReceiverFailed(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(phase->ReceiverFailed());
    for (int i = 0; i < 2; ++i) {
      CWqError verdict = phase->getMyFileStatus();
      EXPECT_TRUE(FXErrorUtil::IsErrNo(verdict, row.error)) << verdict.AsString();
      // Each verdict carries a chain of its own: one frame more than the
      // receiver's error, never more.
      EXPECT_EQ(verdict.GetFrames().size(), phase->getMyFileStatus().GetFrames().size());
    }
    if (std::string(row.name) == "status entry cut") {
      EXPECT_EQ(1u, phase->StatusCount());  // the whole entry before the cut
    }
    // The exchange ends, but never as a good restore; where the link is
    // still there, the client's end is read and the receiver's error comes
    // back.
    CWqError end = phase->sendJobComplete();
    EXPECT_TRUE(end.IsError());
    if (row.error == EPROTO) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(end, EPROTO)) << end.AsString();
    }
    phase.reset();
  }
}

TEST_F(ReceiverTest, DestroyingWithTheThreadRunning) {
  std::unique_ptr<TestRestore> phase = StartedWithSeam(SimScript().Silent(-1));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->startReceiverThread().IsError());
  ASSERT_TRUE(gate.WaitWaits(1));
  EXPECT_FALSE(log.Has("Receiver thread finished for proxy connection."));
  phase.reset();
  // The thread was stopped and had ended before the destructor returned:
  // its last line is there.
  EXPECT_TRUE(log.Has("thread stop signaled"));
  EXPECT_TRUE(log.Has("Receiver thread finished for proxy connection."));
}

}  // namespace
}  // namespace restoretest
