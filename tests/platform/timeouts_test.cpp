#include <gtest/gtest.h>

#include <cstdio>
#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "ClProxyTimeouts.h"
#include "FXClock.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "ScopedSettingsRoot.h"
#include "SettingsStorage.h"

namespace {

struct KindCase {
  TimeOut_enum kind;
  int value;
  const char* name;
  int defaultValue;
};

const KindCase kCases[] = {
    {TIMEOUT_UPDATE_ACK, 0, "TIMEOUT_UPDATE_ACK", 600},
    {TIMEOUT_VERSION_REPLY, 1, "TIMEOUT_VERSION_REPLY", 60},
    {TIMEOUT_NEXT_FILE, 2, "TIMEOUT_NEXT_FILE", 1800},
    {TIMEOUT_FILE_DATA, 4, "TIMEOUT_FILE_DATA", 300},
    {TIMEOUT_FILE_DATA_RETRIES, 5, "TIMEOUT_FILE_DATA_RETRIES", 3},
    {TIMEOUT_COLLECT_FILE_REQUEST, 11, "TIMEOUT_COLLECT_FILE_REQUEST", 600},
    {TIMEOUT_DAEMON_REPLY, 12, "TIMEOUT_DAEMON_REPLY", 120},
    {TIMEOUT_PROCESS_STATUS, 13, "TIMEOUT_PROCESS_STATUS", 60},
    {TIMEOUT_JOB_START_REPLY, 14, "TIMEOUT_JOB_START_REPLY", 300},
    {TIMEOUT_RESTORE_COMPLETE, 15, "TIMEOUT_RESTORE_COMPLETE", 600},
    {TIMEOUT_BROWSE_REPLY, 16, "TIMEOUT_BROWSE_REPLY", 300},
    {TIMEOUT_DOWNLOAD, 17, "TIMEOUT_DOWNLOAD", 300},
    {TIMEOUT_CREATE_FOLDER_REPLY, 18, "TIMEOUT_CREATE_FOLDER_REPLY", 120},
    {TIMEOUT_CLIENT_CONNECT, 19, "TIMEOUT_CLIENT_CONNECT", 300},
    {TIMEOUT_CONTROL_PORT, 20, "TIMEOUT_CONTROL_PORT", 300},
    {TIMEOUT_UPDATE_SERVICES_STOP, 23, "TIMEOUT_UPDATE_SERVICES_STOP", 600},
    {TIMEOUT_UPDATE_RECONNECT, 24, "TIMEOUT_UPDATE_RECONNECT", 30},
    {TIMEOUT_SYSTEM_SIZE_REPLY, 40, "TIMEOUT_SYSTEM_SIZE_REPLY", 30},
    {TIMEOUT_TAPE_INIT_REPLY, 41, "TIMEOUT_TAPE_INIT_REPLY", 300},
    {TIMEOUT_VTL_CLEANUP_REPLY, 42, "TIMEOUT_VTL_CLEANUP_REPLY", 30},
    {TIMEOUT_REQUESTER_WRITE, 43, "TIMEOUT_REQUESTER_WRITE", 60},
    {TIMEOUT_TAPE_REMOTE_CALL, 44, "TIMEOUT_TAPE_REMOTE_CALL", 300},
};

TEST(TimeoutsTest, EveryKindHasItsValueNameAndDefault) {
  ScopedSettingsRoot root;
  for (const KindCase& c : kCases) {
    EXPECT_EQ(c.value, static_cast<int>(c.kind)) << c.name;
    EXPECT_STREQ(c.name, getTimeOutName(c.kind));
    EXPECT_EQ(c.defaultValue, getTimeOutValue(c.kind)) << c.name;
  }
}

TEST(TimeoutsTest, SettingsOverrideEachKindAndAreSeenAtOnce) {
  ScopedSettingsRoot root;
  KXPlatformInfo settings;
  for (const KindCase& c : kCases)
    ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, c.name, c.value + 1));
  for (const KindCase& c : kCases) EXPECT_EQ(c.value + 1, getTimeOutValue(c.kind)) << c.name;

  ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, "TIMEOUT_DAEMON_REPLY", 0));
  EXPECT_EQ(0, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  ASSERT_EQ(0, settings.deleteField(kTimeOutSettingsSection, "TIMEOUT_DAEMON_REPLY"));
  EXPECT_EQ(120, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
}

TEST(TimeoutsTest, StoredValuesAreClampedAndNegativeOnesRefused) {
  ScopedSettingsRoot root;
  boost::shared_ptr<FXLogWriter> saved = g_ptrLogWriter;
  boost::shared_ptr<FXLogWriter> log(new FXLogWriter);
  log->SetQuiet(true);
  log->SetCapture(true);
  g_ptrLogWriter = log;
  KXPlatformInfo settings;
  // A negative wait would make an endless wait spin: the default stands.
  ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, "TIMEOUT_PROCESS_STATUS",
                                  static_cast<unsigned long>(-1L)));
  EXPECT_EQ(60, getTimeOutValue(TIMEOUT_PROCESS_STATUS));
  EXPECT_TRUE(log->HasCapturedLine("Timeout TIMEOUT_PROCESS_STATUS set to -1, which is negative: using the default 60"));
  ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, "TIMEOUT_NEXT_FILE",
                                  static_cast<unsigned long>(INT_MAX) + 10));
  EXPECT_EQ(INT_MAX, getTimeOutValue(TIMEOUT_NEXT_FILE));
  g_ptrLogWriter = saved;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(TimeoutsTest, ValuesAreKeptUntilTheSettingsChange) {
  FXScopedVirtualClock clock;
  ScopedSettingsRoot root;
  KXPlatformInfo settings;
  const std::string path = SettingsStorage::SectionPath(root.path(), kTimeOutSettingsSection);
  ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, "TIMEOUT_DAEMON_REPLY", 7));
  const std::string seven = ReadAll(path);
  ASSERT_EQ(0, settings.setNumber(kTimeOutSettingsSection, "TIMEOUT_DAEMON_REPLY", 8));
  EXPECT_EQ(8, getTimeOutValue(TIMEOUT_DAEMON_REPLY));

  // Another process puts the older file back: kept values serve until the
  // file is looked at again, about a second later.
  const std::string temporary = path + ".other";
  {
    std::ofstream out(temporary, std::ios::binary);
    out << seven;
  }
  ASSERT_EQ(0, std::rename(temporary.c_str(), path.c_str()));
  EXPECT_EQ(8, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  clock.clock().Advance(1000);
  EXPECT_EQ(7, getTimeOutValue(TIMEOUT_DAEMON_REPLY));

  // Another folder has its own values, and the first one's come back with it.
  {
    ScopedSettingsRoot other;
    EXPECT_EQ(120, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  }
  EXPECT_EQ(7, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
  resetTimeOutValues();
  EXPECT_EQ(7, getTimeOutValue(TIMEOUT_DAEMON_REPLY));
}

TEST(TimeoutsTest, UnknownKindGetsAFixedValue) {
  ScopedSettingsRoot root;
  EXPECT_EQ(nullptr, getTimeOutName(static_cast<TimeOut_enum>(3)));
  EXPECT_EQ(60, getTimeOutValue(static_cast<TimeOut_enum>(3)));
}

}  // namespace
