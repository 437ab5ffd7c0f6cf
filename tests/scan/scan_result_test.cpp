// Reception of the scan results end to end: the streams the scan program
// may send (status, tagged files, end of stream, notices, a dropped link),
// the files written on the proxy host, the flags and status values, and the
// abort check after a quiet period.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "CProxyFileSystemSendEvents.h"
#include "ClFileStreamMsgs.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "ScanTestUtil.h"
#include "SimFrames.h"
#include "scan/ScanEventIds.h"
#include "scan/ScanText.h"

using namespace scantest;
using namespace SimScanProgram;

namespace {

enum ErrorKind { kNone, kText, kEvent, kWin32, kErrNo };

// What one recvScanResult call returns and leaves behind.
struct StreamCase {
  const char* name;
  std::function<SimScript(const ScopedTempFolder&)> stream;
  ErrorKind error;
  uint32_t number;   // event id, Win32 or errno number
  const char* text;  // a fragment of the error's text
  bool failed, completed;
  // Files beside the directory-change file "DC.kxf": name and content; an
  // empty content with `absent` means the file must not exist.
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> absent;
  std::vector<std::string> logLines;
};

// Test names show the case, not its bytes.
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

std::string Big(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

SimScript FileStream(std::initializer_list<std::pair<std::string, std::string>> files) {
  SimScript script;
  for (const auto& file : files) SendFile(script, file.first, file.second);
  return script;
}

const StreamCase kStreamCases[] = {
    {"StatusDone",
     [](const ScopedTempFolder&) { return SimScript().Reply(Status(1, 5)).Reply(Status(3, 1234, {"/a: gone"}, 2, 9)); },
     kNone,
     0,
     "",
     false,
     true,
     {},
     {"DC.kxf"},
     {"jobStatus==3 failCount:1 faileToBackup:2 numCollect:9"}},
    {"StatusFailed",
     [](const ScopedTempFolder&) { return SimScript().Reply(Status(2)); },
     kNone,
     0,
     "",
     true,
     false,
     {},
     {},
     {}},
    {"StatusZeroCountsAsFailed",
     [](const ScopedTempFolder&) { return SimScript().Reply(Status(0)); },
     kNone,
     0,
     "",
     true,
     false,
     {},
     {},
     {"jobStatus==2 "}},
    {"StatusSevenCountsAsFailed",
     [](const ScopedTempFolder&) { return SimScript().Reply(Status(7)); },
     kNone,
     0,
     "",
     true,
     false,
     {},
     {},
     {}},
    {"DirChangeAndSplit",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", Big(150 * 1024)}, {"SPLIT", "split"}}).Reply(GoodEof());
     },
     kNone,
     0,
     "",
     false,
     false,
     {{"DC.kxf", Big(150 * 1024)}, {"split_config", "split"}},
     {},
     {"will create file [", "split_config]"}},
    {"AllFourFiles",
     [](const ScopedTempFolder&) {
       return FileStream({{"MSPLIT", "merged"}, {"SFAIL", "fail"}, {"DC", "dc"}, {"SPLIT", ""}}).Reply(GoodEof());
     },
     kNone,
     0,
     "",
     false,
     false,
     {{"DC.kxf", "dc"}, {"split_config", ""}, {"Merged_split_config", "merged"}, {"scan_Failures.kxf", "fail"}},
     {},
     {}},
    {"DataWithoutTagIsTheDirChangeFile",
     [](const ScopedTempFolder&) { return SimScript().Reply(Data("ab")).Reply(Data("cd")).Reply(GoodEof()); },
     kNone,
     0,
     "",
     false,
     false,
     {{"DC.kxf", "abcd"}},
     {},
     {"will create file file ["}},
    {"StreamWithoutDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"SPLIT", "split"}}).Reply(GoodEof());
     },
     kText,
     0,
     "Client didn't sent dir change file. Failing scan phase.",
     true,
     false,
     {{"split_config", "split"}},
     {"DC.kxf"},
     {}},
    {"TagWithNulIsUnknown",
     [](const ScopedTempFolder&) { return SimScript().Reply(Tag(std::string("DC", 3))).Reply(Data("x")); },
     kText,
     0,
     "Unknown file type [DC]",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    {"TagIsCaseSensitive",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "dc"}, {"split", "x"}});
     },
     kText,
     0,
     "Unknown file type [split]",
     false,
     false,
     {{"DC.kxf", "dc"}},
     {},
     {}},
    // On purpose not a success: the client failed the transfer.
    {"BadEofDeletesDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "partial"}}).Reply(BadEof("disk gone"));
     },
     kText,
     0,
     "Client reported a failed transfer of [",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    {"BadEofDuringCompanionDeletesDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "dc"}, {"SFAIL", "f"}}).Reply(BadEof(""));
     },
     kText,
     0,
     "scan_Failures.kxf]",
     false,
     false,
     {{"scan_Failures.kxf", "f"}},
     {"DC.kxf"},
     {}},
    {"UnexpectedMessageDeletesDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "dc"}}).Reply(std::make_shared<ClFailedFileMsg>("/a", 5, "no"));
     },
     kText,
     0,
     "Unexpected message from client [15]",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    // Frames that are no message: the sender is at fault, not the link.
    {"UnknownTypeDeletesDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "dc"}}).SendRaw(SimFrames::Frame(0x7777, {1, 2, 3}));
     },
     kText,
     0,
     "Unexpected message from client [30583]",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    {"UndecodablePayloadDeletesDirChangeFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "dc"}}).SendRaw(SimFrames::Frame(SCAN_RESULT_MSG, {0, 0}));
     },
     kText,
     0,
     "Unexpected message from client [17]",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    {"BadEofWithoutDirChangeFile",
     [](const ScopedTempFolder&) { return FileStream({{"SPLIT", "split"}}).Reply(BadEof("disk gone")); },
     kText,
     0,
     "Client didn't sent dir change file. Failing scan phase.",
     true,
     false,
     {{"split_config", "split"}},
     {"DC.kxf"},
     {}},
    {"LinkDroppedMidFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "part"}}).Reset();
     },
     kEvent,
     EV_CLIENT_SCAN_FAILED,
     "",
     true,
     false,
     {},
     {},
     {"recvMessage failed:"}},
    {"LinkClosedMidFile",
     [](const ScopedTempFolder&) {
       return FileStream({{"DC", "part"}}).Close();
     },
     kEvent,
     EV_CLIENT_SCAN_FAILED,
     "",
     true,
     false,
     {},
     {},
     {"recvMessage failed:"}},
    // A full disk: the companion file is /dev/full.
    {"FailedWriteDeletesDirChangeFile",
     [](const ScopedTempFolder& output) {
       EXPECT_EQ(0, ::symlink("/dev/full", output.Path("split_config").c_str()));
       return FileStream({{"DC", "dc"}, {"SPLIT", "no room"}});
     },
     kErrNo,
     ENOSPC,
     "split_config]",
     false,
     false,
     {},
     {"DC.kxf"},
     {}},
    {"DirChangeFileNotCreatable",
     [](const ScopedTempFolder& output) {
       ::unlink(output.Path("DC.kxf").c_str());
       EXPECT_EQ(0, ::mkdir(output.Path("DC.kxf").c_str(), 0755));
       return FileStream({{"DC", "dc"}});
     },
     kText,
     0,
     "Unable to open the dir change file [",
     false,
     false,
     {},
     {},
     {}},
};

class ScanResultTest : public ScanTest {
 protected:
  // Configure with `stream`, then one call; its result.
  CWqError Receive(const SimScript& stream, CAbortOperationCheckPtr abortCheck = CAbortOperationCheckPtr()) {
    phase = Configure(stream);
    if (!phase) return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "the scan did not start");
    return phase->recvScanResult(dirChange, failed, completed, scanTime, failures, failedToBackup, numCollect,
                                 abortCheck);
  }

  std::unique_ptr<ProxyScan> phase;
  const std::string dirChange = output.Path("DC.kxf");
  bool failed = true, completed = true;
  time_t scanTime = -1;
  std::list<std::string> failures{"untouched"};
  uint32_t failedToBackup = 77, numCollect = 77;
};

class StreamTest : public ScanResultTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamTest, OneCall) {
  const StreamCase& c = GetParam();
  ASSERT_TRUE(WriteFile(dirChange, "from an earlier call"));
  CWqError result = Receive(c.stream(output));
  ASSERT_TRUE(phase);
  switch (c.error) {
    case kNone:
      EXPECT_FALSE(result.IsError()) << result.AsString();
      break;
    case kText:
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_TEXT_ONLY)) << result.AsString();
      EXPECT_NE(std::string::npos, coretest::Texts(result).find(c.text)) << result.AsString();
      break;
    case kEvent:
      EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, c.number)) << result.AsString();
      break;
    case kWin32:
      EXPECT_TRUE(FXErrorUtil::IsWin32(result, c.number)) << result.AsString();
      break;
    case kErrNo:
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, static_cast<int>(c.number))) << result.AsString();
      EXPECT_NE(std::string::npos, coretest::Texts(result).find(c.text)) << result.AsString();
      break;
  }
  EXPECT_EQ(c.failed, failed);
  EXPECT_EQ(c.completed, completed);
  for (const auto& file : c.files) EXPECT_EQ(file.second, ReadFile(output.Path(file.first))) << file.first;
  for (const std::string& name : c.absent) EXPECT_FALSE(Exists(output.Path(name))) << name;
  for (const std::string& line : c.logLines) EXPECT_TRUE(log.Has(line)) << line;
  EXPECT_TRUE(log.Has("removing file [" + dirChange + "]"));
  EXPECT_FALSE(phase->m_bDisableSyncLib);
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamTest, ::testing::ValuesIn(kStreamCases),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

TEST_F(ScanResultTest, StatusValuesFollowTheLastStatus) {
  CWqError result = Receive(SimScript()
                                .Reply(Status(1, 100, {"/x: one"}, 1, 1))
                                .Reply(Status(1, 200, {}, 0, 4))
                                .Reply(Status(3, 300, {"/y", "/z"}, 2, 8)));
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(completed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(300, scanTime);
  EXPECT_EQ((std::list<std::string>{"/y", "/z"}), failures);
  EXPECT_EQ(2u, failedToBackup);
  EXPECT_EQ(8u, numCollect);
}

TEST_F(ScanResultTest, StreamWithoutStatusLeavesStatusValuesUntouched) {
  CWqError result = Receive(FileStream({{"DC", "dc"}}).Reply(GoodEof()));
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(-1, scanTime);
  EXPECT_EQ((std::list<std::string>{"untouched"}), failures);
  EXPECT_EQ(77u, failedToBackup);
  EXPECT_EQ(77u, numCollect);
}

TEST_F(ScanResultTest, DisableSyncLibIsRecorded) {
  CWqError result = Receive(SimScript().Reply(DisableSyncLib()).Reply(Status(3)));
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(phase->m_bDisableSyncLib);
  EXPECT_TRUE(log.Has("Scan phase requested to disable SYNCLIB option."));
}

TEST_F(ScanResultTest, ClientEventBecomesPendingCauseAndEvent) {
  ISendEventInterface::SetInstance(
      boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(kJob, nullptr)));
  CWqError result = Receive(FileStream({{"DC", "dc"}}).Reply(Event(0x13000123, 4, 0, {"LIB1", "reason"})));
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Received pending event from client."));
  EXPECT_TRUE(completed);
  EXPECT_FALSE(failed);
  EXPECT_TRUE(log.Has("Scan has a pending event. Fail now"));
  // No central-server name is configured: the sender raises the event itself.
  std::vector<EventJournalEntry> entries = EventJournal::Instance().Entries();
  ASSERT_EQ(1u, entries.size()) << EventJournal::Instance().FormatAll();
  EXPECT_EQ(0x13000123u, entries[0].eventId);
  EXPECT_EQ(static_cast<long long>(kJob), entries[0].jobId);
  EXPECT_EQ((std::vector<std::string>{"LIB1", "reason"}), entries[0].arguments);
}

TEST_F(ScanResultTest, ClientEventWithoutSenderIsDroppedWithALogLine) {
  CWqError result = Receive(SimScript().Reply(Event(0x13000123, 4, 0, {})));
  EXPECT_TRUE(FXErrorUtil::IsWin32(result, 1627)) << result.AsString();
  EXPECT_TRUE(completed);
  EXPECT_TRUE(EventJournal::Instance().Entries().empty());
  EXPECT_TRUE(log.Has("No event sender installed"));
}

TEST_F(ScanResultTest, LinkFailureNamesTheClient) {
  CWqError result = Receive(SimScript().Reset());
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_SCAN_FAILED)) << result.AsString();
  std::vector<std::string> arguments;
  for (const boost::any& parameter : result.GetParameters())
    arguments.push_back(boost::any_cast<std::string>(parameter));
  EXPECT_EQ((std::vector<std::string>{"CLIENTSCAN", "127.0.0.1", "127.0.0.1", "127.0.0.1"}), arguments);
  EXPECT_TRUE(failed);
}

// Each call starts afresh: the file of the call before is deleted.
TEST_F(ScanResultTest, SecondCallDeletesTheDirChangeFileOfTheFirst) {
  CWqError result = Receive(FileStream({{"DC", "dc"}}).Reply(GoodEof()).Reply(Status(3)));
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_EQ("dc", ReadFile(dirChange));
  result = phase->recvScanResult(dirChange, failed, completed, scanTime, failures, failedToBackup, numCollect,
                                 CAbortOperationCheckPtr());
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(completed);
  EXPECT_FALSE(Exists(dirChange));
}

TEST(ScanTextTest, CompanionFolder) {
  EXPECT_EQ("/", ScanText::FolderOf("DC.kxf"));
  EXPECT_EQ("/", ScanText::FolderOf("/DC.kxf"));
  EXPECT_EQ("/out/job 1/", ScanText::FolderOf("/out/job 1/DC.kxf"));
  EXPECT_EQ("out/", ScanText::FolderOf("out/DC"));
}

// The host's abort check, recording the platform clock when it is asked.
class RecordingAbortCheck : public CAbortOperationCheck {
 public:
  bool isAbortRequested() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_asked.push_back(FXGetClock().MonotonicMs());
    return true;
  }
  std::vector<int64_t> Asked() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asked;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<int64_t> m_asked;
};

// The quiet periods pass on a virtual clock, moved by the scan program once
// the phase has taken the status before and waits again, so that each quiet
// period is measured from that status.
TEST_F(ScanResultTest, AbortCheckIsAskedOnlyAfterTenQuietSeconds) {
  FXScopedVirtualClock scoped;
  FXVirtualClock& clock = scoped.clock();
  boost::shared_ptr<RecordingAbortCheck> check(new RecordingAbortCheck);
  // Status `status` is taken and the phase waits for what comes next.
  auto taken = [this, &clock](int status) {
    const std::string line = "numCollect:" + std::to_string(status);
    auto ready = [&] { return log.Has(line) && clock.DescriptorWaitsUnderWay() > 0; };
    return coretest::WaitUntil(ready);
  };
  auto quiet = [&](int status, int64_t milliseconds) {
    return [&, status, milliseconds](SimPeer&) {
      if (!taken(status)) return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "status %d was not taken", status);
      clock.Advance(milliseconds);
      return CWqError::Success();
    };
  };
  // After the last status, time moves in small steps with a pause each, so
  // that an early ask would be seen at its time.
  std::atomic<int64_t> lastStatusMs{-1};
  auto untilAsked = [&](SimPeer&) {
    if (!taken(3)) return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "the last status was not taken");
    lastStatusMs = clock.MonotonicMs();
    clock.Advance(9500);  // no ask before: the waits between the statuses were longer
    for (int step = 0; step < 10 && check->Asked().empty(); ++step) {
      clock.Advance(50);
      usleep(5000);
    }
    if (!coretest::WaitUntil([&] { return !check->Asked().empty(); })) return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "not asked after 10 quiet seconds");
    return CWqError::Success();
  };
  CWqError result = Receive(SimScript()
                                .Reply(Status(1, 10, {"/a"}, 1, 1))
                                .Call(quiet(1, 9900))
                                .Reply(Status(1, 20, {"/b"}, 2, 2))
                                .Call(quiet(2, 9900))
                                .Reply(Status(1, 30, {"/c"}, 3, 3))
                                .Call(untilAsked)
                                .Expect(DISCONNECT_MSG),
                            check);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_OPERATION_ABORTED)) << result.AsString();
  EXPECT_FALSE(failed);
  EXPECT_FALSE(completed);
  EXPECT_EQ(30, scanTime);
  EXPECT_EQ((std::list<std::string>{"/c"}), failures);
  EXPECT_TRUE(log.Has("Sent job suspend message"));
  SimConnectionRecord program = Program(phase);
  EXPECT_FALSE(program.failure.IsError()) << "the suspend reached the client: " << program.failure.AsString();
  const std::vector<int64_t> asked = check->Asked();
  ASSERT_EQ(1u, asked.size()) << "asked once, after the quiet period only";
  EXPECT_GE(asked[0] - lastStatusMs.load(), 10000);
}

}  // namespace
