// Proxy::IsVTLBackup: the media manager's library list decides; the hook
// file "vtl" only turns a list without both kinds into true.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "App_ExecuteSP.h"
#include "CoreTestUtil.h"
#include "MediaManagerMsgs.h"

using namespace coretest;

namespace {

typedef std::vector<std::pair<int64_t, int64_t>> Libraries;  // (id, type)

std::string LibraryReply(const Libraries& libraries) {
  MediaManager::GetLibInfoForSubClientResp reply;
  std::vector<CNMessageBase>* list = reply.getlistobject(1, 1, 0, 0, true);
  for (const auto& library : libraries) {
    MediaManager::LibraryInfo info;
    info.setint64(1, 1, library.first);
    info.setint64(4, 4, library.second);
    list->push_back(info);
  }
  std::string text;
  reply.serialize(text, false);
  return text;
}

std::vector<int64_t> Ids(const std::vector<MediaManager::LibraryInfo>& libraries) {
  std::vector<int64_t> ids;
  for (const MediaManager::LibraryInfo& library : libraries) ids.push_back(library.getint64(1));
  return ids;
}

class VTLBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordRegistry::Instance().Reset();
    ASSERT_FALSE(hooks.path().empty());
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }

  ScopedHookFolder hooks;
  ScopedLogCapture log;
};

TEST_F(VTLBackupTest, LibraryKindsDecideAndTheHookFileCompletes) {
  struct Case {
    const char* name;
    Libraries libraries;
    bool withoutHook;
    std::vector<int64_t> kept;
  } cases[] = {
      {"both kinds", {{3, 4}, {5, 0}, {0, 4}, {-2, 0}, {7, 2}}, true, {3, 5, 7}},
      {"VTL only", {{3, 4}, {7, 2}}, false, {3, 7}},
      {"non-VTL only", {{5, 0}}, false, {5}},
      {"the VTL entry is skipped (id 0)", {{0, 4}, {5, 0}}, false, {5}},
      {"id cut to 32 bits: positive", {{0x100000003LL, 4}, {5, 0}}, true, {0x100000003LL, 5}},
      {"id cut to 32 bits: negative", {{0x80000000LL, 4}, {5, 0}}, false, {5}},
      {"empty list", {}, false, {}},
  };
  for (bool hookFile : {false, true}) {
    if (hookFile) {
      ASSERT_TRUE(hooks.Create("vtl"));
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (hookFile ? ", hook file" : ""));
      RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, LibraryReply(c.libraries));
      log.Clear();
      std::vector<MediaManager::LibraryInfo> libraries(1);  // replaced
      EXPECT_EQ(c.withoutHook || hookFile, Proxy::IsVTLBackup(42, libraries));
      EXPECT_EQ(c.kept, Ids(libraries));
      EXPECT_EQ(!c.withoutHook && hookFile, log.Has("hook file /tmp/vtl found"));
    }
  }
  EXPECT_TRUE(log.Has("In 0 data path listed: VTL Library not found, Non-VTL Library not found"));

  // The request names the subclient.
  auto requests = RecordRegistry::Instance().StoredProcedureRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(Tag_GetLibInfoForSubClientReq, requests.back().first);
  MediaManager::GetLibInfoForSubClientReq request;
  ASSERT_EQ(CN_PARSE_OK, request.unserialize(requests.back().second));
  EXPECT_EQ(42, request.getint64(1));
}

TEST_F(VTLBackupTest, FailedRequestOrMissingListIsFalseWhateverTheHookFile) {
  ASSERT_TRUE(hooks.Create("vtl"));
  struct Case {
    const char* name;
    int result;
    std::string reply;
    const char* line;
  } cases[] = {
      {"request fails", 5, LibraryReply({{3, 4}, {5, 0}}),
       "Error [5] returned from App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq)."},
      {"reply without a list", 0, "<CNMessage ns=\"10\" id=\"125\"></CNMessage>",
       "No library information provided for subclient 42"},
      {"reply that does not parse", 0, "<garbage", "No library information provided for subclient 42"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordRegistry::Instance().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, c.result, c.reply);
    log.Clear();
    std::vector<MediaManager::LibraryInfo> libraries(2);  // left as it was
    EXPECT_FALSE(Proxy::IsVTLBackup(42, libraries));
    EXPECT_EQ(2u, libraries.size());
    EXPECT_TRUE(log.Has(c.line));
    EXPECT_FALSE(log.Has("hook file"));
  }
}

}  // namespace
