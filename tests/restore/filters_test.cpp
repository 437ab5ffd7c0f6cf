// Source filters: taken from the restore task, matched against paths and
// sent to "RST.EXE" in chunks.
#include <cerrno>

#include "FXErrorUtil.h"
#include "RestoreTestUtil.h"

namespace restoretest {
namespace {

// Receives everything until the link ends.
SimRestoreProgram::Options Whole() {
  SimRestoreProgram::Options options;
  options.answerJobComplete = true;
  return options;
}

class FiltersTest : public RestoreTest {
 protected:
  void Load(TestRestore& phase, const std::vector<std::string>& paths) {
    RecordRegistry::Instance().SetTaskFilterPaths(static_cast<int64_t>(kJob), paths);
    boost::shared_ptr<EvRstTask> task(new EvRstTask(static_cast<KXJobID>(kJob)));
    ASSERT_FALSE(phase.prepareWithRestoreTask(task).IsError());
  }
  std::list<std::string> For(TestRestore& phase, const std::string& path) {
    std::list<std::string> found{"stale"};
    EXPECT_FALSE(phase.getFiltersFor(path, &found).IsError());
    return found;
  }
};

TEST_F(FiltersTest, WhichFiltersConcernAPath) {
  TestRestore phase;
  Load(phase, {"/QSYS.LIB/LIB1.LIB/A*.FILE", "/a/b*/c/d?", "/a/b/c", "ab*", "/*", "/a/bc/*", "/a/b/x*"});
  struct Row {
    const char* path;
    std::list<std::string> filters;
  };
  const Row rows[] = {
      {"", {"/QSYS.LIB/LIB1.LIB/A*.FILE", "/a/b*/c/d?", "/a/b/c", "ab*", "/*", "/a/bc/*", "/a/b/x*"}},
      {"/QSYS.LIB/LIB1.LIB", {"/QSYS.LIB/LIB1.LIB/A*.FILE"}},
      {"/QSYS.LIB/LIB1.LIB/A1.FILE", {}},
      {"/a", {"/a/b*/c/d?", "/a/b/c", "/a/bc/*", "/a/b/x*"}},
      {"/a/b", {"/a/b/c", "/a/bc/*", "/a/b/x*"}},  // a character test
      {"ab", {"ab*"}},
      {"/nothing", {}},
  };
  for (const Row& row : rows) EXPECT_EQ(row.filters, For(phase, row.path)) << row.path;
  EXPECT_FALSE(phase.getFiltersFor("/a", nullptr).IsError());
  EXPECT_TRUE(log.Has("   < using filter [/a/b/c] for [/a]"));
  EXPECT_TRUE(log.Has("Using filter [/QSYS.LIB/LIB1.LIB] against [/a]"));
}

TEST_F(FiltersTest, ASecondPreparationDoublesTheFiltersAndNoListGivesNone) {
  TestRestore phase;
  boost::shared_ptr<EvRstTask> none(new EvRstTask(static_cast<KXJobID>(kJob)));
  ASSERT_FALSE(phase.prepareWithRestoreTask(none).IsError());
  EXPECT_TRUE(log.Has("Found 0 filters."));
  Load(phase, {"/a", "/b"});
  boost::shared_ptr<EvRstTask> again(new EvRstTask(static_cast<KXJobID>(kJob)));
  ASSERT_FALSE(phase.prepareWithRestoreTask(again).IsError());
  EXPECT_EQ((std::list<std::string>{"/a", "/b", "/a", "/b"}), For(phase, ""));
  EXPECT_TRUE(log.Has("ptrRstTask->lookup() = 0"));
}

TEST_F(FiltersTest, ChunksOnTheirBoundaries) {
  const std::string big(65531, 'b');
  const std::string exact(65528, 'f');  // "ab" + exact == 65530: still one chunk
  struct Row {
    const char* name;
    std::vector<std::string> filters;
    std::vector<size_t> chunks;
  };
  const std::vector<Row> rows = {
      {"none", {}, {}},
      {"three of two bytes", {"ab", "cd", "ef"}, {8}},
      {"a long filter after others", {"ab", "cd", big}, {5, 65531}},
      {"exactly 65530", {"ab", exact}, {65531}},
      {"one byte over", {"ab", exact + "g"}, {2, 65529}},
      {"the longest filter", {std::string(65535, 'l')}, {65535}},
  };
  size_t program = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript(), Whole()));
    ASSERT_TRUE(phase);
    Load(*phase, row.filters);
    CWqError result = phase->sendSourceFilters();
    ASSERT_FALSE(result.IsError()) << result.AsString();
    SimConnectionRecord record = Finish(phase, program++);
    std::vector<size_t> sizes;
    for (const std::string& chunk : SimRestoreProgram::Payloads(record, SOURCE_FILTERS_MSG))
      sizes.push_back(chunk.size());
    EXPECT_EQ(row.chunks, sizes);
    if (!row.filters.empty()) {
      EXPECT_EQ(row.filters, SimRestoreProgram::SourceFilters(record));
    }
    std::vector<ClProxyMsgType> types = Types(record);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(GOOD_EOF_MSG, types.back());
  }
}

TEST_F(FiltersTest, RefusedFiltersSendNothing) {
  const std::vector<std::vector<std::string>> rows = {
      {"/ok", std::string(65536, 'x')},
      {"/ok", "/a;/b"},
      // An empty filter would vanish from the joined chunk.
      {"", "/ok"},
      {""},
  };
  size_t program = 0;
  for (const std::vector<std::string>& filters : rows) {
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript(), Whole()));
    ASSERT_TRUE(phase);
    Load(*phase, filters);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendSourceFilters(), EINVAL));
    SimConnectionRecord record = Finish(phase, program++);
    EXPECT_EQ(0u, Count(record, SOURCE_FILTERS_MSG));
    EXPECT_EQ(0u, Count(record, GOOD_EOF_MSG));
  }
}

}  // namespace
}  // namespace restoretest
