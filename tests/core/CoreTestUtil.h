// Shared pieces of the job-core tests: log capture, a hook folder of the
// test's own, deployment-manager hooks the test controls, settings values,
// client records and a minimal job phase.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "ClClientManager.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "Proxy.h"
#include "ProxyHookFile.h"
#include "RecordRegistry.h"
#include "core/TestSupport.h"

namespace coretest {

// Captures the log lines of level <= `level` (connection lines included)
// for the life of the object, writing nothing.
class ScopedLogCapture {
 public:
  explicit ScopedLogCapture(int level = 4) : m_saved(g_ptrLogWriter) {
    boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
    writer->SetQuiet(true);
    writer->SetCapture(true);
    writer->SetLevel(level);
    writer->SetCategoryMask(FX_LOG_CATEGORY_CONNECTION);
    g_ptrLogWriter = writer;
  }
  ~ScopedLogCapture() { g_ptrLogWriter = m_saved; }

  std::vector<std::string> Lines() const { return g_ptrLogWriter->CapturedLines(); }
  size_t Count(const std::string& fragment) const {
    size_t count = 0;
    for (const std::string& line : Lines())
      if (line.find(fragment) != std::string::npos) ++count;
    return count;
  }
  bool Has(const std::string& fragment) const { return Count(fragment) != 0; }
  void Clear() { g_ptrLogWriter->ClearCapture(); }

 private:
  boost::shared_ptr<FXLogWriter> m_saved;
};

// Points the hook files at a fresh folder; removes it and what it holds.
class ScopedHookFolder {
 public:
  ScopedHookFolder() {
    char pattern[] = "/tmp/proxy-hooks-XXXXXX";
    if (mkdtemp(pattern)) m_sPath = pattern;
    ProxyHookFile::SetFolder(m_sPath);
  }
  // Removes whatever the folder holds: a forked child may have added to it.
  ~ScopedHookFolder() {
    ProxyHookFile::SetFolder("");
    if (m_sPath.empty()) return;
    if (DIR* dir = ::opendir(m_sPath.c_str())) {
      std::vector<std::string> names;
      while (dirent* entry = ::readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
      ::closedir(dir);
      for (const std::string& name : names) ::unlink(Path(name).c_str());
    }
    ::rmdir(m_sPath.c_str());
  }
  const std::string& path() const { return m_sPath; }
  std::string Path(const std::string& name) const { return m_sPath + "/" + name; }
  // An empty file of this process's user.
  bool Create(const std::string& name) {
    if (m_sPath.empty()) return false;
    FILE* file = std::fopen(Path(name).c_str(), "w");
    if (!file) return false;
    std::fclose(file);
    return true;
  }
  bool Symlink(const std::string& target, const std::string& name) {
    if (m_sPath.empty()) return false;
    return ::symlink(target.c_str(), Path(name).c_str()) == 0;
  }

 private:
  std::string m_sPath;
};

// Deployment-manager hooks: count what the connector does with its manager
// and answer what the test says.
class ManagerHooks : public ClClientManagerHooks {
 public:
  struct Built {
    std::string host;
    uint16_t port;
    int velliconId, appId, clientId;
  };

  void created(const ClClientManager& manager) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    built.push_back(Built{manager.getHost(), manager.getPort(), manager.getVelliconId(), manager.getAppId(),
                          manager.getClientId()});
  }
  CWqError checkAndStart(const ClClientManager&, long long jobId) override {
    ++checks;
    lastJobId = jobId;
    return checkResult;
  }
  CWqError startClient(const ClClientManager&) override {
    const int call = ++starts;
    return onStart ? onStart(call) : CWqError::Success();
  }
  std::vector<Built> Managers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return built;
  }

  std::atomic<int> checks{0};
  std::atomic<int> starts{0};
  long long lastJobId = -1;
  CWqError checkResult;
  std::function<CWqError(int call)> onStart;  // by call number, from 1

 private:
  std::mutex m_mutex;
  std::vector<Built> built;
};

// Installs hooks for a scope.
class ScopedManagerHooks {
 public:
  ScopedManagerHooks() : hooks(std::make_shared<ManagerHooks>()) { ClClientManager::SetHooks(hooks); }
  ~ScopedManagerHooks() { ClClientManager::SetHooks(nullptr); }
  std::shared_ptr<ManagerHooks> hooks;
};

inline void SetNumber(const char* section, const char* name, unsigned long value) {
  KXPlatformInfo settings;
  ASSERT_EQ(0, settings.setNumber(section, name, value)) << section << "/" << name;
}

inline void SetTimeout(const char* kind, unsigned long seconds) { SetNumber("ProxyTimeouts", kind, seconds); }

inline void SetString(const char* section, const char* name, const std::string& value) {
  KXPlatformInfo settings;
  ASSERT_EQ(0, settings.setString(section, name, value.data(), value.size())) << section << "/" << name;
}

// The client records of the tests: OpenVMS client 5 "vms1" whose daemon
// listens on `daemonPort`, managed by proxy client 9 "proxy1"; subclient
// (2, 10) belongs to it.
const int32_t kVellicon = 2;
const int32_t kApp = 10;
const int32_t kClient = 5;
const int32_t kProxyClient = 9;

inline void FillRecords(uint16_t daemonPort) {
  RecordRegistry& records = RecordRegistry::Instance();
  records.Reset();
  records.AddClient(kClient, "vms1", 49);
  records.SetClientValue(kClient, "KXDPort", static_cast<int>(daemonPort));
  records.SetClientProperty(kClient, "OpenVMSProxyClientId", kProxyClient);
  records.AddClient(kProxyClient, "proxy1", 0);
  records.AddSubclient(kVellicon, kApp, kClient);
}

// A minimal job phase: the base class with its state readable.
class TestPhase : public Proxy {
 public:
  int32_t ClientId() const { return m_iClientId; }
  int32_t ClientOSId() const { return m_iClientOSId; }
  const std::string& ClientName() const { return m_sClientName; }
  const std::string& ProxyClientName() const { return m_sProxyClientName; }
  const std::string& ListenInterface() const { return m_sListenInterface; }
  uint16_t ListenPort() const { return m_uListenPort; }
  int32_t ProcessId() const { return m_iClientProcessId; }
  int32_t ProcessStatus() const { return m_iProcessStatus; }
  const std::string& BaseDir() const { return m_sClientBaseDir; }
  ClProxySrvConnection* ProgramLink() { return m_pSrvConnection.get(); }
  ClProxyClientConnection* DaemonLink() { return m_pClientConnection.get(); }

  CWqError Init(int32_t clientId, const std::string& program = "TEST.EXE", int32_t appId = kApp) {
    return init(kVellicon, appId, clientId, 77, 1, -5, program, "127.0.0.1", 1234);
  }
};

// The text of every frame of an error.
inline std::string Texts(const CWqError& error) {
  std::string all;
  for (const FXErrorFrame& frame : error.GetFrames()) all += frame.text + "\n";
  return all;
}

}  // namespace coretest
