// Shared pieces of the backup tests: the phase with its protected state
// reachable, a fixture that runs it against the simulated daemon and
// "BKP.EXE", and a host loop that writes what the stream gave as a line.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "CProxyFileSystemSendEvents.h"
#include "EventJournal.h"
#include "ISendEventInterface.h"
#include "ScopedSettingsRoot.h"
#include "SimBackupProgram.h"
#include "SimClientDaemon.h"
#include "backup/ProxyBackup.h"
#include "core/CoreTestUtil.h"

namespace backuptest {

const uint64_t kJob = 91;

class TestBackup : public ProxyBackup {
 public:
  void SetBaseDir(const std::string& dir) { m_sClientBaseDir = dir; }
  void SetClientOS(int32_t os) { m_iClientOSId = os; }
  // What init records, for calls made without it.
  void SetJob() {
    m_iVelliconId = coretest::kVellicon;
    m_iAppId = coretest::kApp;
    m_ullJobId = kJob;
    m_sClientName = "vms1";
  }
  ClProxySrvConnection* ProgramLink() { return m_pSrvConnection.get(); }
  const std::string& ClientProgram() const { return m_sClientProgram; }
};

// The status a stream call reported: 0 for success, the RECV_STATUS_ code,
// or -1 for an error of another kind.
inline int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

// A host's loop over one collect file, written as one line: "H:<name>" for
// a header, " D<size>" per data item, " E<status>" for the item's end,
// " S<status>" for a stream status, " X<errno>" (or " W<win32>", " K") for
// a failure of another kind, which ends the loop as status 7 does.
inline std::string Drive(ProxyBackup& phase, int maxCalls = 64) {
  std::ostringstream out;
  char* buf = nullptr;
  unsigned int size = 0;
  auto failure = [&](const CWqError& result) {
    if (FXErrorUtil::IsErrNo(result)) out << " X" << FXErrorUtil::GetErrNo(result);
    else if (FXErrorUtil::IsWin32(result)) out << " W" << FXErrorUtil::GetWin32(result);
    else out << " K";
  };
  for (int call = 0; call < maxCalls; ++call) {
    CWqError result = phase.recvNextFile();
    int status = StatusOf(result);
    if (status < 0) {
      failure(result);
      break;
    }
    if (status != 0) {
      out << " S" << status;
      if (status == RECV_STATUS_COLLECT_DONE) break;
      continue;
    }
    out << " H:" << phase.getFileName();
    for (; call < maxCalls; ++call) {
      result = phase.recvData(buf, size, nullptr, nullptr);
      status = StatusOf(result);
      if (status == 0) {
        out << " D" << size;
        continue;
      }
      if (status < 0) failure(result);
      else out << " E" << status;
      break;
    }
    if (status < 0) break;
  }
  std::free(buf);
  std::string line = out.str();
  return line.empty() ? line : line.substr(1);
}

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(hookFolder.path().empty());
    for (const char* kind : {"TIMEOUT_DAEMON_REPLY", "TIMEOUT_CLIENT_CONNECT", "TIMEOUT_JOB_START_REPLY",
                             "TIMEOUT_CONTROL_PORT", "TIMEOUT_COLLECT_FILE_REQUEST", "TIMEOUT_NEXT_FILE",
                             "TIMEOUT_FILE_DATA"})
      coretest::SetTimeout(kind, 20);
    EventJournal::Instance().Reset();
    ISendEventInterface::SetInstance(
        boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(kJob, nullptr)));
    ASSERT_FALSE(daemon.Start().IsError());
    coretest::FillRecords(daemon.GetPort());
    SetSubclient("iSeriesSCCustomFlag", false);
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), "<options/>");
  }
  void TearDown() override {
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    EventJournal::Instance().Reset();
    RecordRegistry::Instance().Reset();
  }

  static void SetSubclient(const std::string& name, const RecordValue& value) {
    ASSERT_TRUE(RecordRegistry::Instance().SetSubclientValue(coretest::kVellicon, coretest::kApp, name, value))
        << name;
  }

  // init, launch and accept against `program`; `prepare` sets host members.
  std::unique_ptr<TestBackup> Connect(const SimScript& program) {
    daemon.SetProgram(SimBackupProgram::kCommand, program);
    std::unique_ptr<TestBackup> phase(new TestBackup);
    if (prepare) prepare(*phase);
    CWqError result = phase->init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, 1, -5, "127.0.0.1", 0);
    if (!result.IsError()) result = phase->launchClientProcess();
    if (!result.IsError()) result = phase->acceptClientProcessConnection();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Connect, then sendJobStart(wait), which must succeed.
  std::unique_ptr<TestBackup> Started(const SimScript& program, bool waitForControlPort = true) {
    std::unique_ptr<TestBackup> phase = Connect(program);
    if (!phase) return phase;
    CWqError result = phase->sendJobStart(waitForControlPort);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Destroys the phase and returns what the program received.
  SimConnectionRecord Finish(std::unique_ptr<TestBackup>& phase) {
    phase.reset();
    EXPECT_TRUE(daemon.WaitForProgram(0, 20));
    return daemon.GetProgramRecord(0);
  }

  ScopedSettingsRoot settingsRoot;
  coretest::ScopedHookFolder hookFolder;
  coretest::ScopedLogCapture log{4};
  coretest::ScopedManagerHooks managers;
  std::function<void(TestBackup&)> prepare;
  SimClientDaemon daemon;  // last: stops before the rest goes
};

// A header of a regular file.
inline ClProxyFileHeader FileHeader(const std::string& name, uint64_t size = 0, uint64_t flags = 0x10) {
  ClProxyFileHeader header;
  header.name = name;
  header.mode = 0100644;
  header.size = size;
  header.mtime = 1767225600;
  header.ctime = 1767225601;
  header.atime = 1767225602;
  header.flags = flags;
  return header;
}

inline std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record) {
  std::vector<ClProxyMsgType> types;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) types.push_back(message->getMsgType());
  return types;
}

}  // namespace backuptest
