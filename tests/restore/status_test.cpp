// The status list and its two readers, through the message handling that
// the receiver loop and the completion wait share (no thread here).
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "RestoreTestUtil.h"

namespace restoretest {
namespace {

using SimRestoreProgram::StatusEntry;

std::unique_ptr<ClProxyMsg> StatusMsg(const std::vector<uint8_t>& bytes) {
  return std::unique_ptr<ClProxyMsg>(
      new ClBlobMsg(ITEM_STATUS_MSG, ClBlobMsg::Copy, bytes.data(), static_cast<uint32_t>(bytes.size())));
}

std::unique_ptr<ClProxyMsg> StatusMsg(const std::vector<StatusEntry>& entries) {
  return StatusMsg(SimRestoreProgram::ItemStatusBytes(entries));
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override { phase.SetJob(); }
  coretest::ScopedLogCapture log{4};
  TestRestore phase;
};

TEST_F(StatusTest, ReadersTable) {
  struct Row {
    const char* name;
    uint32_t status;
    bool failedFile;  // reported as FAILED_FILE_MSG
    int myFileErrno;  // 0: success
    uint32_t delivered;
    bool stays;  // still delivered after getMyFileStatus
  };
  const uint32_t untouched = 0xdeadbeef;
  const Row rows[] = {
      {"restored", 5, false, 0, 0, true},
      {"status 3", 3, false, 233, 0x1700003E, true},
      {"status 4", 4, false, 234, 0x17000040, true},
      {"status 7", 7, false, 237, 7, true},
      {"failed file code 12", 12, true, 242, 12, true},
      // A failed file is never read as restored, deleted, not found or not
      // needed, whatever its code; code 0 is delivered as EIO.
      {"failed file code 0", 0, true, 230, EIO, true},
      {"failed file code 3", 3, true, 233, 3, true},
      {"failed file code 4", 4, true, 234, 4, true},
      {"failed file code 5 (EIO)", 5, true, 235, 5, true},
      {"failed file code 600", 600, true, 830, 600, true},
      {"overflow", static_cast<uint32_t>(INT_MAX), false, EPROTO, static_cast<uint32_t>(INT_MAX), true},
      {"data not needed", 600, false, 0, untouched, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestRestore restore;
    restore.SetCurrentFile("/QSYS.LIB/A.LIB/F.FILE");
    std::unique_ptr<ClProxyMsg> msg;
    if (row.failedFile) {
      msg.reset(new ClFailedFileMsg("/QSYS.LIB/A.LIB/F.FILE", static_cast<int32_t>(row.status), "client text"));
    } else if (row.status == 600) {
      msg.reset(new ClBlobMsg(FILE_DATA_NOT_NEEDED_MSG, ClBlobMsg::Copy, "/QSYS.LIB/A.LIB/F.FILE", 22));
    } else {
      msg = StatusMsg({{"/QSYS.LIB/A.LIB/F.FILE", "client text", row.status, 99}});
    }
    ASSERT_FALSE(restore.Handle(*msg, TestRestore::kReceiverSite).IsError());
    CWqError verdict = restore.getMyFileStatus();
    if (row.myFileErrno == 0) {
      EXPECT_FALSE(verdict.IsError()) << verdict.AsString();
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(verdict, row.myFileErrno)) << verdict.AsString();
      EXPECT_NE(std::string::npos, coretest::Texts(verdict).find("client text"));
    }
    EXPECT_EQ(row.status == 600 && !row.failedFile, restore.SkipFileData());
    std::string name, message;
    uint32_t status = untouched;
    uint64_t value = 0;
    CWqError pulled = restore.getFileRestoreStatusInfo(name, status, message, value);
    if (!row.stays) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(pulled, ENOENT));
      continue;
    }
    ASSERT_FALSE(pulled.IsError());
    EXPECT_EQ("/QSYS.LIB/A.LIB/F.FILE", name);
    EXPECT_EQ(row.delivered, status);
    EXPECT_EQ("client text", message);
    EXPECT_EQ(row.failedFile ? 0u : 99u, value);
  }
}

TEST_F(StatusTest, PayloadsEmptyThreeAndCut) {
  ASSERT_FALSE(phase.Handle(*StatusMsg(std::vector<uint8_t>()), TestRestore::kReceiverSite).IsError());
  EXPECT_EQ(0u, phase.StatusCount());
  EXPECT_TRUE(log.Has("reported 0 items"));

  const std::vector<StatusEntry> three = {{"a", "", 5, 1}, {"b", "m", 3, 2}, {"c", "n", 7, 3}};
  ASSERT_FALSE(phase.Handle(*StatusMsg(three), TestRestore::kCompletionSite).IsError());
  EXPECT_EQ(3u, phase.StatusCount());

  // Cut inside the second entry: the first is kept, the rest is EPROTO.
  std::vector<uint8_t> cut = SimRestoreProgram::ItemStatusBytes({{"d", "", 5, 4}, {"e", "x", 5, 5}});
  cut.resize(cut.size() - 3);
  for (TestRestore::MessageSite site : {TestRestore::kReceiverSite, TestRestore::kCompletionSite}) {
    CWqError result = phase.Handle(*StatusMsg(cut), site);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
  }
  EXPECT_EQ(5u, phase.StatusCount());
  std::vector<std::string> names;
  std::string name, message;
  uint32_t status = 0;
  uint64_t value = 0;
  while (!phase.getFileRestoreStatusInfo(name, status, message, value).IsError()) names.push_back(name);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "d"}), names);
}

TEST_F(StatusTest, RecordsBeforeTheHeaderDoNotFailTheFile) {
  // An earlier file of the same name failed; its record waits to be pulled.
  phase.SetCurrentFile("/a/f");
  ASSERT_FALSE(phase.Handle(*StatusMsg({{"/a/f", "old failure", 7, 0}}), TestRestore::kReceiverSite).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.getMyFileStatus(), 237));
  // The same name restored again: the old record is no verdict on it.
  phase.SetCurrentFile("/a/f");
  EXPECT_FALSE(phase.getMyFileStatus().IsError());
  // Restored, then a failure of this file: the failure counts.
  ASSERT_FALSE(phase.Handle(*StatusMsg({{"/a/f", "", 5, 0}, {"/a/f", "now", 4, 0}}), TestRestore::kReceiverSite)
                   .IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase.getMyFileStatus(), 234));
  EXPECT_EQ(3u, phase.StatusCount());
}

TEST_F(StatusTest, ManyPendingRecordsOfThisAndOtherNames) {
  // Restored items of the current name and of others are no verdict; the
  // one verdict among them is found, and every record is delivered in order.
  // (What a check costs with them is a row of restore_send_bench.)
  g_ptrLogWriter->SetLevel(2);  // not a line per record
  std::vector<StatusEntry> entries;
  for (int i = 0; i < 20000; ++i) entries.push_back({"/other/" + std::to_string(i), "", 5, 0});
  ASSERT_FALSE(phase.Handle(*StatusMsg(entries), TestRestore::kReceiverSite).IsError());
  phase.SetCurrentFile("/mine");
  entries.assign(20000, StatusEntry{"/mine", "", 5, 0});
  ASSERT_FALSE(phase.Handle(*StatusMsg(entries), TestRestore::kReceiverSite).IsError());
  for (int i = 0; i < 100; ++i) ASSERT_FALSE(phase.getMyFileStatus().IsError());
  ASSERT_FALSE(phase.Handle(*StatusMsg({{"/mine", "late failure", 7, 0}}), TestRestore::kReceiverSite).IsError());
  ASSERT_FALSE(phase.Handle(*SimRestoreProgram::DataNotNeeded("/mine"), TestRestore::kReceiverSite).IsError());
  for (int i = 0; i < 2; ++i) {
    CWqError verdict = phase.getMyFileStatus();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(verdict, 237)) << verdict.AsString();
  }
  EXPECT_FALSE(phase.SkipFileData());
  EXPECT_EQ(40002u, phase.StatusCount());
  std::string name, message;
  uint32_t status = 0;
  uint64_t value = 0;
  size_t delivered = 0;
  while (!phase.getFileRestoreStatusInfo(name, status, message, value).IsError()) {
    const std::string expected = delivered < 20000 ? "/other/" + std::to_string(delivered) : "/mine";
    ASSERT_EQ(expected, name) << delivered;
    ++delivered;
  }
  EXPECT_EQ(40001u, delivered);  // the not-needed record is dropped unseen
  EXPECT_EQ(7u, status);
}

TEST_F(StatusTest, DiskFullAndReceiverErrorStick) {
  phase.SetCurrentFile("/a");
  ClEmptyMsg full(DISK_FULL_MSG);
  ASSERT_FALSE(phase.Handle(full, TestRestore::kReceiverSite).IsError());
  for (int i = 0; i < 2; ++i) {
    CWqError result = phase.getMyFileStatus();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOSPC));
    EXPECT_NE(std::string::npos, coretest::Texts(result).find("Disk FULL error from client"));
  }
  CWqError during = phase.Handle(full, TestRestore::kCompletionSite);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(during, ENOSPC));
}

TEST_F(StatusTest, CompletionSiteTable) {
  struct Row {
    const char* name;
    std::shared_ptr<ClProxyMsg> msg;
    bool finished;
    int error;  // 0: none
  };
  const Row rows[] = {
      {"end of restore", SimRestoreProgram::Empty(GOOD_EOF_MSG), true, 0},
      {"tape close", SimRestoreProgram::Empty(TAPE_CLOSE_MSG), false, 0},
      {"event", SimRestoreProgram::Event(0x17000001), false, 0},
      {"data not needed", SimRestoreProgram::DataNotNeeded("/x"), false, 0},
      {"failed file", SimRestoreProgram::FailedFile("/x", 3, "t"), false, 0},
      {"probe from client", SimRestoreProgram::Empty(SERVICE_CHECK_MSG), false, EFAULT},
      {"unknown empty type", SimRestoreProgram::Empty(static_cast<ClProxyMsgType>(0x80ee)), false, EFAULT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bool finished = false;
    CWqError result = phase.Handle(*row.msg, TestRestore::kCompletionSite, &finished);
    EXPECT_EQ(row.finished, finished);
    if (row.error) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, row.error)) << result.AsString();
    } else {
      EXPECT_FALSE(result.IsError()) << result.AsString();
    }
  }
}

TEST_F(StatusTest, ReceiverSiteIgnoresProbesAndUnknownTypes) {
  for (ClProxyMsgType type : {SERVICE_CHECK_MSG, static_cast<ClProxyMsgType>(0x80ee), TAPE_CLOSE_MSG}) {
    bool finished = true;
    EXPECT_FALSE(phase.Handle(*SimRestoreProgram::Empty(type), TestRestore::kReceiverSite, &finished).IsError());
    EXPECT_FALSE(finished);
  }
  EXPECT_TRUE(log.Has("client finished processing current offsets"));
}

}  // namespace
}  // namespace restoretest
