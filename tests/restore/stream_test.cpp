// The file stream against "RST.EXE": header conversion, optional header,
// data blocks and ends of file, and the client's verdicts on the file.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "FXErrorUtil.h"
#include "RestoreTestUtil.h"
#include "SimFrames.h"

namespace restoretest {
namespace {

SimRestoreProgram::Options Ending() {
  SimRestoreProgram::Options options;
  options.answerJobComplete = true;
  return options;
}

CXFileHeader Header(const std::string& name, uint64_t flags = 0) {
  CXFileHeader header;
  std::strncpy(header.name, name.c_str(), CXFileHeader::kNameCapacity - 1);
  header.mode = 0100644;
  header.uid = 11;
  header.gid = 12;
  header.platformFlags = flags;
  header.size = 13;
  header.mtime = 14;
  header.ctime = 15;
  header.offset = 16;
  return header;
}

template <class Ready>
bool WaitFor(Ready ready) {
  for (int i = 0; i < 4000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return ready();
}

class StreamTest : public RestoreTest {
 protected:
  std::unique_ptr<TestRestore> Open(const SimScript& stream = SimScript()) {
    prepare = [this](TestRestore& restore) { restore.setReceiverTestSeam(gate.Seam()); };
    return Started(SimRestoreProgram::Scripted(stream, Ending()));
  }
  // The receiver holds before its first wait, so a report the program
  // sends is seen only by the checks after Deliver.
  std::unique_ptr<TestRestore> OpenHeld(const SimScript& stream) {
    gate.Arm();
    return Open(stream);
  }
  bool Deliver(int messages) {
    gate.Release();
    return gate.WaitMessages(messages);
  }
  SeamGate gate;
  void SendFile(TestRestore& phase, const std::string& name, uint64_t flags = 0) {
    CXFileHeader header = Header(name, flags);
    ASSERT_FALSE(phase.setCxHeader(header).IsError());
    CWqError result = phase.sendHeader();
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }
};

TEST_F(StreamTest, HeadersCarryTheConvertedFieldsAndTheOptionalHeader) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  char opt[] = "OPT";
  SendFile(*phase, "/plain");  // no optional header yet
  ASSERT_FALSE(phase->setOptHeader(opt, 3).IsError());
  opt[0] = 'X';  // the phase keeps its own copy
  SendFile(*phase, "/with", 0x8000);
  SendFile(*phase, "/carried");
  ASSERT_FALSE(phase->setOptHeader(opt, 0).IsError());
  SendFile(*phase, "/QSYS.LIB/L.LIB/F.FILE", 0x8000);
  SendFile(*phase, "/x/QDLS/doc", 0x8000);
  SendFile(*phase, "", 0x8000);
  EXPECT_TRUE(log.Has("Was this backed up using Scanless backup [1]"));
  EXPECT_TRUE(log.Has("Was this backed up using Scanless backup [0]"));
  SimConnectionRecord record = Finish(phase);
  std::vector<SimRestoreProgram::ReceivedHeader> headers = SimRestoreProgram::Headers(record);
  ASSERT_EQ(6u, headers.size());
  const char* names[] = {"/plain", "/with", "/carried", "/QSYS.LIB/L.LIB/F.FILE", "/x/QDLS/doc", ""};
  const char* optional[] = {"", "OPT", "OPT", "", "", ""};
  for (size_t i = 0; i < headers.size(); ++i) {
    SCOPED_TRACE(names[i]);
    ASSERT_TRUE(headers[i].decoded);
    const ClProxyFileHeader& h = headers[i].header;
    EXPECT_EQ(names[i], h.name);
    EXPECT_EQ(0100644u, h.mode);
    EXPECT_EQ(11u, h.uid);
    EXPECT_EQ(12u, h.gid);
    EXPECT_EQ(13u, h.size);
    EXPECT_EQ(15u, h.ctime);
    EXPECT_EQ(14u, h.mtime);
    EXPECT_EQ(0u, h.atime);
    EXPECT_EQ(16u, h.offset);
    EXPECT_EQ(std::string(optional[i]), std::string(headers[i].optional.begin(), headers[i].optional.end()));
  }
  EXPECT_EQ(0x8000u, headers[1].header.flags);
  // Only "/with" takes the unmodified list: an empty list is one END.
  EXPECT_EQ(1u, Count(record, UNMODIFIED_PREHEADER_MSG));
  EXPECT_EQ((std::vector<std::string>{""}), SimRestoreProgram::Payloads(record, UNMODIFIED_PREHEADER_MSG));
}

TEST_F(StreamTest, DataGoesFromTheHostsBufferAndEndsOfFileFollow) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  SendFile(*phase, "/a");
  std::vector<char> buffer(70000);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<char>(i * 7);
  ASSERT_FALSE(phase->sendData(buffer.data(), 70000).IsError());
  ASSERT_FALSE(phase->sendData(buffer.data(), 0).IsError());  // an empty block is sent
  buffer[0] = 'z';                                             // still the host's
  ASSERT_FALSE(phase->sendData(buffer.data(), 1).IsError());
  ASSERT_FALSE(phase->sendGoodEOF().IsError());
  SendFile(*phase, "/b");
  ASSERT_FALSE(phase->sendBadEOF().IsError());
  SimConnectionRecord record = Finish(phase);
  std::vector<std::string> blocks = SimRestoreProgram::Payloads(record, FILE_DATA_MSG);
  ASSERT_EQ(3u, blocks.size());
  EXPECT_EQ(std::string(buffer.begin() + 1, buffer.end()), blocks[0].substr(1));
  EXPECT_EQ("", blocks[1]);
  EXPECT_EQ("z", blocks[2]);
  std::vector<ClProxyMsgType> types = Types(record);
  std::vector<ClProxyMsgType> stream(types.begin() + 1, types.end());  // after the job start
  EXPECT_EQ((std::vector<ClProxyMsgType>{FILE_HEADER_MSG, FILE_DATA_MSG, FILE_DATA_MSG, FILE_DATA_MSG, GOOD_EOF_MSG,
                                         FILE_HEADER_MSG, BAD_EOF_MSG}),
            stream);
}

TEST_F(StreamTest, DataNotNeededMidFileIsDiscardedUntilTheNextHeader) {
  SimScript stream;
  stream.Expect(FILE_HEADER_MSG).Expect(FILE_DATA_MSG).Reply(SimRestoreProgram::DataNotNeeded("/f"));
  std::unique_ptr<TestRestore> phase = OpenHeld(stream);
  ASSERT_TRUE(phase);
  SendFile(*phase, "/f");
  char block[100] = {};
  ASSERT_FALSE(phase->sendData(block, 100).IsError());
  ASSERT_TRUE(Deliver(1));
  ASSERT_FALSE(phase->sendData(block, 100).IsError());  // its check finds the verdict
  EXPECT_TRUE(phase->SkipFileData());
  ASSERT_FALSE(phase->sendData(block, 40).IsError());
  ASSERT_FALSE(phase->sendData(block, 2).IsError());
  EXPECT_EQ(42u, phase->getDiscardedBytes());
  EXPECT_TRUE(log.Has("Discarded 2 bytes (Total for this job 42)"));
  ASSERT_FALSE(phase->sendGoodEOF().IsError());  // sent while discarding
  SendFile(*phase, "/g");
  ASSERT_FALSE(phase->sendData(block, 5).IsError());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(3u, Count(record, FILE_DATA_MSG));
  EXPECT_EQ(1u, Count(record, GOOD_EOF_MSG));
}

TEST_F(StreamTest, ClientVerdictsEndTheHostsNextOperation) {
  struct Row {
    const char* name;
    std::shared_ptr<ClProxyMsg> report;
    int errNo;
  };
  const Row rows[] = {
      {"failure for the file", SimRestoreProgram::FailedFile("/f", 12, "no room"), 242},
      {"disk full", SimRestoreProgram::Empty(DISK_FULL_MSG), ENOSPC},
  };
  size_t program = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimScript stream;
    stream.Expect(FILE_HEADER_MSG).Expect(FILE_DATA_MSG).Reply(row.report);
    std::unique_ptr<TestRestore> phase = OpenHeld(stream);
    ASSERT_TRUE(phase);
    SendFile(*phase, "/f");
    char block[8] = {};
    ASSERT_FALSE(phase->sendData(block, 8).IsError());
    ASSERT_TRUE(WaitFor([&] { gate.Release(); return phase->StatusCount() == 1 || phase->DiskFull(); }));
    CWqError result = phase->sendData(block, 8);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, row.errNo)) << result.AsString();
    // The block went out before the check.
    SimConnectionRecord record = Finish(phase, program++);
    EXPECT_EQ(2u, Count(record, FILE_DATA_MSG));
  }
}

TEST_F(StreamTest, AFailureForAnEarlierFileOfTheSameNameDoesNotFailTheLaterOne) {
  SimScript stream;
  stream.Expect(FILE_HEADER_MSG).Expect(FILE_DATA_MSG).Reply(SimRestoreProgram::FailedFile("/same", 12, "no room"));
  std::unique_ptr<TestRestore> phase = OpenHeld(stream);
  ASSERT_TRUE(phase);
  SendFile(*phase, "/same");
  char first[4] = {};
  ASSERT_FALSE(phase->sendData(first, 4).IsError());
  ASSERT_TRUE(Deliver(1));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendBadEOF(), 242));
  SendFile(*phase, "/same");
  char block[4] = {};
  CWqError result = phase->sendData(block, 4);
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_FALSE(phase->sendGoodEOF().IsError());
  phase->stopReceiverThread();
}

TEST_F(StreamTest, ALateReportForAnEarlierFileOfTheSameNameWaitsForItsAnswer) {
  // The client's reports on the first "/same" are still on their way when
  // the host starts the second one: the receiver is held at its seam.
  SimScript stream;
  stream.Expect(FILE_HEADER_MSG)
      .Expect(FILE_DATA_MSG)
      .Expect(GOOD_EOF_MSG)
      .Reply(SimRestoreProgram::DataNotNeeded("/same"))
      .Reply(SimRestoreProgram::ItemStatus({{"/same", "", 5, 4}}));
  std::unique_ptr<TestRestore> phase = OpenHeld(stream);
  ASSERT_TRUE(phase);
  SendFile(*phase, "/same");
  char block[4] = {'a', 'b', 'c', 'd'};
  ASSERT_FALSE(phase->sendData(block, 4).IsError());
  ASSERT_FALSE(phase->sendGoodEOF().IsError());
  ASSERT_TRUE(WaitReadable(phase->ProgramLink()->getConnectionSocket().GetSocketDescriptor()));
  std::future<CWqError> second = std::async(std::launch::async, [&phase] {
    CXFileHeader header = Header("/same");
    CWqError result = phase->setCxHeader(header);
    if (!result.IsError()) result = phase->sendHeader();
    return result;
  });
  // The second header waits for the first file's answer, which the held
  // receiver cannot take yet.
  second.wait_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(Deliver(2));
  CWqError result = second.get();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_FALSE(phase->sendData(block, 4).IsError());
  EXPECT_FALSE(phase->SkipFileData());
  EXPECT_EQ(0u, phase->getDiscardedBytes());
  ASSERT_FALSE(phase->sendGoodEOF().IsError());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(2u, Count(record, FILE_DATA_MSG));
  EXPECT_EQ(2u, Count(record, FILE_HEADER_MSG));
}

TEST_F(StreamTest, AnEarlierFileOfTheSameNameNeverAnsweredFailsTheNextHeader) {
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  SendFile(*phase, "/same");
  ASSERT_FALSE(phase->sendGoodEOF().IsError());
  // Another name, and a file ended bad (the client answers no bad end),
  // do not wait.
  SendFile(*phase, "/other");
  ASSERT_FALSE(phase->sendBadEOF().IsError());
  SendFile(*phase, "/other");
  ASSERT_FALSE(phase->sendBadEOF().IsError());
  CXFileHeader header = Header("/same");
  ASSERT_FALSE(phase->setCxHeader(header).IsError());
  const auto start = std::chrono::steady_clock::now();
  CWqError result = phase->sendHeader();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("/same"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(3u, Count(record, FILE_HEADER_MSG));
}

TEST_F(StreamTest, TwoHeadersWithoutASendAndAnArchiveClosedWithAFileOpen) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  CXFileHeader first = Header("/first");
  CXFileHeader second = Header("/second");
  ASSERT_FALSE(phase->setCxHeader(first).IsError());
  ASSERT_FALSE(phase->setCxHeader(second).IsError());
  ASSERT_FALSE(phase->sendHeader().IsError());
  ASSERT_FALSE(phase->onCloseArchive().IsError());  // sends a bad end of file
  ASSERT_FALSE(phase->onCloseArchive().IsError());  // nothing open any more
  SimConnectionRecord record = Finish(phase);
  std::vector<SimRestoreProgram::ReceivedHeader> headers = SimRestoreProgram::Headers(record);
  ASSERT_EQ(1u, headers.size());
  EXPECT_EQ("/second", headers[0].header.name);
  EXPECT_EQ(1u, Count(record, BAD_EOF_MSG));
}

TEST_F(StreamTest, PreHeaderGroupsGoOutAtTheirPushPoints) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  std::string p1 = "p1", p2 = "p2", p3 = "p3", p4 = "p4";
  ASSERT_FALSE(phase->registerPreHeader(false, p1).IsError());
  CXFileHeader head = Header("/h1");
  ASSERT_FALSE(phase->setCxHeader(head).IsError());  // named the head, sent nothing
  EXPECT_EQ("/h1", phase->HeadName());
  ASSERT_FALSE(phase->registerPreHeader(false, p2).IsError());
  CXFileHeader next = Header("/h2");
  ASSERT_FALSE(phase->setCxHeader(next).IsError());  // the group goes under /h1
  ASSERT_FALSE(phase->registerPreHeader(false, p3).IsError());
  CXFileHeader archive = Header("/arc", 0x42);
  ASSERT_FALSE(phase->setCxHeader(archive).IsError());  // an archive header: at once
  ASSERT_FALSE(phase->registerArchiveContentEntry("e1").IsError());
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());
  ASSERT_FALSE(phase->registerPreHeader(false, p4).IsError());
  CXFileHeader last = Header("/h3");
  ASSERT_FALSE(phase->setCxHeader(last).IsError());
  ASSERT_FALSE(phase->registerArchiveContentEntry("e2").IsError());
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());  // not an archive header: nothing
  ASSERT_FALSE(phase->onCloseArchive().IsError());      // pushes p4 under /h3
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"/h1", "p1", "p2"}, {"/arc", "p3"}, {"/h3", "p4"}}),
            SimRestoreProgram::Lists(record, PREHEADER_MSG));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"e1"}, {}}), SimRestoreProgram::Lists(record, REFOPTHDR2_MSG));
  EXPECT_EQ(1u, Count(record, BAD_EOF_MSG));
}

TEST_F(StreamTest, RefusalsSendNothing) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  CXFileHeader unterminated = Header("/x");
  std::memset(unterminated.name, 'n', CXFileHeader::kNameCapacity);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->setCxHeader(unterminated), EINVAL));

  CXFileHeader header = Header("/big");
  ASSERT_FALSE(phase->setCxHeader(header).IsError());
  phase->ProgramLink()->setMaxPayload(4096);
  std::vector<char> opt(5000, 'o');
  ASSERT_FALSE(phase->setOptHeader(opt.data(), static_cast<uint32_t>(opt.size())).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendHeader(), EMSGSIZE));
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(0u, Count(record, FILE_HEADER_MSG));
}

TEST_F(StreamTest, BeforeTheProgramConnectedNothingIsSent) {
  TestRestore phase;
  CXFileHeader header = Header("/x");
  ASSERT_FALSE(phase.setCxHeader(header).IsError());
  char block[1] = {};
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendHeader(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendData(block, 1), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendGoodEOF(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendBadEOF(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendSourceFilters(), 2250));
  EXPECT_FALSE(phase.HasThread());
}

TEST_F(StreamTest, ALinkLostMidFileFailsTheNextSend) {
  struct Row {
    const char* name;
    SimScript stream;
    int error;  // what the completion returns: the receiver's error
  };
  std::vector<Row> rows;
  rows.push_back({"closed", SimScript().Expect(FILE_HEADER_MSG).Expect(FILE_DATA_MSG).Close(), ENOTCONN});
  // The receiver closes the link under the blocks still going out.
  rows.push_back({"bad frame",
                  SimScript().Expect(FILE_HEADER_MSG).Expect(FILE_DATA_MSG).SendRaw(
                      SimFrames::Header(ITEM_STATUS_MSG, 4, 0x12345678)),
                  EPROTO});
  size_t program = 0;
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(row.stream));
    ASSERT_TRUE(phase);
    SendFile(*phase, "/f");
    std::vector<char> block(4096, 'd');
    CWqError result;
    for (int i = 0; i < 100000 && !result.IsError(); ++i) result = phase->sendData(block.data(), 4096);
    EXPECT_TRUE(result.IsError());
    CWqError end = phase->sendJobComplete();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(end, row.error)) << end.AsString();
    Finish(phase, program++);
  }
}

TEST_F(StreamTest, MountRepliesRacingDataBlocksLeaveEveryFrameIntact) {
  // The program asks for the next volume again and again while the host
  // streams blocks; the receiver thread answers each request on the same
  // link. Any interleaved frame would break the program's decoding.
  const int kRequests = 200;
  const int kBlocks = 3000;
  SimScript stream;
  stream.Expect(FILE_HEADER_MSG);
  for (int i = 0; i < kRequests; ++i) stream.Reply(SimRestoreProgram::TapeInfo("VOL" + std::to_string(i), "DRV01"));
  std::unique_ptr<TestRestore> phase = Open(stream);
  ASSERT_TRUE(phase);
  ScriptedHandler handler;
  phase->registerVTLDataHandler(&handler);
  SendFile(*phase, "/raced");
  std::vector<char> block(4096);
  for (int i = 0; i < kBlocks; ++i) {
    for (size_t j = 0; j < block.size(); ++j) block[j] = static_cast<char>(i + j * 31);
    CWqError result = phase->sendData(block.data(), static_cast<uint32_t>(block.size()));
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }
  ASSERT_FALSE(phase->sendGoodEOF().IsError());
  CWqError result = phase->sendJobComplete();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(kRequests, handler.calls.load());
  phase->unRegisterVTLDataHandler();
  SimConnectionRecord record = Finish(phase);
  EXPECT_FALSE(record.failure.IsError()) << record.failure.AsString();
  EXPECT_EQ(static_cast<size_t>(kRequests), Count(record, TAPE_INFO_MSG));
  std::vector<std::string> blocks = SimRestoreProgram::Payloads(record, FILE_DATA_MSG);
  ASSERT_EQ(static_cast<size_t>(kBlocks), blocks.size());
  for (int i = 0; i < kBlocks; ++i) {
    for (size_t j = 0; j < block.size(); ++j) block[j] = static_cast<char>(i + j * 31);
    ASSERT_EQ(std::string(block.begin(), block.end()), blocks[i]) << "block " << i;
  }
  EXPECT_EQ(1u, Count(record, GOOD_EOF_MSG));
  EXPECT_EQ(1u, Count(record, JOB_COMPLETE_MSG));
}

}  // namespace
}  // namespace restoretest
