// Shared pieces of the service tests: a fixture with a settings store, log
// capture, deployment-manager hooks that count the stops, client records
// pointing at a simulated service daemon, and an empty cache before and
// after each test.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ClClientManager.h"
#include "CWqIPAddr.h"
#include "EventJournal.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "KXThread.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimServiceDaemon.h"
#include "service/ProxyServices.h"
#include "service/ProxyServicesPrivate.h"
#include "core/TestSupport.h"

namespace servicetest {

const int32_t kClient = 5;
const int32_t kVellicon = 2;
const int32_t kApp = 10;

// What the services do with their deployment managers.
class StopHooks : public ClClientManagerHooks {
 public:
  void created(const ClClientManager& manager) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ports.push_back(manager.getPort());
  }
  CWqError checkAndStart(const ClClientManager&, long long) override {
    ++checks;
    return CWqError::Success();
  }
  CWqError startClient(const ClClientManager&) override {
    ++starts;
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "no start in tests");
  }
  CWqError stopClient(const ClClientManager& manager) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    stoppedHosts.push_back(manager.getHost());
    return CWqError::Success();
  }
  std::vector<uint16_t> Ports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ports;
  }
  std::vector<std::string> Stopped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return stoppedHosts;
  }

  std::atomic<int> checks{0};
  std::atomic<int> starts{0};

 private:
  std::mutex m_mutex;
  std::vector<uint16_t> ports;
  std::vector<std::string> stoppedHosts;
};

inline size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

// A new folder "/tmp/<prefix>XXXXXX" (empty when it cannot be made), and
// its removal with all it holds.
inline std::string MakeScratchFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  return ::mkdtemp(&pattern[0]) ? pattern : std::string();
}
inline void RemoveScratchFolder(const std::string& folder) {
  if (!folder.empty()) std::system(("rm -rf '" + folder + "'").c_str());
}

// Polls `done` in real time for at most `seconds`.
inline bool Eventually(const std::function<bool()>& done, int seconds = 5) { return coretest::WaitUntil(done, seconds); }

inline std::string Texts(const CWqError& error) {
  std::string all;
  for (const FXErrorFrame& frame : error.GetFrames()) all += frame.text + "\n";
  return all;
}

class ServicesTest : public ::testing::Test {
 protected:
  ServicesTest() : m_savedLog(g_ptrLogWriter), hooks(std::make_shared<StopHooks>()) {
    boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
    writer->SetQuiet(true);
    writer->SetCapture(true);
    writer->SetLevel(3);
    g_ptrLogWriter = writer;
  }
  ~ServicesTest() override { g_ptrLogWriter = m_savedLog; }

  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ProxyServicesCache::Reset();
    ProxyServicesPrivate::SetFixedWaits(1, 1);
    ClClientManager::SetHooks(hooks);
    EventJournal::Instance().Reset();
    ASSERT_FALSE(daemon.Start().IsError());
    FillRecords(kClient, "127.0.0.1", daemon.GetPort());
  }
  void TearDown() override {
    ProxyServicesCache::Reset();
    ProxyServicesPrivate::SetFixedWaits(30, 5);
    ClClientManager::SetHooks(nullptr);
    CWqIPAddr::SetResolver(nullptr);
    KXThread::FailNextStarts(0);
    // No daemon thread may still be logging when the log writer is put back.
    daemon.Stop();
  }

  // Client `clientId` "ibmi<id>" reached at `host`:`port` (port 0: none).
  static void FillRecords(int32_t clientId, const std::string& host, uint16_t port, bool reset = true) {
    RecordRegistry& records = RecordRegistry::Instance();
    if (reset) records.Reset();
    records.AddClient(clientId, "ibmi" + std::to_string(clientId), 118);
    records.SetClientValue(clientId, "NetworkHostname", host);
    records.SetClientValue(clientId, "DisplayName", "IBM i " + std::to_string(clientId));
    if (port) records.SetClientValue(clientId, "KXDPort", static_cast<int>(port));
  }

  static void SetTimeout(const char* kind, unsigned long seconds) {
    KXPlatformInfo settings;
    ASSERT_EQ(0, settings.setNumber("ProxyTimeouts", kind, seconds));
  }

  // A new instance for `handle` when an exchange closed its link.
  static void ReconnectIfClosed(ProxyServicesPtr& handle) {
    if (handle->instance()->isConnected()) return;
    handle.reset();
    ProxyServicesCache::Reset();
    handle = ProxyServices::instanceForClient(kClient);
    ASSERT_TRUE(handle);
  }

  size_t LogCount(const std::string& fragment) const {
    size_t count = 0;
    for (const std::string& line : g_ptrLogWriter->CapturedLines())
      if (line.find(fragment) != std::string::npos) ++count;
    return count;
  }

  boost::shared_ptr<FXLogWriter> m_savedLog;
  ScopedSettingsRoot settingsRoot;
  std::shared_ptr<StopHooks> hooks;
  SimServiceDaemon daemon;
};

}  // namespace servicetest
