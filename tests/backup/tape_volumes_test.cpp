// Tape information in and out, the client's volume list, component GUIDs and
// the case-insensitive prefix comparison.
#include <map>
#include <string>
#include <vector>

#include "BackupTestUtil.h"
#include "ClTapeMsgs.h"
#include "FXString.h"
#include "GetObjectGuid.h"

namespace backuptest {
namespace {

namespace sim = SimBackupProgram;

std::string Guid(const std::string& path) {
  std::string guid;
  GetObjectGuid(path, 0, '/', guid);
  return guid;
}

std::string Argument(const ClProxyMsg& message, const char* name) {
  std::string value = "<none>";
  const ClTapeInfoMsg* tape = dynamic_cast<const ClTapeInfoMsg*>(&message);
  if (tape) tape->getArgument(name, value);
  return value;
}

class BackupTapeVolumesTest : public BackupTest {
 protected:
  std::unique_ptr<TestBackup> StartStream(const SimScript& stream) {
    SimBackupProgram::Options options;
    options.sendControlPort = false;
    options.sendVolumeList = false;
    return Started(sim::Scripted(stream, options), false);
  }
  // The TAPE_INFO_MSG answers the program received, in order.
  std::vector<std::shared_ptr<ClProxyMsg>> TapeAnswers(std::unique_ptr<TestBackup>& phase) {
    std::vector<std::shared_ptr<ClProxyMsg>> answers;
    for (const std::shared_ptr<ClProxyMsg>& message : Finish(phase).received)
      if (message->getMsgType() == TAPE_INFO_MSG) answers.push_back(message);
    return answers;
  }
};

TEST_F(BackupTapeVolumesTest, TapeAnswerBeforeAnyReportSendsEmptyClientValues) {
  std::unique_ptr<TestBackup> phase = StartStream(SimScript().Expect(TAPE_INFO_MSG).Expect(TAPE_INFO_MSG));
  ASSERT_TRUE(phase);
  std::string barcode = "x", serial = "y";
  EXPECT_FALSE(phase->getTapeInfo(barcode, serial).IsError());
  EXPECT_EQ("", barcode);
  EXPECT_EQ("", serial);
  ASSERT_FALSE(phase->sendTapeInfo("BC0001", "SER1", false).IsError());
  ASSERT_FALSE(phase->sendTapeInfo("BC0002", "SER2", true).IsError());
  const std::vector<std::shared_ptr<ClProxyMsg>> answers = TapeAnswers(phase);
  ASSERT_EQ(2u, answers.size());
  const ClTapeInfoMsg& first = dynamic_cast<const ClTapeInfoMsg&>(*answers[0]);
  EXPECT_EQ("BC0001", first.currentTapeBarCode());
  EXPECT_EQ("SER1", first.currentDriveSerial());
  EXPECT_EQ("", Argument(first, ClTapeInfoMsg::keyMessage_Key));
  EXPECT_EQ("", Argument(first, ClTapeInfoMsg::keyMSGQName));
  EXPECT_EQ("0", Argument(first, ClTapeInfoMsg::keyInitTape));
  EXPECT_EQ("1", Argument(*answers[1], ClTapeInfoMsg::keyInitTape));
}

// Each report replaces all four fields (a missing argument empties its
// field), a full tape only the barcode, and the answer hands the client's
// values back.
TEST_F(BackupTapeVolumesTest, ReportsFullTapesAndAnswers) {
  coretest::SetTimeout("TIMEOUT_NEXT_FILE", 5);
  SimScript stream = SimScript()
                         .Reply(sim::TapeInfo("BC0001", "SER1", "KEY1", "QSYSOPR"))
                         .Expect(TAPE_INFO_MSG)
                         .Reply(sim::TapeInfo("BC0002", "SER2", nullptr, "QUEUE2"))
                         .Expect(TAPE_INFO_MSG)
                         .Reply(sim::TapeFull("BC0003"))
                         .Reply(sim::Stats(0, 0, 0));
  std::unique_ptr<TestBackup> phase = StartStream(stream);
  ASSERT_TRUE(phase);
  std::string barcode, serial;

  ASSERT_EQ(RECV_STATUS_TAPE_INFO, StatusOf(phase->recvNextFile()));
  phase->getTapeInfo(barcode, serial);
  EXPECT_EQ("BC0001", barcode);
  EXPECT_EQ("SER1", serial);
  ASSERT_FALSE(phase->sendTapeInfo("BC0001", "SER7", true).IsError());

  ASSERT_EQ(RECV_STATUS_TAPE_INFO, StatusOf(phase->recvNextFile()));
  EXPECT_EQ("", phase->m_sMessageKey);  // the second report has none
  EXPECT_EQ("QUEUE2", phase->m_sMSGQName);
  ASSERT_FALSE(phase->sendTapeInfo("BC0002", "SER8", false).IsError());

  ASSERT_EQ(RECV_STATUS_TAPE_FULL, StatusOf(phase->recvNextFile()));
  phase->getTapeInfo(barcode, serial);
  EXPECT_EQ("BC0003", barcode);
  EXPECT_EQ("SER8", serial);  // of the last answer
  ASSERT_EQ(RECV_STATUS_COLLECT_DONE, StatusOf(phase->recvNextFile()));

  const std::vector<std::shared_ptr<ClProxyMsg>> answers = TapeAnswers(phase);
  ASSERT_EQ(2u, answers.size());
  EXPECT_EQ("KEY1", Argument(*answers[0], ClTapeInfoMsg::keyMessage_Key));
  EXPECT_EQ("QSYSOPR", Argument(*answers[0], ClTapeInfoMsg::keyMSGQName));
  EXPECT_EQ("1", Argument(*answers[0], ClTapeInfoMsg::keyInitTape));
  EXPECT_EQ("", Argument(*answers[1], ClTapeInfoMsg::keyMessage_Key));
  EXPECT_EQ("QUEUE2", Argument(*answers[1], ClTapeInfoMsg::keyMSGQName));
  EXPECT_EQ("0", Argument(*answers[1], ClTapeInfoMsg::keyInitTape));
}

TEST_F(BackupTapeVolumesTest, FailedAnswerKeepsTheNewTape) {
  std::unique_ptr<TestBackup> phase = StartStream(SimScript().Reset());
  ASSERT_TRUE(phase);
  ASSERT_TRUE(daemon.WaitForProgram(0, 20));  // its reset has reached this side on loopback
  EXPECT_TRUE(phase->sendTapeInfo("BC0009", "SER9", false).IsError());
  std::string barcode, serial;
  phase->getTapeInfo(barcode, serial);
  EXPECT_EQ("BC0009", barcode);
  EXPECT_EQ("SER9", serial);
}

TEST_F(BackupTapeVolumesTest, VolumeListsAndComponentGuids) {
  const struct {
    const char* name;
    std::string list;
    std::vector<std::string> order;  // the map's keys, walked first to last
    std::map<std::string, std::string> owners;  // file -> mount path whose GUID it gets
  } cases[] = {
      {"longest first", "/;/data;/data2", {"/data2", "/data", "/"}, {{"/data2/x", "/data2"}}},
      {"deeper mount wins", "/db;/db/arch", {"/db/arch", "/db"}, {{"/db/arch/f", "/db/arch"}}},
      {"equal lengths descending", "/aa;/ab", {"/ab", "/aa"}, {{"/ab/f", "/ab"}}},
      {"whole components only", "/data;/", {"/data", "/"}, {{"/data2/x", "/"}}},
      {"empty pieces dropped, duplicates once", ";/a;;/b;/a;", {"/b", "/a"}, {{"/a/f", "/a"}}},
      {"nothing matches", "/x", {"/x"}, {{"/y/f", ""}}},
      {"trailing slashes count in the order", "/a//////;/a/b", {"/a//////", "/a/b"}, {{"/a/b/c", "/a//////"}}},
      {"the mount itself and a relative mount", "/a/;rel", {"rel", "/a/"}, {{"/a", "/a/"}}},
      {"a relative file under a relative mount", "rel;/", {"rel", "/"}, {{"rel/x", "rel"}}},
      {"a double slash", "/a", {"/a"}, {{"/a//b", "/a"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TestBackup> phase = StartStream(SimScript().Reply(sim::VolumeList(c.list)));
    ASSERT_TRUE(phase);
    EXPECT_EQ("", phase->getComponentGUID("/data/x"));  // no list yet
    ASSERT_FALSE(phase->getClientVolumeList().IsError());
    std::vector<std::string> order;
    for (const auto& entry : phase->m_mountGUIDs) {
      order.push_back(entry.first);
      EXPECT_EQ(Guid(entry.first), entry.second);
    }
    EXPECT_EQ(c.order, order);
    for (const auto& owner : c.owners)
      EXPECT_EQ(owner.second.empty() ? "" : Guid(owner.second), phase->getComponentGUID(owner.first)) << owner.first;
  }
}

// A list of more mount paths than one job holds is refused whole, before a
// GUID is made; at the bound it is taken.
TEST_F(BackupTapeVolumesTest, MountCountBound) {
  for (const size_t count : {ProxyBackup::kMaxMounts, ProxyBackup::kMaxMounts + 1}) {
    SCOPED_TRACE(count);
    std::string list = "/keep";
    for (size_t i = 1; i < count; ++i) list += ";/m" + std::to_string(i);
    std::unique_ptr<TestBackup> phase =
        StartStream(SimScript().Reply(sim::VolumeList("/keep")).Reply(sim::VolumeList(list + ";;")));
    ASSERT_TRUE(phase);
    ASSERT_FALSE(phase->getClientVolumeList().IsError());
    CWqError result = phase->getClientVolumeList();
    if (count == ProxyBackup::kMaxMounts) {
      ASSERT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(count, phase->m_mountGUIDs.size());
      EXPECT_EQ("", phase->getComponentGUID("/nowhere/f"));
      EXPECT_EQ(Guid("/m77"), phase->getComponentGUID("/m77/f"));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
      EXPECT_NE(std::string::npos, result.AsString().find("volume list holds more than 65536"));
      EXPECT_EQ(1u, phase->m_mountGUIDs.size());
      EXPECT_EQ(Guid("/keep"), phase->getComponentGUID("/keep/f"));
    }
  }
}

// The first answer is kept until the next announcement, whatever the file.
TEST_F(BackupTapeVolumesTest, GuidIsCachedUntilTheNextAnnouncement) {
  SimScript stream = SimScript()
                         .Reply(sim::VolumeList("/a;/b"))
                         .Reply(sim::CollectRequest())
                         .Expect(COLLECT_FILE_MSG);
  std::unique_ptr<TestBackup> phase = StartStream(stream);
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->getClientVolumeList().IsError());
  EXPECT_EQ(Guid("/a"), phase->getComponentGUID("/a/1"));
  EXPECT_EQ(Guid("/a"), phase->getComponentGUID("/b/1"));
  EXPECT_TRUE(log.Has("will use cached GUID"));
  ASSERT_FALSE(phase->sendCollectFile(1, 0).IsError());
  EXPECT_EQ(Guid("/b"), phase->getComponentGUID("/b/1"));
}

TEST_F(BackupTapeVolumesTest, VolumeListFailuresKeepThePreviousMap) {
  coretest::SetTimeout("TIMEOUT_FILE_DATA", 1);
  const struct {
    const char* name;
    std::shared_ptr<ClProxyMsg> after;  // null: silence
    std::string text;
  } cases[] = {
      {"empty list", sim::VolumeList(""), "Couldn't get volume list from client"},
      {"a header", sim::Header(FileHeader("/f")), "Expected CLIENT_VOLUME_LIST message. Got 16393 instead"},
      {"silence", nullptr, "Couldn't get volume list message from client"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimScript stream = SimScript().Reply(sim::VolumeList("/keep"));
    if (c.after) stream.Reply(c.after);
    std::unique_ptr<TestBackup> phase = StartStream(stream);
    ASSERT_TRUE(phase);
    ASSERT_FALSE(phase->getClientVolumeList().IsError());
    CWqError result = phase->getClientVolumeList();
    EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774)) << result.AsString();
    EXPECT_NE(std::string::npos, coretest::Texts(result).find(c.text)) << coretest::Texts(result);
    ASSERT_EQ(1u, phase->m_mountGUIDs.size());
    EXPECT_EQ("/keep", phase->m_mountGUIDs.begin()->first);
  }
}

TEST(FXStringTest, CompareLeftNoCase) {
  EXPECT_EQ(0, FXString::CompareLeftNoCase("/Data/file", "/data"));
  EXPECT_EQ(0, FXString::CompareLeftNoCase("/data", ""));
  EXPECT_NE(0, FXString::CompareLeftNoCase("/da", "/data"));
  EXPECT_LT(FXString::CompareLeftNoCase("/Abc", "/b"), 0);
  EXPECT_GT(FXString::CompareLeftNoCase("/c", "/B"), 0);
}

}  // namespace
}  // namespace backuptest
