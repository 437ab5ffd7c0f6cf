// sendJobComplete against "RST.EXE": the end of the exchange and each way
// the wait can end.
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "FXClock.h"
#include "RestoreTestUtil.h"
#include "SimFrames.h"
#include "SimPeer.h"

namespace restoretest {
namespace {

struct CompletionRow {
  const char* name;
  SimScript afterJobComplete;
  int error;  // 0: success
  bool withHandler;
};

TEST_F(RestoreTest, CompletionTable) {
  std::vector<CompletionRow> rows;
  rows.push_back({"clean end", SimScript().Reply(SimRestoreProgram::Empty(GOOD_EOF_MSG)), 0, false});
  rows.push_back({"reports then the end",
                  SimScript()
                      .Reply(SimRestoreProgram::ItemStatus({{"/a", "", 5, 0}}))
                      .Reply(SimRestoreProgram::FailedFile("/b", 3, "t"))
                      .Reply(SimRestoreProgram::DataNotNeeded("/c"))
                      .Reply(SimRestoreProgram::Empty(GOOD_EOF_MSG)),
                  0, false});
  rows.push_back({"tape close, event and next volume, then the end",
                  SimScript()
                      .Reply(SimRestoreProgram::Empty(TAPE_CLOSE_MSG))
                      .Reply(SimRestoreProgram::Event(0x17000124))
                      .Reply(SimRestoreProgram::TapeInfo("VOL9", "DRV"))
                      .Expect(TAPE_INFO_MSG)
                      .Reply(SimRestoreProgram::Empty(GOOD_EOF_MSG)),
                  0, true});
  rows.push_back({"disk full during the wait", SimScript().Reply(SimRestoreProgram::Empty(DISK_FULL_MSG)), ENOSPC,
                  false});
  rows.push_back({"probe from the client", SimScript().Reply(SimRestoreProgram::Empty(SERVICE_CHECK_MSG)), EFAULT,
                  false});
  rows.push_back({"unknown empty type",
                  SimScript().Reply(SimRestoreProgram::Empty(static_cast<ClProxyMsgType>(0x80ee))), EFAULT, false});
  rows.push_back({"unknown typed type", SimScript().SendRaw(SimFrames::Frame(0x0077, {1})), EFAULT, false});
  rows.push_back({"status entry cut",
                  SimScript().Reply(SimRestoreProgram::Blob(ITEM_STATUS_MSG, {0, 0, 0, 9, 'x'})), EPROTO, false});
  rows.push_back({"failed file undecodable", SimScript().SendRaw(SimFrames::Frame(FAILED_FILE_MSG, {1, 2, 3})),
                  EPROTO, false});
  rows.push_back({"link closed", SimScript().Close(), ENOTCONN, false});
  rows.push_back({"link reset", SimScript().Reset(), ECONNRESET, false});
  size_t program = 0;
  for (CompletionRow& row : rows) {
    SCOPED_TRACE(row.name);
    SimScript stream;
    stream.Expect(JOB_COMPLETE_MSG);
    for (const SimStep& step : row.afterJobComplete.Steps()) {
      switch (step.kind) {
        case SimStep::kReply: stream.Reply(step.message); break;
        case SimStep::kExpect: stream.Expect(step.types, step.seconds); break;
        case SimStep::kSendRaw: stream.SendRaw(step.bytes); break;
        case SimStep::kClose: stream.Close(); break;
        case SimStep::kReset: stream.Reset(); break;
        default: break;
      }
    }
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(stream));
    ASSERT_TRUE(phase);
    ScriptedHandler handler;
    if (row.withHandler) phase->registerVTLDataHandler(&handler);
    CWqError result = phase->sendJobComplete();
    if (row.error) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, row.error)) << result.AsString();
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    }
    if (row.withHandler) {
      EXPECT_EQ(1, handler.calls.load());
    }
    SimConnectionRecord record = Finish(phase, program++);
    EXPECT_EQ(1u, Count(record, JOB_COMPLETE_MSG));
  }
}

// The probes go out in real time, the peer being another process: also
// under a virtual clock that nothing moves.
TEST_F(RestoreTest, CompletionProbesAfterEachTimeout) {
  coretest::SetTimeout("TIMEOUT_RESTORE_COMPLETE", 1);
  for (const bool virtualClock : {false, true}) {
    SCOPED_TRACE(virtualClock ? "virtual clock" : "real clock");
    std::unique_ptr<FXScopedVirtualClock> clock(virtualClock ? new FXScopedVirtualClock : nullptr);
    std::unique_ptr<TestRestore> phase =
        Started(SimRestoreProgram::Scripted(SimScript()
                                                .Expect(JOB_COMPLETE_MSG)
                                                .Expect(SERVICE_CHECK_MSG, 10)
                                                .Expect(SERVICE_CHECK_MSG, 10)
                                                .Reply(SimRestoreProgram::Empty(GOOD_EOF_MSG))));
    ASSERT_TRUE(phase);
    std::future<CWqError> completion = std::async(std::launch::async, [&phase] { return phase->sendJobComplete(); });
    if (completion.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "the completion wait did not end";
      EXPECT_FALSE(phase->stopReceiverThread().IsError());
    }
    CWqError result = completion.get();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    SimConnectionRecord record = Finish(phase);
    EXPECT_TRUE(record.failure.GetCode() == 0) << record.failure.AsString();
    EXPECT_EQ(2u, Count(record, SERVICE_CHECK_MSG));
  }
}

TEST_F(RestoreTest, CompletionEndsWhenTheHostStopsIt) {
  // A program that hangs but keeps its link: it reads nothing after the job
  // completion and answers nothing, while the probes go out.
  coretest::SetTimeout("TIMEOUT_RESTORE_COMPLETE", 1);
  std::shared_ptr<std::promise<void>> completingPtr = std::make_shared<std::promise<void>>();
  std::future<void> completing = completingPtr->get_future();
  std::promise<void> released;
  std::shared_future<void> releasedSignal = released.get_future().share();
  SimScript stream;
  stream.Expect(JOB_COMPLETE_MSG).Call([completingPtr, releasedSignal](SimPeer&) {
    completingPtr->set_value();
    releasedSignal.wait_for(std::chrono::seconds(3));  // only a wait that never ends takes this long
    return CWqError::Success();
  });
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(stream));
  ASSERT_TRUE(phase);
  std::future<CWqError> completion = std::async(std::launch::async, [&phase] { return phase->sendJobComplete(); });
  ASSERT_EQ(std::future_status::ready, completing.wait_for(std::chrono::seconds(20)));
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_FALSE(phase->stopReceiverThread().IsError());
  ASSERT_EQ(std::future_status::ready, completion.wait_for(std::chrono::seconds(20)));
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
  released.set_value();
  CWqError result = completion.get();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ECANCELED)) << result.AsString();
  Finish(phase);
}

TEST_F(RestoreTest, CompletionFailedProbe) {
  coretest::SetTimeout("TIMEOUT_RESTORE_COMPLETE", 1);
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript().Silent(-1)));
  ASSERT_TRUE(phase);
  // The proxy's own side can no longer write.
  ASSERT_EQ(0, ::shutdown(phase->ProgramLink()->getConnectionSocket().GetSocketDescriptor(), SHUT_WR));
  CWqError result = phase->sendJobComplete();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPIPE)) << result.AsString();
  EXPECT_TRUE(log.Has("Failed to send service check:"));
}

}  // namespace
}  // namespace restoretest
