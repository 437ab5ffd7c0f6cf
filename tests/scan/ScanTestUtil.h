// Shared pieces of the scan-phase tests: the simulated client daemon with
// the scan program, the records of an IBM i subclient, a clean event sender
// and journal, an output folder of the test's own, and the road of a scan
// job up to the step a test needs.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ClJobStartMsg.h"
#include "EventJournal.h"
#include "ISendEventInterface.h"
#include "ScopedSettingsRoot.h"
#include "SimClientDaemon.h"
#include "SimScanProgram.h"
#include "core/CoreTestUtil.h"
#include "scan/ProxyScan.h"

namespace scantest {

using coretest::kApp;
using coretest::kClient;
using coretest::kVellicon;
const uint64_t kJob = 77;

// A fresh folder, removed with what it holds.
struct ScopedTempFolder : coretest::ScopedTempFolder {
  ScopedTempFolder() : coretest::ScopedTempFolder("proxy-scan") {}
};

inline bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

// An option as "name=value": bools true/false, int32 as is, uint64 with a
// "u" suffix, strings in quotes.
inline std::string Describe(const ClJobStartMsg::Entry& entry) {
  switch (entry.kind) {
    case ClJobStartMsg::kBool:
      return entry.name + "=" + (entry.bValue ? "true" : "false");
    case ClJobStartMsg::kInt32:
      return entry.name + "=" + std::to_string(entry.iValue);
    case ClJobStartMsg::kUInt32:
      return entry.name + "=" + std::to_string(entry.uValue) + "u32";
    case ClJobStartMsg::kUInt64:
      return entry.name + "=" + std::to_string(entry.ullValue) + "u";
    case ClJobStartMsg::kString:
      return entry.name + "='" + entry.text + "'";
    case ClJobStartMsg::kPath:
      return "path " + entry.name + " -> " + entry.text;
  }
  return "?";
}

inline std::vector<std::string> Describe(const ClJobStartMsg& start) {
  std::vector<std::string> options;
  for (const ClJobStartMsg::Entry& entry : start.getEntries()) options.push_back(Describe(entry));
  return options;
}

// The calls that set option `name`, in order, each as Describe gives it.
inline std::vector<std::string> DescribeSetCalls(const ClJobStartMsg& start, const std::string& name) {
  std::vector<std::string> calls;
  for (const ClJobStartMsg::Entry& entry : start.getSetCalls())
    if (entry.name == name) calls.push_back(Describe(entry));
  return calls;
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(hookFolder.path().empty());
    ASSERT_FALSE(output.path().empty());
    for (const char* kind : {"TIMEOUT_DAEMON_REPLY", "TIMEOUT_CLIENT_CONNECT", "TIMEOUT_JOB_START_REPLY"})
      coretest::SetTimeout(kind, 20);
    EventJournal::Instance().Reset();
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    ASSERT_FALSE(daemon.Start().IsError());
    coretest::FillRecords(daemon.GetPort());
    // An IBM i subclient without custom content selection.
    SetSubclient("iSeriesSCCustomFlag", false);
  }
  void TearDown() override {
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    EventJournal::Instance().Reset();
    RecordRegistry::Instance().Reset();
  }

  static void SetSubclient(const std::string& name, const RecordValue& value) {
    ASSERT_TRUE(RecordRegistry::Instance().SetSubclientValue(kVellicon, kApp, name, value)) << name;
  }
  static void SetTask(uint32_t optionId, const RecordValue& value) {
    RecordRegistry::Instance().SetTaskOption(static_cast<int64_t>(kJob), optionId, value);
  }

  // init (at `level`), launch and accept against the scan program `script`.
  std::unique_ptr<ProxyScan> Connect(const SimScript& script, KXBkpLevel level = 1) {
    daemon.SetProgram(SimScanProgram::kCommand, script);
    std::unique_ptr<ProxyScan> phase(createProxyScan());
    CWqError result = phase->init(kVellicon, kApp, kClient, kJob, level, -5, "127.0.0.1", 0);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (!result.IsError()) result = phase->launchClientProcess();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (!result.IsError()) result = phase->acceptClientProcessConnection();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Connect, then the job start; null when a step failed.
  std::unique_ptr<ProxyScan> Start(const SimScript& script, KXBkpLevel level = 1) {
    std::unique_ptr<ProxyScan> phase = Connect(script, level);
    if (!phase) return phase;
    CWqError result = phase->sendJobStart();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Start, then the scan configuration with `content`; null when a step failed.
  std::unique_ptr<ProxyScan> Configure(const SimScript& stream, std::list<std::string> content = {"/QSYS.LIB/A.LIB"},
                                       KXBkpLevel level = 1) {
    std::unique_ptr<ProxyScan> phase = Start(SimScanProgram::Scripted(stream), level);
    if (!phase) return phase;
    std::list<std::string> empty;
    ClScanOptionList options;
    CWqError result = phase->sendScanConfig(content, empty, empty, empty, options);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // What the scan program received, once its link is closed: destroys the
  // phase first.
  SimConnectionRecord Program(std::unique_ptr<ProxyScan>& phase) {
    phase.reset();
    EXPECT_TRUE(daemon.WaitForProgram(0, 20));
    return daemon.GetProgramRecord(0);
  }

  ScopedSettingsRoot settingsRoot;
  coretest::ScopedHookFolder hookFolder;
  coretest::ScopedLogCapture log;
  coretest::ScopedManagerHooks managers;
  ScopedTempFolder output;
  SimClientDaemon daemon;  // last: stops before the rest goes
};

}  // namespace scantest
