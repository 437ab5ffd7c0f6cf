// Job start with the control port, collect-file announcements, the
// synthetic-full collect file and the job completion.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "BackupTestUtil.h"
#include "ClFileStreamMsgs.h"
#include "postops/PostOpsTestUtil.h"

namespace backuptest {
namespace {

using SimBackupProgram::CollectRequest;

// What the program received after the job start, as types.
std::vector<ClProxyMsgType> AfterStart(const SimConnectionRecord& record) {
  std::vector<ClProxyMsgType> types = Types(record);
  if (!types.empty() && types[0] == JOB_START_MSG) types.erase(types.begin());
  return types;
}

std::vector<uint32_t> BlockSizes(const SimConnectionRecord& record, std::vector<uint8_t>* data = nullptr) {
  std::vector<uint32_t> sizes;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) {
    const ClBlobMsg* block = dynamic_cast<const ClBlobMsg*>(message.get());
    if (!block || message->getMsgType() != FILE_DATA_MSG) continue;
    sizes.push_back(block->getBlobSize());
    if (data) data->insert(data->end(), block->getBlob(), block->getBlob() + block->getBlobSize());
  }
  return sizes;
}

class BackupCollectTest : public BackupTest {};

TEST_F(BackupCollectTest, ControlPortOfSyncAndVtlJobs) {
  struct Case {
    const char* name;
    bool sync, vtl;
    uint32_t expectedPort;  // what the collect file then carries in place of 5
  } cases[] = {
      {"sync job", true, false, 8403},
      {"VTL job", false, true, 8403},
      {"plain job", false, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimBackupProgram::Options options;
    options.eventsBeforePort = {SimBackupProgram::Event(0x13000001, {"one"}), SimBackupProgram::Event(0x13000002)};
    EventJournal::Instance().Reset();
    SimClientDaemon local;
    ASSERT_FALSE(local.Start().IsError());
    coretest::FillRecords(local.GetPort());
    SetSubclient("iSeriesSCCustomFlag", false);
    SetSubclient("iSeriesBackupSyncLibFlag", c.sync);
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), "<options/>");
    SimScript stream = SimScript().Reply(CollectRequest()).Expect(COLLECT_FILE_MSG);
    local.SetProgram(SimBackupProgram::kCommand, SimBackupProgram::Scripted(stream, options));
    std::unique_ptr<TestBackup> phase(new TestBackup);
    phase->m_bVTLBackup = c.vtl;
    CWqError result = phase->init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, 1, -5, "127.0.0.1", 0);
    if (!result.IsError()) result = phase->launchClientProcess();
    if (!result.IsError()) result = phase->acceptClientProcessConnection();
    if (!result.IsError()) result = phase->sendJobStart(true);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(c.sync, phase->m_bSyncBackup);
    const bool portExpected = c.sync || c.vtl;
    EXPECT_EQ(portExpected ? 8403u : 0u, phase->m_nControlPort);
    // Raised one by one, before the port.
    EXPECT_EQ(portExpected ? 2u : 0u, EventJournal::Instance().Entries().size()) << EventJournal::Instance().FormatAll();
    result = phase->sendCollectFile(5, 77);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    phase.reset();
    ASSERT_TRUE(local.WaitForProgram(0, 20));
    SimConnectionRecord record = local.GetProgramRecord(0);
    ASSERT_EQ(2u, record.received.size());
    const ClCollectFileMsg* announcement = dynamic_cast<const ClCollectFileMsg*>(record.received[1].get());
    ASSERT_TRUE(announcement);
    EXPECT_EQ(static_cast<int32_t>(c.expectedPort), announcement->getNumber());
    EXPECT_EQ(77u, announcement->getRestartOffset());
  }
}

// A sync job whose host does not wait for the port still sends the member
// (0 on a fresh object) in place of the number.
TEST_F(BackupCollectTest, SyncJobWithoutThePortSendsTheMember) {
  SetSubclient("iSeriesBackupSyncLibFlag", true);
  SimBackupProgram::Options options;
  options.sendControlPort = false;
  std::unique_ptr<TestBackup> phase = Started(
      SimBackupProgram::Scripted(SimScript().Reply(CollectRequest()).Expect(COLLECT_FILE_MSG), options), false);
  ASSERT_TRUE(phase);
  EXPECT_TRUE(phase->m_bSyncBackup);
  ASSERT_FALSE(phase->sendCollectFile(5, 0).IsError());
  SimConnectionRecord record = Finish(phase);
  ASSERT_EQ(2u, record.received.size());
  const ClCollectFileMsg* announcement = dynamic_cast<const ClCollectFileMsg*>(record.received[1].get());
  ASSERT_TRUE(announcement);
  EXPECT_EQ(0, announcement->getNumber());
}

TEST_F(BackupCollectTest, ShortControlPortBlobFailsAndKeepsThePort) {
  SetSubclient("iSeriesBackupSyncLibFlag", true);
  SimBackupProgram::Options options;
  options.controlPortBlob = std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{0x20, 0xD3, 0x01});
  std::unique_ptr<TestBackup> phase = Connect(SimBackupProgram::Scripted(SimScript(), options));
  ASSERT_TRUE(phase);
  phase->m_nControlPort = 4444;
  CWqError result = phase->sendJobStart(true);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
  EXPECT_EQ(4444u, phase->m_nControlPort);
}

TEST_F(BackupCollectTest, AnnouncementsAndJobComplete) {
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(
      SimScript().Reply(CollectRequest()).Reply(CollectRequest()).Reply(CollectRequest())));
  ASSERT_TRUE(phase);
  phase->m_sCachedGUID = "{cached}";
  ASSERT_FALSE(phase->sendSCCollectFile().IsError());
  EXPECT_EQ("", phase->m_sCachedGUID);
  ASSERT_FALSE(phase->sendCollectFile(3, 0).IsError());
  phase->m_sCachedGUID = "{cached}";
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  EXPECT_EQ("{cached}", phase->m_sCachedGUID);
  EXPECT_TRUE(log.Has("Sent SC collect file message"));
  EXPECT_TRUE(log.Has("Sent collect file message, collectNum=3, restartOffset=0"));
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ((std::vector<ClProxyMsgType>{SC_COLLECT_FILE_MSG, COLLECT_FILE_MSG, JOB_COMPLETE_MSG}),
            AfterStart(record));
}

TEST_F(BackupCollectTest, NoRequestMeansNothingIsSent) {
  coretest::SetTimeout("TIMEOUT_COLLECT_FILE_REQUEST", 1);
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(SimScript()));
  ASSERT_TRUE(phase);
  CWqError result = phase->sendJobComplete();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Failed to receive collect file request message"));
  EXPECT_TRUE(AfterStart(Finish(phase)).empty());
}

TEST_F(BackupCollectTest, SyntheticFullBlocks) {
  struct Case {
    size_t size;
    std::vector<uint32_t> blocks;
  } cases[] = {
      {262144, {262144}},
      {262145, {262144, 1}},
      {0, {}},
      {3 * 262144 + 17, {262144, 262144, 262144, 17}},
  };
  postopstest::ListFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::vector<uint8_t> content = postopstest::Pattern(c.size);
    ASSERT_TRUE(folder.Write(content));
    SimClientDaemon local;
    ASSERT_FALSE(local.Start().IsError());
    coretest::FillRecords(local.GetPort());
    SetSubclient("iSeriesSCCustomFlag", false);
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), "<options/>");
    local.SetProgram(SimBackupProgram::kCommand, SimBackupProgram::Scripted(SimScript().Reply(CollectRequest())));
    std::unique_ptr<TestBackup> phase(new TestBackup);
    CWqError result = phase->init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, 1, -5, "127.0.0.1", 0);
    if (!result.IsError()) result = phase->launchClientProcess();
    if (!result.IsError()) result = phase->acceptClientProcessConnection();
    if (!result.IsError()) result = phase->sendJobStart(true);
    if (!result.IsError()) result = phase->sendSyntheticFullCollectFile(folder.ListPath(), 65535);
    ASSERT_FALSE(result.IsError()) << result.AsString();
    phase.reset();
    ASSERT_TRUE(local.WaitForProgram(0, 20));
    SimConnectionRecord record = local.GetProgramRecord(0);
    std::vector<uint8_t> received;
    EXPECT_EQ(c.blocks, BlockSizes(record, &received));
    EXPECT_TRUE(content == received) << "the bytes differ";
    std::vector<ClProxyMsgType> types = AfterStart(record);
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(SYNTHETIC_FULL_COLLECT_FILE_MSG, types.front());
    EXPECT_EQ(GOOD_EOF_MSG, types.back());
    const ClSyntheticFullCollectFileMsg* announcement =
        dynamic_cast<const ClSyntheticFullCollectFileMsg*>(record.received[1].get());
    ASSERT_TRUE(announcement);
    EXPECT_EQ(65535, announcement->getNumber());
  }
}

// A FIFO hands out at most its capacity per read: only the last block may
// still be short.
TEST_F(BackupCollectTest, FifoCollectFileFillsEachBlock) {
  postopstest::ListFolder folder;
  ASSERT_TRUE(folder.MakeFifo(65536));
  const std::vector<uint8_t> fed = postopstest::Pattern(2 * 262144 + 4321);
  std::thread writer([&] {
    for (size_t at = 0; at < fed.size(); at += 10000) {
      const std::vector<uint8_t> piece(fed.begin() + at, fed.begin() + std::min(fed.size(), at + 10000));
      if (!folder.Feed(piece)) break;
    }
    folder.CloseFifo();
  });
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(SimScript().Reply(CollectRequest())));
  CWqError result = phase ? phase->sendSyntheticFullCollectFile(folder.ListPath(), 3)
                          : FXErrorUtil::ErrorErrNo(FX_HERE, ENOTCONN);
  writer.join();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  SimConnectionRecord record = Finish(phase);
  std::vector<uint8_t> received;
  EXPECT_EQ((std::vector<uint32_t>{262144, 262144, 4321}), BlockSizes(record, &received));
  EXPECT_TRUE(fed == received);
  EXPECT_EQ(GOOD_EOF_MSG, record.received.back()->getMsgType());
}

TEST_F(BackupCollectTest, UnopenableSyntheticFullIsAFailure) {
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(SimScript().Reply(CollectRequest())));
  ASSERT_TRUE(phase);
  CWqError result = phase->sendSyntheticFullCollectFile("/nonexistent/proxy/collect", 1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOENT)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Unable open collect file [/nonexistent/proxy/collect]"));
  EXPECT_EQ((std::vector<ClProxyMsgType>{SYNTHETIC_FULL_COLLECT_FILE_MSG}), AfterStart(Finish(phase)));
}

// The collect file is a FIFO: the phase sends its first block, then a
// read fails for real while the second fills (EAGAIN: the descriptor was
// made non-blocking and a read already waiting is interrupted). What was
// read goes out, the client is told the read error's text, and the call
// fails with it.
TEST_F(BackupCollectTest, ReadFailurePartWaySendsTheReadErrorInBadEof) {
  postopstest::ScopedInterruptSignal interrupt;
  ASSERT_TRUE(interrupt.Installed());
  postopstest::ListFolder folder;
  ASSERT_TRUE(folder.MakeFifo(1 << 19));
  const std::vector<uint8_t> fed = postopstest::Pattern(262144 + 1000);
  ASSERT_TRUE(folder.Feed(fed));
  const pthread_t caller = pthread_self();
  std::atomic<int> broken{0};
  SimScript stream = SimScript()
                         .Reply(CollectRequest())
                         .Expect(SYNTHETIC_FULL_COLLECT_FILE_MSG)
                         .Expect(FILE_DATA_MSG)
                         .Call([&](SimPeer&) {
                           const int reader = folder.FindReaderDescriptor();
                           const int flags = reader >= 0 ? fcntl(reader, F_GETFL) : -1;
                           if (flags < 0 || fcntl(reader, F_SETFL, flags | O_NONBLOCK) != 0) {
                             broken = -1;
                             folder.CloseFifo();
                             return CWqError::Success();
                           }
                           broken = 1;
                           postopstest::ScopedInterruptSignal::Interrupt(caller);
                           return CWqError::Success();
                         });
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Scripted(stream));
  ASSERT_TRUE(phase);
  CWqError result = phase->sendSyntheticFullCollectFile(folder.ListPath(), 2);
  ASSERT_EQ(1, broken.load());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EAGAIN)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("Failed to read data from file"));
  SimConnectionRecord record = Finish(phase);
  std::vector<uint8_t> received;
  EXPECT_EQ((std::vector<uint32_t>{262144, 1000}), BlockSizes(record, &received));
  EXPECT_TRUE(fed == received);
  ASSERT_EQ(BAD_EOF_MSG, record.received.back()->getMsgType());
  std::string text;
  dynamic_cast<const ClBadEofMsg&>(*record.received.back()).get(text);
  EXPECT_NE(std::string::npos, text.find("Failed to read data from file")) << text;
  EXPECT_EQ(std::string::npos, text.find("Success")) << text;
}

}  // namespace
}  // namespace backuptest
