#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FXClock.h"
#include "FXThread.h"
#include "JobResults.h"
#include "KXJobControl.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Entries of the folder of `path`.
size_t FolderEntries(const std::string& path) {
  DIR* dir = ::opendir(path.substr(0, path.rfind('/')).c_str());
  if (!dir) return 0;
  size_t n = 0;
  while (dirent* e = ::readdir(dir))
    if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
  ::closedir(dir);
  return n;
}

int Save(int vellicon, long long job, const std::string& line) {
  StoreResults store(vellicon, job, true, nullptr);
  if (int rc = store.openFile(26, false, true)) return rc;
  if (int rc = store.putLine(line, true)) return rc;
  return store.closeFile();
}

class JobResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { JobResultsSwitches::Instance().Reset(); }
  void TearDown() override { JobResultsSwitches::Instance().Reset(); }
  ScopedResultsRoot root;
};

TEST_F(JobResultsTest, SaveReplacesTheFileOfThePairAndKind) {
  std::string path = RetrieveResults(2, 123456789012LL, 26, nullptr, 0).getPath();
  EXPECT_EQ(root.path() + "/2/123456789012/results.26", path);
  ASSERT_EQ(0, Save(2, 123456789012LL, "first"));
  ASSERT_EQ(0, Save(2, 123456789012LL, "second"));
  EXPECT_EQ("second\n", ReadFile(path));
  EXPECT_NE(path, RetrieveResults(17, 123456789012LL, 26, nullptr, 0).getPath());
  EXPECT_EQ(1u, FolderEntries(path));
}

TEST_F(JobResultsTest, EachFailureSwitchLeavesTheOldFileWholeAndNothingBeside) {
  std::string path = RetrieveResults(2, 7, 26, nullptr, 0).getPath();
  ASSERT_EQ(0, Save(2, 7, "old"));
  struct Row {
    const char* name;
    void (JobResultsSwitches::*fail)(int);
  } rows[] = {{"open", &JobResultsSwitches::FailOpen},
              {"put", &JobResultsSwitches::FailPut},
              {"close", &JobResultsSwitches::FailClose}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    JobResultsSwitches::Instance().Reset();
    (JobResultsSwitches::Instance().*row.fail)(ENOSPC);
    EXPECT_EQ(ENOSPC, Save(2, 7, "new"));
    EXPECT_EQ("old\n", ReadFile(path));
    EXPECT_EQ(1u, FolderEntries(path));
  }
  // A save abandoned before closeFile leaves nothing either.
  JobResultsSwitches::Instance().Reset();
  {
    StoreResults store(2, 7, true, nullptr);
    ASSERT_EQ(0, store.openFile(26, false, true));
    ASSERT_EQ(0, store.putLine("half", false));
  }
  EXPECT_EQ("old\n", ReadFile(path));
  EXPECT_EQ(1u, FolderEntries(path));
  StoreResults idle(2, 7, true, nullptr);
  EXPECT_EQ(EBADF, idle.putLine("x", true));
  EXPECT_EQ(EBADF, idle.closeFile());
}

TEST_F(JobResultsTest, SaveHookSeesEachCompletedSave) {
  std::vector<int> seen;
  JobResultsSwitches::Instance().SetSaveHook([&](int n) { seen.push_back(n); });
  ASSERT_EQ(0, Save(2, 7, "a"));
  JobResultsSwitches::Instance().FailPut(EIO);
  EXPECT_EQ(EIO, Save(2, 7, "b"));
  JobResultsSwitches::Instance().FailPut(0);
  ASSERT_EQ(0, Save(2, 7, "c"));
  EXPECT_EQ((std::vector<int>{1, 2}), seen);
}

// Two writers of one file, the second saving whole while the first stands
// between its write and its rename: both saves succeed and the last rename
// wins. The second writer may be of this process, or of a process that opens
// the store for the first time then (Reset forgets what was swept).
TEST_F(JobResultsTest, AWriterBetweenWriteAndRenameKeepsItsTemporary) {
  std::string path = RetrieveResults(2, 7, 26, nullptr, 0).getPath();
  for (bool newProcess : {false, true}) {
    SCOPED_TRACE(newProcess ? "a new process" : "the same process");
    JobResultsSwitches::Instance().Reset();
    ASSERT_EQ(0, Save(2, 7, "old"));
    int second = -1;
    JobResultsSwitches::Instance().SetRenameHook([&] {
      if (second != -1) return;
      second = EINPROGRESS;
      if (newProcess) JobResultsSwitches::Instance().Reset();
      second = Save(2, 7, "second");
    });
    EXPECT_EQ(0, Save(2, 7, "first"));
    EXPECT_EQ(0, second);
    EXPECT_EQ("first\n", ReadFile(path));
    EXPECT_EQ(1u, FolderEntries(path));
  }
}

// What a killed save left beside the file goes the first time a process
// opens the file's store, never during a later save; other names stay.
TEST_F(JobResultsTest, TemporariesOfKilledSavesGoAtTheFirstOpenOfAProcess) {
  std::string path = RetrieveResults(2, 7, 26, nullptr, 0).getPath();
  const std::string folder = path.substr(0, path.rfind('/'));
  ASSERT_EQ(0, Save(2, 7, "old"));
  const std::vector<std::string> stale = {path + ".a1B2c3", path + ".XXXXXX"};
  const std::vector<std::string> kept = {path + ".note", path + ".a1B2c3.d", path + ".a1-2c3",
                                         folder + "/results.27.a1B2c3"};
  for (const std::string& name : stale) std::ofstream(name) << "partial";
  for (const std::string& name : kept) std::ofstream(name) << "other";
  ASSERT_EQ(0, Save(2, 7, "later"));
  for (const std::string& name : stale) EXPECT_EQ("partial", ReadFile(name)) << name;
  JobResultsSwitches::Instance().Reset();  // as a new process
  ASSERT_EQ(0, Save(2, 7, "new"));
  for (const std::string& name : stale) EXPECT_NE(0, ::access(name.c_str(), F_OK)) << name;
  for (const std::string& name : kept) EXPECT_EQ("other", ReadFile(name)) << name;
  EXPECT_EQ("new\n", ReadFile(path));
}

TEST(VirtualClockActions, RunInTimeOrderWhenASleepPassesThem) {
  FXScopedVirtualClock scoped;
  FXVirtualClock& clock = scoped.clock();
  std::vector<std::pair<int, int64_t>> ran;
  clock.At(90000, [&] { ran.push_back({2, clock.MonotonicMs()}); });
  clock.At(30000, [&] {
    ran.push_back({1, clock.MonotonicMs()});
    clock.At(40000, [&] { ran.push_back({3, clock.MonotonicMs()}); });
  });
  FXThread::Sleep(60000);
  EXPECT_EQ((std::vector<std::pair<int, int64_t>>{{1, 30000}, {3, 40000}}), ran);
  EXPECT_EQ(60000, clock.MonotonicMs());
  clock.Advance(30000);
  ASSERT_EQ(3u, ran.size());
  EXPECT_EQ(90000, ran[2].second);
}

TEST(JobControl, StopRaisesTheJobsQuitFlagUnlessRefused) {
  KXJobControlScript& script = KXJobControlScript::Instance();
  script.Reset();
  KXJobCtrlClient client(123456789012LL);
  EXPECT_FALSE(client.checkQuitFlag());
  KXJobCtrlGUIAPI gui;
  EXPECT_FALSE(gui.stop(123456789012LL));  // not initialised
  ASSERT_TRUE(gui.init("central01"));
  script.FailStop(true);
  EXPECT_FALSE(gui.stop(123456789012LL));
  EXPECT_FALSE(client.checkQuitFlag());
  script.FailStop(false);
  EXPECT_TRUE(gui.stop(123456789012LL));
  EXPECT_TRUE(client.checkQuitFlag());
  EXPECT_FALSE(KXJobCtrlClient(17).checkQuitFlag());
  script.FailInit(true);
  EXPECT_FALSE(KXJobCtrlGUIAPI().init("central01"));
  EXPECT_EQ((std::vector<long long>{123456789012LL, 123456789012LL}), script.Stops());
  script.Reset();
}

}  // namespace
