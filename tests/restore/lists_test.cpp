// Pre-headers, unmodified pre-headers and archive entries: the escaping and
// chunking on their boundaries, and the sends "RST.EXE" receives.
#include <string>
#include <vector>

#include "restore/RestoreLists.h"
#include "RestoreTestUtil.h"

namespace restoretest {
namespace {

using RestoreLists::Items;
using RestoreLists::kChunkLimit;

TEST(RestoreListsTest, EscapeComma) {
  struct Row {
    const char* item;
    const char* escaped;
  };
  const Row rows[] = {
      {"", ""}, {"a,b%c", "a%cb%%c"}, {",,,", "%c%c%c"}, {"%", "%%"}, {"plain/name.txt", "plain/name.txt"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.escaped, escapeComma(row.item)) << row.item;
  EXPECT_EQ("", escapeComma(nullptr));
  const std::string commas(100000, ',');
  EXPECT_EQ(200000u, escapeComma(commas.c_str()).size());
}

// Chunk sizes of a list cut by one chunker: the item counts per chunk.
template <class Cut>
std::vector<size_t> Counts(const Items& items, Cut cut, std::vector<size_t>* lengths = nullptr) {
  std::vector<size_t> counts;
  std::string chunk;
  for (auto at = items.cbegin(); at != items.cend();) {
    size_t count = 0;
    at = cut(at, items.cend(), chunk, &count);
    counts.push_back(count);
    if (lengths) lengths->push_back(chunk.size());
  }
  return counts;
}

TEST(RestoreListsTest, ChunkBoundaries) {
  // Items whose chunk text reaches exactly kChunkLimit after the first two:
  // "H" + ",x..." (head 1 byte) and plain "x...,y...".
  const std::string head = "H";
  const size_t firstPre = 40000;
  const std::string a(firstPre, 'a');
  const std::string exactPre(kChunkLimit - 1 - (1 + firstPre) - 1, 'b');  // H,a..,b.. == limit
  const std::string exactPlain(kChunkLimit - firstPre - 1, 'b');          // a..,b.. == limit
  struct Row {
    const char* name;
    Items items;
    std::vector<size_t> pre, plain, archive;
  };
  const std::vector<Row> rows = {
      {"three small", {"x", "y", "z"}, {3}, {3}, {3}},
      {"exactly the limit takes one more", {a, exactPre, "c", "d"}, {3, 1}, {3, 1}, {3, 1}},
      {"one item over the limit goes whole", {std::string(70000, 'q'), "r"}, {1, 1}, {1, 1}, {1, 1}},
      {"escaping counts", {std::string(32001, ',')}, {1}, {1}, {1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<size_t> lengths;
    EXPECT_EQ(row.pre, Counts(row.items, [&](Items::const_iterator from, Items::const_iterator end,
                                            std::string& chunk, size_t* count) {
                return RestoreLists::PreHeaderChunk(from, end, head, chunk, count);
              }, &lengths));
    EXPECT_EQ(row.archive, Counts(row.items, [](Items::const_iterator from, Items::const_iterator end,
                                                std::string& chunk, size_t* count) {
                return RestoreLists::ArchiveChunk(from, end, chunk, count);
              }));
  }
  // Plain chunks at their own exact boundary: a.. and b.. make exactly the
  // limit, so the chunk takes one more; archive entries close there.
  const Items plain = {a, exactPlain, "c", "d"};
  std::vector<size_t> lengths;
  EXPECT_EQ((std::vector<size_t>{3, 1}), Counts(plain, [](Items::const_iterator from, Items::const_iterator end,
                                                          std::string& chunk, size_t* count) {
              return RestoreLists::PlainChunk(from, end, chunk, count);
            }, &lengths));
  EXPECT_EQ(kChunkLimit + 2, lengths[0]);
  EXPECT_EQ((std::vector<size_t>{2, 2}), Counts(plain, [](Items::const_iterator from, Items::const_iterator end,
                                                          std::string& chunk, size_t* count) {
              return RestoreLists::ArchiveChunk(from, end, chunk, count);
            }));
  std::string chunk;
  const Items headed = {a, exactPre};
  RestoreLists::PreHeaderChunk(headed.cbegin(), headed.cend(), head, chunk);
  EXPECT_EQ(kChunkLimit, chunk.size());
}

// A script that ends the restore when asked.
SimScript Program() {
  SimRestoreProgram::Options options;
  options.answerJobComplete = true;
  return SimRestoreProgram::Scripted(SimScript(), options);
}

TEST_F(RestoreTest, PreHeaderGroupUnderItsHead) {
  std::unique_ptr<TestRestore> phase = Started(Program());
  ASSERT_TRUE(phase);
  std::string one = "/A/one,1", two = "/A/t%o", three = "/A/three";
  ASSERT_FALSE(phase->registerPreHeader(false, one).IsError());
  ASSERT_FALSE(phase->registerPreHeader(false, two).IsError());
  ASSERT_FALSE(phase->registerPreHeader(false, three).IsError());
  phase->SetHeadName("/HEAD,1");  // a head name goes out as it is
  ASSERT_FALSE(phase->pushPreHeadersToClient().IsError());
  EXPECT_EQ("", phase->HeadName());
  // Nothing pending: nothing sent, the head name stays.
  phase->SetHeadName("/kept");
  EXPECT_FALSE(phase->pushPreHeadersToClient().IsError());
  EXPECT_EQ("/kept", phase->HeadName());
  EXPECT_TRUE(log.Has("no pre-headers"));
  phase->SetHeadName("");
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  ASSERT_EQ(1u, Count(record, PREHEADER_MSG));
  const ClBlobMsg* blob = nullptr;
  for (const auto& message : record.received)
    if (message->getMsgType() == PREHEADER_MSG) blob = dynamic_cast<const ClBlobMsg*>(message.get());
  ASSERT_TRUE(blob);
  EXPECT_EQ("/HEAD,1,/A/one%c1,/A/t%%o,/A/three",
            std::string(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize()));
}

TEST_F(RestoreTest, PushWithoutHeadDropsTheGroup) {
  std::unique_ptr<TestRestore> phase = Started(Program());
  ASSERT_TRUE(phase);
  std::string one = "/A/one", two = "/A/two", first = "/B/first";
  ASSERT_FALSE(phase->registerPreHeader(false, one).IsError());
  ASSERT_FALSE(phase->registerPreHeader(false, two).IsError());
  CWqError result = phase->registerPreHeader(true, first);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EBADF)) << result.AsString();
  EXPECT_NE(std::string::npos, coretest::Texts(result).find("the header name was not sent"));
  EXPECT_EQ(0u, phase->PreHeaderCount());
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ(0u, Count(record, PREHEADER_MSG));
}

TEST_F(RestoreTest, PendingGroupGoesOutAtCompletion) {
  std::unique_ptr<TestRestore> phase = Started(Program());
  ASSERT_TRUE(phase);
  std::string item = "/A/one";
  ASSERT_FALSE(phase->registerPreHeader(false, item).IsError());
  phase->SetHeadName("/HEAD");
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ((std::vector<ClProxyMsgType>{JOB_START_MSG, PREHEADER_MSG, JOB_COMPLETE_MSG}), Types(record));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"/HEAD", "/A/one"}}),
            SimRestoreProgram::Lists(record, PREHEADER_MSG));
}

TEST_F(RestoreTest, UnmodifiedListAndArchiveEntries) {
  std::unique_ptr<TestRestore> phase = Started(Program());
  ASSERT_TRUE(phase);
  const std::string big(70000, 'u');
  for (const std::string& name : {std::string("/u/1,a"), big, std::string("/u/3")})
    ASSERT_FALSE(phase->registerUnmodifiedPreHeader(name).IsError());
  ASSERT_FALSE(phase->sendUnmodifiedPreHeaders().IsError());
  EXPECT_EQ(0u, phase->UnmodifiedCount());
  ASSERT_FALSE(phase->sendUnmodifiedPreHeaders().IsError());  // empty: the END alone

  // Entries of a header that is no archive header stay unsent; an archive
  // header with none sends nothing at all.
  ASSERT_FALSE(phase->registerArchiveContentEntry("e1").IsError());
  phase->SetHeaderFlags(0x40);
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());
  EXPECT_EQ(1u, phase->ArchiveCount());
  ASSERT_FALSE(phase->registerArchiveContentEntry("e,2").IsError());
  phase->SetHeaderFlags(0x42);
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());
  EXPECT_EQ(0u, phase->ArchiveCount());
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());
  ASSERT_FALSE(phase->sendJobComplete().IsError());

  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"/u/1,a", big}, {"/u/3"}, {}, {}}),
            SimRestoreProgram::Lists(record, UNMODIFIED_PREHEADER_MSG));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"e1", "e,2"}, {}}),
            SimRestoreProgram::Lists(record, REFOPTHDR2_MSG));
}

TEST_F(RestoreTest, EmptyNamesAreRefused) {
  // An empty item would go out as an empty chunk, which the client reads as
  // the list's END.
  std::unique_ptr<TestRestore> phase = Started(Program());
  ASSERT_TRUE(phase);
  std::string empty;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->registerPreHeader(false, empty), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->registerUnmodifiedPreHeader(""), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->registerArchiveContentEntry(""), EINVAL));
  EXPECT_EQ(0u, phase->PreHeaderCount());
  EXPECT_EQ(0u, phase->UnmodifiedCount());
  EXPECT_EQ(0u, phase->ArchiveCount());
  // After an item that fills a chunk, an empty one would be a chunk alone.
  ASSERT_FALSE(phase->registerUnmodifiedPreHeader(std::string(70000, 'u')).IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->registerUnmodifiedPreHeader(""), EINVAL));
  ASSERT_FALSE(phase->sendUnmodifiedPreHeaders().IsError());
  phase->SetHeaderFlags(0x42);
  ASSERT_FALSE(phase->registerArchiveContentEntry("e").IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->registerArchiveContentEntry(""), EINVAL));
  ASSERT_FALSE(phase->sendArchvieEntries().IsError());
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  SimConnectionRecord record = Finish(phase);
  EXPECT_EQ((std::vector<std::string>{std::string(70000, 'u'), ""}),
            SimRestoreProgram::Payloads(record, UNMODIFIED_PREHEADER_MSG));
  EXPECT_EQ((std::vector<std::string>{"e", ""}), SimRestoreProgram::Payloads(record, REFOPTHDR2_MSG));
}

TEST_F(RestoreTest, FailedChunkItemsAreNotResent) {
  // The program goes away at once: every send fails.
  std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript().Reset()));
  ASSERT_TRUE(phase);
  ASSERT_TRUE(daemon.WaitForProgram(0, 20));
  std::string one = "/A/one";
  ASSERT_FALSE(phase->registerPreHeader(false, one).IsError());
  phase->SetHeadName("/HEAD");
  CWqError result;
  for (int attempt = 0; attempt < 50 && !result.IsError(); ++attempt) {
    // The first send may still reach the socket before the reset is seen.
    result = phase->pushPreHeadersToClient();
    if (!result.IsError()) {
      ASSERT_FALSE(phase->registerPreHeader(false, one).IsError());
      phase->SetHeadName("/HEAD");
    }
  }
  ASSERT_TRUE(result.IsError());
  EXPECT_EQ(0u, phase->PreHeaderCount());
  EXPECT_EQ("/HEAD", phase->HeadName());
}

TEST_F(RestoreTest, SendsBeforeTheProgramConnectedAreRefused) {
  TestRestore phase;
  phase.SetJob();
  std::string one = "/A/one";
  ASSERT_FALSE(phase.registerPreHeader(false, one).IsError());
  phase.SetHeadName("/HEAD");
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.pushPreHeadersToClient(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendUnmodifiedPreHeaders(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.tapeClose(), 2250));
  EXPECT_TRUE(FXErrorUtil::IsWin32(phase.sendJobComplete(), 2250));
  EXPECT_FALSE(phase.HasThread());

  // After init, before the program connected back.
  TestRestore waiting;
  ASSERT_FALSE(
      waiting.init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, "127.0.0.1", 0).IsError());
  ASSERT_FALSE(waiting.tapeRestore({}, {}, {}, 0, IBMI_SAV_SAVLIB, "a", {}).IsError());  // cached only
  EXPECT_TRUE(FXErrorUtil::IsWin32(waiting.sendTapeRestoreCacheData(), 2250));
  EXPECT_EQ(1u, waiting.CachedTapeItems());
  EXPECT_TRUE(FXErrorUtil::IsWin32(waiting.tapeClose(), 2250));
  EXPECT_FALSE(waiting.HasThread());
}

}  // namespace
}  // namespace restoretest
