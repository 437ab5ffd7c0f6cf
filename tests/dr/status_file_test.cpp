// DR status file: round trips, the record's content, failed saves leaving the
// old file whole, and the files restoreStatus refuses; the cleanup values.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <cstdlib>
#include <fstream>
#include <list>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <string>

#include "FXErrorUtil.h"
#include "service/IBMiDRStateInterface.h"
#include "IxaRecords.h"
#include "JobResults.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"

namespace {

// Distinct ids so a swapped argument shows.
const int kVellicon = 2;
const int kApp = 17;
const long long kJob = 123456789012LL;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A job-status record holding `fields`.
std::string Record(const std::string& fields) {
  return "<?xml version=\"1.0\"?><CNMessage ns=\"22\" id=\"538\">" + fields + "</CNMessage>\n";
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class StatusFileTest : public ::testing::Test {
 protected:
  void SetUp() override { JobResultsSwitches::Instance().Reset(); }
  void TearDown() override { JobResultsSwitches::Instance().Reset(); }

  // Saves, then restores into a fresh object.
  IBMiDRStateInterface RoundTrip(IBMiDRStateInterface& saved) {
    EXPECT_FALSE(saved.saveStatus().IsError());
    IBMiDRStateInterface restored(kVellicon, kApp, kJob);
    EXPECT_FALSE(restored.restoreStatus().IsError());
    return restored;
  }

  ScopedResultsRoot m_root;
};

TEST_F(StatusFileTest, NoFileRestoresNothing) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  EXPECT_FALSE(state.restoreStatus().IsError());
  EXPECT_EQ(DR_STATE_BEGIN, state.getState());
  EXPECT_EQ("", state.getBackupJobNumber());
  EXPECT_EQ(0u, state.getSystemBackupSize());
  std::list<std::string> tapes;
  state.getTapeList(tapes);
  tapes.push_back("stale");
  state.getTapeList(tapes);
  EXPECT_TRUE(tapes.empty());
}

TEST_F(StatusFileTest, RoundTrips) {
  struct Case {
    int state;
    std::string jobNumber;
    std::string tapes;
    unsigned int size;
    std::string restoredTapes;
  } cases[] = {
      {DR_STATE_INITIATED, "123456/QSECOFR/DRSAVE", "", 0, ""},
      {DR_STATE_IN_SUSPENDED_STATE, "J1", "T1:T2", 500, "T1:T2"},
      {DR_STATE_SERVICES_BACK, "J2", "BackupSize", 7, ""},
      {DR_STATE_INDEX_UPDATE_PENDING, "J3", "T9", 0xFFFFFFFFu, "T9"},
      {42, "", "", 1, ""},
      {-3, "odd<&>\"'", "A\x01" "B", 2, "A\x01" "B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    IBMiDRStateInterface saved(kVellicon, kApp, kJob);
    saved.setState(static_cast<DRBackupState>(c.state));
    saved.setBackupJobNumber(c.jobNumber);
    saved.setTapeList(c.tapes);
    saved.setSystemBackupSize(c.size);
    IBMiDRStateInterface restored = RoundTrip(saved);
    EXPECT_EQ(c.state, static_cast<int>(restored.getState()));
    EXPECT_EQ(c.jobNumber, restored.getBackupJobNumber());
    EXPECT_EQ(c.size, restored.getSystemBackupSize());
    std::list<std::string> got, want;
    restored.getTapeList(got);
    IBMiDRStateInterface expected(kVellicon, kApp, kJob);
    expected.setTapeList(c.restoredTapes);
    expected.getTapeList(want);
    EXPECT_EQ(want, got);
  }
}

TEST_F(StatusFileTest, TapeListSplitsAtColons) {
  IBMiDRStateInterface saved(kVellicon, kApp, kJob);
  saved.setTapeList("T1:T2");
  IBMiDRStateInterface restored = RoundTrip(saved);
  std::list<std::string> tapes;
  EXPECT_FALSE(restored.getTapeList(tapes).IsError());
  EXPECT_EQ((std::list<std::string>{"T1", "T2"}), tapes);
}

TEST_F(StatusFileTest, StateTexts) {
  const char* texts[] = {"begin", "initiated", "inRestrictedState", "inSuspendedState", "servicesBack",
                         "status:Success", "status:Failed", "IndexUpdatePending"};
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(texts[i], DRStateText(static_cast<DRBackupState>(i)));
  EXPECT_STREQ("n/a", DRStateText(static_cast<DRBackupState>(8)));
  EXPECT_STREQ("n/a", DRStateText(static_cast<DRBackupState>(-1)));
}

// The record's content: ids, field numbers, the placeholder and the widened size.
TEST_F(StatusFileTest, GoldenRecord) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  state.setState(DR_STATE_IN_RESTRICTED_STATE);
  state.setBackupJobNumber("654321/QSECOFR/DRSAVE");
  state.setSystemBackupSize(0xFFFFFFFFu);
  ASSERT_FALSE(state.saveStatus().IsError());
  EXPECT_EQ(JobResultsPath(kVellicon, kJob, 26), state.statusFilePath());

  Ixa::IBMIDRJobStatus record;
  ASSERT_EQ(CN_PARSE_OK, record.unserialize(ReadAll(state.statusFilePath())));
  EXPECT_EQ(22, record.getNamespace());
  EXPECT_EQ(538, record.getMessageId());
  EXPECT_EQ(2, record.getint64(1));
  EXPECT_EQ("654321/QSECOFR/DRSAVE", record.getstring(2));
  std::vector<CNMessageBase>* entries = record.getlistobject(3, 6, 0, 0, false);
  ASSERT_NE(nullptr, entries);
  ASSERT_EQ(1u, entries->size());
  EXPECT_EQ(22, entries->front().getNamespace());
  EXPECT_EQ(423, entries->front().getMessageId());
  EXPECT_EQ(4294967295LL, entries->front().getint64(1));
  EXPECT_EQ("BackupSize", entries->front().getstring(2));
}

TEST_F(StatusFileTest, FailedSaveKeepsOldFile) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  state.setState(DR_STATE_INITIATED);
  state.setBackupJobNumber("OLD");
  ASSERT_FALSE(state.saveStatus().IsError());
  const std::string before = ReadAll(state.statusFilePath());

  for (int which = 0; which < 3; ++which) {
    SCOPED_TRACE(which);
    JobResultsSwitches& switches = JobResultsSwitches::Instance();
    switches.Reset();
    if (which == 0) switches.FailOpen(ENOSPC);
    if (which == 1) switches.FailPut(EIO);
    if (which == 2) switches.FailClose(ENOSPC);
    state.setState(DR_STATE_SUCCESS);
    state.setBackupJobNumber("NEW");
    CWqError result = state.saveStatus();
    EXPECT_TRUE(FXErrorUtil::IsWin32(result, 996));
    EXPECT_EQ(before, ReadAll(state.statusFilePath()));
    // The object keeps what the caller set.
    EXPECT_EQ(DR_STATE_SUCCESS, state.getState());
  }
  JobResultsSwitches::Instance().Reset();
  IBMiDRStateInterface restored(kVellicon, kApp, kJob);
  ASSERT_FALSE(restored.restoreStatus().IsError());
  EXPECT_EQ(DR_STATE_INITIATED, restored.getState());
  EXPECT_EQ("OLD", restored.getBackupJobNumber());
}

// Files that are not a status: each fails and leaves the object and the file
// as they were; a repeated field is named in the error.
TEST_F(StatusFileTest, RefusedFiles) {
  struct Case {
    const char* what;
    std::string content;
    int errNo;
    const char* named;
  } cases[] = {
      {"empty", "", ENOENT, nullptr},
      {"not a record", "hello", EINVAL, nullptr},
      {"another record", "<CNMessage ns=\"22\" id=\"423\"><Field position=\"1\" type=\"int64\">1</Field></CNMessage>",
       EINVAL, nullptr},
      {"no state", "<CNMessage ns=\"22\" id=\"538\"></CNMessage>", EINVAL, nullptr},
      {"an empty record", "<CNMessage ns=\"22\" id=\"538\"/>", EINVAL, nullptr},
      {"a state of text", Record("<Field position=\"1\" type=\"strings\"><String>3</String></Field>"), EINVAL, nullptr},
      {"a state of records", Record("<Field position=\"1\" type=\"objects\"></Field>"), EINVAL, nullptr},
      {"a state given twice",
       Record("<Field position=\"1\" type=\"int64\">4</Field><Field position=\"1\" type=\"int64\">0</Field>"),
       EINVAL, "position 1 given twice in message 22:538"},
      {"a job number given twice",
       Record("<Field position=\"1\" type=\"int64\">4</Field><Field position=\"2\" type=\"strings\"><String>A</String>"
              "</Field><Field position=\"2\" type=\"strings\"><String>B</String></Field>"),
       EINVAL, "position 2 given twice in message 22:538"},
      {"tapes given twice",
       Record("<Field position=\"1\" type=\"int64\">4</Field><Field position=\"3\" type=\"objects\">"
              "<CNMessage ns=\"22\" id=\"423\"><Field position=\"2\" type=\"strings\"><String>T1</String></Field>"
              "<Field position=\"2\" type=\"strings\"><String>T2</String></Field></CNMessage></Field>"),
       EINVAL, "position 2 given twice in message 22:423"},
      {"over 1 MiB", std::string(IBMiDRStateInterface::kMaxStatusFileSize + 1, ' '), EINVAL, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IBMiDRStateInterface state(kVellicon, kApp, kJob);
    state.setState(DR_STATE_SERVICES_BACK);
    state.setBackupJobNumber("KEEP");
    state.setTapeList("T1");
    state.setSystemBackupSize(9);
    ASSERT_FALSE(state.saveStatus().IsError());
    WriteAll(state.statusFilePath(), c.content);
    CWqError result = state.restoreStatus();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
    if (c.named) {
      EXPECT_NE(std::string::npos, result.AsString().find(c.named)) << result.AsString();
    }
    EXPECT_EQ(DR_STATE_SERVICES_BACK, state.getState());
    EXPECT_EQ("KEEP", state.getBackupJobNumber());
    EXPECT_EQ(9u, state.getSystemBackupSize());
    EXPECT_EQ(c.content.size(), ReadAll(state.statusFilePath()).size());
  }
}

TEST_F(StatusFileTest, UnreadableFileFailsWithSystemError) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  state.setState(DR_STATE_SERVICES_BACK);
  // A folder where the file should be cannot be read as one (root reads any file).
  ASSERT_EQ(0, mkdir(JobResultsRoot().c_str(), 0700) == 0 || errno == EEXIST ? 0 : -1);
  std::string folder = JobResultsRoot() + "/2";
  mkdir(folder.c_str(), 0700);
  folder += "/123456789012";
  mkdir(folder.c_str(), 0700);
  ASSERT_EQ(0, mkdir(state.statusFilePath().c_str(), 0700));
  CWqError result = state.restoreStatus();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EISDIR));
  EXPECT_EQ(DR_STATE_SERVICES_BACK, state.getState());
}

// A state written by hand above 2^32 is cut to its low 32 bits, as it
// always was; what the fields hold is otherwise taken as it stands.
TEST_F(StatusFileTest, StateCutToThirtyTwoBits) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  ASSERT_FALSE(state.saveStatus().IsError());
  WriteAll(state.statusFilePath(), Record("<Field position=\"1\" type=\"int64\">4294967298</Field>"));
  ASSERT_FALSE(state.restoreStatus().IsError());
  EXPECT_EQ(DR_STATE_IN_RESTRICTED_STATE, state.getState());
}

// What stands at the file's path must be a regular file: a FIFO is refused
// at once (it would block the open), a link is not followed.
TEST_F(StatusFileTest, OnlyARegularFileIsRead) {
  IBMiDRStateInterface saved(kVellicon, kApp, kJob);
  saved.setState(DR_STATE_SERVICES_BACK);
  ASSERT_FALSE(saved.saveStatus().IsError());
  const std::string path = saved.statusFilePath();
  const std::string elsewhere = path + ".elsewhere";
  ASSERT_EQ(0, rename(path.c_str(), elsewhere.c_str()));

  const struct {
    const char* what;
    std::function<int()> make;
  } cases[] = {
      {"a FIFO", [&] { return mkfifo(path.c_str(), 0600); }},
      {"a link to a status file", [&] { return symlink(elsewhere.c_str(), path.c_str()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, c.make());
    IBMiDRStateInterface state(kVellicon, kApp, kJob);
    auto restored = std::async(std::launch::async, [&] { return state.restoreStatus(); });
    if (restored.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Let the blocked open go, so the test can end.
      int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      ADD_FAILURE() << "restoreStatus blocked on " << c.what;
      restored.wait();
      if (writer >= 0) close(writer);
    } else {
      CWqError result = restored.get();
      EXPECT_TRUE(result.IsError());
      EXPECT_NE(std::string::npos, result.AsString().find(path)) << result.AsString();
    }
    EXPECT_EQ(DR_STATE_BEGIN, state.getState());
    ASSERT_EQ(0, unlink(path.c_str()));
  }
}

// A save killed before its rename leaves a temporary beside the file; the
// first save of the job in the next process removes it, and only the job's own.
TEST_F(StatusFileTest, SaveRemovesStaleTemporaries) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  ASSERT_FALSE(state.saveStatus().IsError());
  const std::string path = state.statusFilePath();
  const std::string folder = path.substr(0, path.rfind('/'));
  const std::vector<std::string> stale = {path + ".a1B2c3", path + ".XXXXXX"};
  const std::vector<std::string> kept = {path + ".note", folder + "/results.27.a1B2c3", path + ".a1B2c3.d"};
  for (const std::string& name : stale) WriteAll(name, "partial");
  for (const std::string& name : kept) WriteAll(name, "other");
  JobResultsSwitches::Instance().Reset();  // as a new process
  state.setState(DR_STATE_INITIATED);
  ASSERT_FALSE(state.saveStatus().IsError());
  for (const std::string& name : stale) EXPECT_NE(0, access(name.c_str(), F_OK)) << name;
  for (const std::string& name : kept) EXPECT_EQ(0, access(name.c_str(), F_OK)) << name;
  IBMiDRStateInterface restored(kVellicon, kApp, kJob);
  ASSERT_FALSE(restored.restoreStatus().IsError());
  EXPECT_EQ(DR_STATE_INITIATED, restored.getState());
}

class CleanupValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RecordRegistry::Instance().Reset();
    RecordRegistry::Instance().AddClient(5, "C1", 118);
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }
  ScopedSettingsRoot m_settings;
};

TEST_F(CleanupValuesTest, WritesFolderAndJob) {
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  EXPECT_FALSE(state.scheduleCleanupDRFolder(5, 42, "/DRSTAGE").IsError());
  KXPlatformInfo settings;
  std::string folder, job;
  EXPECT_NE(0, settings.getString("ProxyClients/C1", "CleanUpFolder", &folder));
  EXPECT_NE(0, settings.getString("ProxyClients/C1", "CleanUpFolderJob", &job));
  EXPECT_EQ("/DRSTAGE", folder);
  EXPECT_EQ("42", job);

  // A later failed job of the same client replaces the values.
  EXPECT_FALSE(state.scheduleCleanupDRFolder(5, kJob, "/OTHER").IsError());
  settings.getString("ProxyClients/C1", "CleanUpFolder", &folder);
  settings.getString("ProxyClients/C1", "CleanUpFolderJob", &job);
  EXPECT_EQ("/OTHER", folder);
  EXPECT_EQ("123456789012", job);
}

TEST_F(CleanupValuesTest, SucceedsWhenWritesFail) {
  // A settings root under a plain file cannot be written.
  const std::string blocker = m_settings.path() + "/file";
  WriteAll(blocker, "x");
  const char* previous = std::getenv("PROXY_SETTINGS_ROOT");
  std::string saved = previous ? previous : "";
  setenv("PROXY_SETTINGS_ROOT", (blocker + "/root").c_str(), 1);
  IBMiDRStateInterface state(kVellicon, kApp, kJob);
  EXPECT_FALSE(state.scheduleCleanupDRFolder(5, 42, "/DRSTAGE").IsError());
  setenv("PROXY_SETTINGS_ROOT", saved.c_str(), 1);
}

}  // namespace
