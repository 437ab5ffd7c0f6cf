// The scan configuration as the scan program receives it: the command-file
// test and its event, the library rule of a sync-library job, the new
// content the central server reports, and the refused inputs.
#include "AppMsgs.h"
#include "CProxyFileSystemSendEvents.h"
#include "FXErrorUtil.h"
#include "ScanTestUtil.h"
#include "scan/ScanEventIds.h"

using namespace scantest;

namespace {

const char kFullOnlyLine[] =
    "The subclient with command file supports only a Full Backup job. The job will behave as Full backup.";

std::string ModifiedFileListAnswer(const std::vector<std::string>& paths) {
  App::GetModifiedFileListResp answer;
  *answer.getliststring(1, 1, 0, 0, true) = paths;
  std::string text;
  answer.serialize(text, false);
  return text;
}

std::vector<EventJournalEntry> InfoEvents() {
  std::vector<EventJournalEntry> found;
  for (const EventJournalEntry& entry : EventJournal::Instance().Entries())
    if (entry.operation == "EvEvent::InfoEvent") found.push_back(entry);
  return found;
}

class ScanConfigTest : public ScanTest {
 protected:
  // Start, then one scan configuration; the result of sendScanConfig.
  CWqError SendConfig(std::list<std::string> content, KXBkpLevel level = 1, const SimScript& stream = SimScript()) {
    phase = Start(SimScanProgram::Scripted(stream), level);
    if (!phase) return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "the job start failed");
    return phase->sendScanConfig(content, second, third, fourth, options);
  }
  // Custom selection with the sync library on: the library rule applies.
  void SyncLibSubclient() {
    SetSubclient("iSeriesSCCustomFlag", true);
    SetSubclient("iSeriesBackupSyncLibFlag", true);
  }

  std::unique_ptr<ProxyScan> phase;
  std::list<std::string> second{"/second"}, third{"/third/a", "/third/b"}, fourth;
  ClScanOptionList options{{"host", "option"}};
};

struct CommandFileCase {
  const char* name;
  const char* first;
  KXBkpLevel level;
  bool senderInstalled;  // by the host before the scan
  const char* flag;      // "isCommandFileJob"
  bool event;            // EV_COMMAND_FILE_FULL_ONLY raised
};

// Test names show the case, not its bytes.
void PrintTo(const CommandFileCase& c, std::ostream* out) { *out << c.name; }

const CommandFileCase kCommandFileCases[] = {
    {"FullJobRaisesNothing", "/<contentfile>/CMD1", 1, false, "1", false},
    {"IncrementalInstallsSender", "/<ContentFile>/CMD1", 2, false, "1", true},
    {"IncrementalUsesInstalledSender", "/<CONTENTFILE>/CMD1", 2, true, "1", true},
    {"PrefixCutShortIsNoCommandFile", "/<ContentFile", 2, false, "0", false},
    {"OrdinaryContent", "/home/user", 2, false, "0", false},
};

class CommandFileTest : public ScanConfigTest, public ::testing::WithParamInterface<CommandFileCase> {};

TEST_P(CommandFileTest, FlagEventAndNewContent) {
  const CommandFileCase& c = GetParam();
  boost::shared_ptr<ISendEventInterface> hostSender;
  if (c.senderInstalled) {
    hostSender.reset(new CProxyFileSystemSendEvents(99, nullptr));
    ISendEventInterface::SetInstance(hostSender);
  }
  SetSubclient("LastBackupStartTime", 1700000000);
  RecordRegistry::Instance().SetModifiedFileListReply(0, ModifiedFileListAnswer({"/new"}));

  CWqError result = SendConfig({c.first, "/other"}, c.level);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_EQ(2u, options.size()) << "the flag is appended to the caller's list";
  EXPECT_EQ(std::make_pair(std::string("isCommandFileJob"), std::string(c.flag)), options.back());

  std::vector<EventJournalEntry> events = InfoEvents();
  boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
  if (c.event) {
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(EV_COMMAND_FILE_FULL_ONLY, events[0].eventId);
    EXPECT_EQ(c.senderInstalled ? 99 : static_cast<long long>(kJob), events[0].jobId);
    EXPECT_EQ(0, events[0].value);
    EXPECT_EQ(1u, log.Count(kFullOnlyLine));
    ASSERT_TRUE(sender);
    if (c.senderInstalled) {
      EXPECT_EQ(hostSender, sender);
    }
  } else {
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(log.Has(kFullOnlyLine));
    EXPECT_EQ(c.senderInstalled, static_cast<bool>(sender));
  }

  // The level stays as given: only a job that is not full asks for new content.
  const std::vector<std::string> requests = RecordRegistry::Instance().ModifiedFileListRequests();
  ASSERT_EQ(c.level == 1 ? 0u : 1u, requests.size());
  EXPECT_TRUE(log.Has("jobType[" + std::to_string(c.level) + "]"));
  if (c.level != 1) {
    CNMessageBase request;
    ASSERT_EQ(CN_PARSE_OK, request.unserialize(requests[0]));
    EXPECT_EQ(372, request.getMessageId());
    EXPECT_EQ(kApp, request.getint64(1));
    EXPECT_EQ(c.level, request.getint64(2));
    EXPECT_EQ(1700000000, request.getint64(3));
    EXPECT_TRUE(log.Has("XML Request ["));
  }

  SimConnectionRecord program = Program(phase);
  std::shared_ptr<const ClScanConfigMsg> config = SimScanProgram::ScanConfig(program);
  ASSERT_NE(nullptr, config);
  EXPECT_EQ((std::list<std::string>{c.first, "/other"}), config->getContent());
  EXPECT_EQ(second, config->getSecondList());
  EXPECT_EQ(third, config->getThirdList());
  EXPECT_EQ(fourth, config->getFourthList());
  EXPECT_EQ(options, config->getOptions());
  EXPECT_EQ(c.level == 1 ? std::list<std::string>() : std::list<std::string>{"/new"}, config->getNewContent());
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandFileTest, ::testing::ValuesIn(kCommandFileCases),
                         [](const ::testing::TestParamInfo<CommandFileCase>& info) {
                           return std::string(info.param.name);
                         });

struct LibraryCase {
  const char* name;
  std::list<std::string> content;
  const char* refused;  // the "Found %s." text, null when the content passes
};

// Test names show the case, not its bytes.
void PrintTo(const LibraryCase& c, std::ostream* out) { *out << c.name; }

const LibraryCase kLibraryCases[] = {
    {"WholeLibrariesPass", {"/QSYS.LIB/MYLIB.LIB", "/ASP1/QSYS.LIB/MYLIB.LIB", "/QSYS.LIB/MYLIB.LIB/***"}, nullptr},
    {"FoldersAndTheRootFail", {"/home/a", "/QSYS.LIB/X.LIB", "/QSYS.LIB"}, "Found '/home/a', '/QSYS.LIB'."},
    {"ObjectInLibraryFails", {"/QSYS.LIB/MYLIB.LIB/A.FILE"}, "Found '/QSYS.LIB/MYLIB.LIB/A.FILE'."},
    {"RootNameIsCaseSensitive", {"/qsys.lib/MYLIB.LIB"}, "Found '/qsys.lib/MYLIB.LIB'."},
    {"CommandFileJobIsExempt", {"/<ContentFile>/CMDS", "/home/a"}, nullptr},
};

class LibraryRuleTest : public ScanConfigTest, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(LibraryRuleTest, SyncLibContentMustBeWholeLibraries) {
  const LibraryCase& c = GetParam();
  SyncLibSubclient();
  CWqError result = SendConfig(c.content);
  ASSERT_TRUE(phase);
  EXPECT_TRUE(phase->m_bSyncLibEnabled);
  ASSERT_EQ(2u, options.size());
  EXPECT_EQ("isCommandFileJob", options.back().first);
  SimConnectionRecord program = Program(phase);
  if (!c.refused) {
    EXPECT_FALSE(result.IsError()) << result.AsString();
    EXPECT_NE(nullptr, SimScanProgram::ScanConfig(program));
    return;
  }
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_SYNCLIB_BAD_CONTENT)) << result.AsString();
  EXPECT_EQ(std::string(c.refused) + "\n", coretest::Texts(result));
  EXPECT_EQ(nullptr, SimScanProgram::ScanConfig(program)) << "refused content must not be sent";
}

INSTANTIATE_TEST_SUITE_P(Cases, LibraryRuleTest, ::testing::ValuesIn(kLibraryCases),
                         [](const ::testing::TestParamInfo<LibraryCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ScanConfigTest, LibraryRuleNeedsTheSyncLibrary) {
  SetSubclient("iSeriesSCCustomFlag", true);
  SetSubclient("iSeriesBackupSyncLibFlag", false);
  CWqError result = SendConfig({"/home/a"});
  EXPECT_FALSE(result.IsError()) << result.AsString();
}

struct NewContentCase {
  const char* name;
  int result;            // of the central server's call
  std::string response;  // its answer
  std::list<std::string> newContent;
  std::vector<std::string> logLines;
};

// Test names show the case, not its bytes.
void PrintTo(const NewContentCase& c, std::ostream* out) { *out << c.name; }

const NewContentCase kNewContentCases[] = {
    {"EndingRemovedEmptyDropped",
     0,
     ModifiedFileListAnswer({"/A\\/\\/", "", "/B"}),
     {"/A", "/B"},
     {"Response: '<CNMessage", "Discovered new content [/A\\/\\/]", "Removing '\\/\\/'. new content[/A]",
      "Server returned empty content, skipping...", "Discovered new content [/B]"}},
    {"EndingIgnoresCaseAndGoesOnce", 0, ModifiedFileListAnswer({"/C\\/\\/\\/\\/"}), {"/C\\/\\/"}, {}},
    {"RefusedRequest",
     7,
     "",
     {},
     {"Zentrave failed to recognize GetModifiedFileListReq request, new content feature disabled for this scan"}},
    {"EmptyAnswer",
     0,
     "",
     {},
     {"GetModifiedFileListReq response is empty. No new subclient content added since previous backup. Result=0"}},
    {"UnreadableAnswer",
     0,
     "<CNMessage",
     {},
     {"GetModifiedFileListReq failed, result=1, response=<CNMessage, defaulting to no new subclient content"}},
    {"AnswerOfAnotherMessage",
     0,
     "<CNMessage ns=\"30\" id=\"372\"></CNMessage>",
     {},
     {"GetModifiedFileListReq failed, result=2"}},
};

class NewContentTest : public ScanConfigTest, public ::testing::WithParamInterface<NewContentCase> {};

TEST_P(NewContentTest, ServerAnswerBecomesTheFifthList) {
  const NewContentCase& c = GetParam();
  RecordRegistry::Instance().SetModifiedFileListReply(c.result, c.response);
  CWqError result = SendConfig({"/QSYS.LIB/A.LIB"}, 2);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(c.newContent, phase->m_newContent);
  EXPECT_TRUE(log.Has("Loading new content filters for non-full backup."));
  for (const std::string& line : c.logLines) EXPECT_TRUE(log.Has(line)) << line;
  SimConnectionRecord program = Program(phase);
  std::shared_ptr<const ClScanConfigMsg> config = SimScanProgram::ScanConfig(program);
  ASSERT_NE(nullptr, config);
  EXPECT_EQ(c.newContent, config->getNewContent());
}

INSTANTIATE_TEST_SUITE_P(Cases, NewContentTest, ::testing::ValuesIn(kNewContentCases),
                         [](const ::testing::TestParamInfo<NewContentCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ScanConfigTest, SecondConfigurationAppendsTheNewContentAgain) {
  RecordRegistry::Instance().SetModifiedFileListReply(0, ModifiedFileListAnswer({"/A", "/B"}));
  CWqError result = SendConfig({"/QSYS.LIB/A.LIB"}, 2, SimScript().Expect(SCAN_CONFIG_MSG));
  ASSERT_FALSE(result.IsError()) << result.AsString();
  std::list<std::string> content{"/QSYS.LIB/B.LIB"};
  result = phase->sendScanConfig(content, second, third, fourth, options);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ((std::list<std::string>{"/A", "/B", "/A", "/B"}), phase->m_newContent);
  SimConnectionRecord program = Program(phase);
  ASSERT_GE(program.received.size(), 3u);
  const ClScanConfigMsg* last = dynamic_cast<const ClScanConfigMsg*>(program.received[2].get());
  ASSERT_NE(nullptr, last);
  EXPECT_EQ((std::list<std::string>{"/A", "/B", "/A", "/B"}), last->getNewContent());
  EXPECT_EQ(3u, options.size()) << "each call appends its flag";
}

TEST_F(ScanConfigTest, NewContentWithoutSubclientIsNone) {
  // A fresh object knows no application: no subclient, no request.
  std::unique_ptr<ProxyScan> fresh(createProxyScan());
  CWqError result = fresh->LoadNewContentFilter();
  EXPECT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(fresh->m_newContent.empty());
  EXPECT_TRUE(log.Has("Failed to derive Subclient object from NumericAppId. New scan contents cannot be considered"));
  EXPECT_TRUE(RecordRegistry::Instance().ModifiedFileListRequests().empty());
}

TEST_F(ScanConfigTest, EmptyContentListIsRefused) {
  CWqError result = SendConfig({}, 2);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
  EXPECT_EQ(1u, options.size()) << "nothing appended";
  EXPECT_TRUE(RecordRegistry::Instance().ModifiedFileListRequests().empty());
  EXPECT_EQ(nullptr, SimScanProgram::ScanConfig(Program(phase)));
}

}  // namespace
