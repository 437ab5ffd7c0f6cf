// Shared pieces of the post-operations tests: the phase with its links
// readable, a folder for the backed-up files list (a plain file or a FIFO
// that the test feeds), and the fixture that runs the phase against the
// simulated daemon and its "PST.EXE".
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "PostOps/ProxyPostOps.h"
#include "ScopedSettingsRoot.h"
#include "SimClientDaemon.h"
#include "SimPostOpsProgram.h"
#include "core/CoreTestUtil.h"

namespace postopstest {

const uint64_t kJobId = 77;

class TestPostOps : public ProxyPostOps {
 public:
  ClProxySrvConnection* ProgramLink() { return m_pSrvConnection.get(); }
  const std::string& ClientProgram() const { return m_sClientProgram; }

  CWqError Init(int32_t appId = coretest::kApp) {
    return init(coretest::kVellicon, appId, coretest::kClient, kJobId, 1, -5, "127.0.0.1", 1234);
  }
};

// A fresh folder that may hold "BackedUpFiles.kxf"; removed with what it
// holds. The list is either written whole or made a FIFO that the test
// holds open for reading and writing (so the phase's open never waits and
// its reads wait for what the test writes).
class ListFolder {
 public:
  ListFolder() {
    char pattern[] = "/tmp/proxy-postops-XXXXXX";
    if (mkdtemp(pattern)) m_sPath = pattern;
  }
  ~ListFolder() {
    if (m_iFifo >= 0) ::close(m_iFifo);
    if (m_sPath.empty()) return;
    ::unlink(ListPath().c_str());
    ::rmdir(m_sPath.c_str());
  }
  ListFolder(const ListFolder&) = delete;
  ListFolder& operator=(const ListFolder&) = delete;

  const std::string& path() const { return m_sPath; }
  std::string ListPath() const { return m_sPath + "/BackedUpFiles.kxf"; }

  bool Write(const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(ListPath().c_str(), "wb");
    if (!file) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
  }

  // Makes the list a FIFO of `capacity` bytes at least, held open.
  bool MakeFifo(int capacity) {
    if (::mkfifo(ListPath().c_str(), 0600) != 0) return false;
    m_iFifo = ::open(ListPath().c_str(), O_RDWR | O_CLOEXEC);
    return m_iFifo >= 0 && ::fcntl(m_iFifo, F_SETPIPE_SZ, capacity) >= capacity;
  }
  // Writes into the FIFO; all of it fits in its capacity.
  bool Feed(const std::vector<uint8_t>& bytes) {
    return ::write(m_iFifo, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // The test's end goes: once the FIFO is empty its reader sees the end.
  void CloseFifo() {
    if (m_iFifo >= 0) ::close(m_iFifo);
    m_iFifo = -1;
  }
  // The phase's descriptor of the FIFO: the one opened for reading only,
  // on the same file, that is not the test's.
  int FindReaderDescriptor() const {
    struct stat fifo;
    if (::fstat(m_iFifo, &fifo) != 0) return -1;
    int found = -1;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    while (dirent* entry = ::readdir(dir)) {
      const int descriptor = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || descriptor == m_iFifo || descriptor == ::dirfd(dir)) continue;
      struct stat other;
      if (::fstat(descriptor, &other) != 0 || other.st_dev != fifo.st_dev || other.st_ino != fifo.st_ino) continue;
      const int flags = ::fcntl(descriptor, F_GETFL);
      if (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY) found = descriptor;
    }
    ::closedir(dir);
    return found;
  }

 private:
  std::string m_sPath;
  int m_iFifo = -1;
};

// SIGUSR1 with no restart, so that a blocked read of the thread it is sent to
// returns EINTR. Interrupt() publishes what the sending thread did before
// (looking up the reader's descriptor, say) and the handler takes it, so the
// receiving thread's later steps (closing that descriptor) are ordered after
// them: socket data alone does not order threads for ThreadSanitizer.
class ScopedInterruptSignal {
 public:
  ScopedInterruptSignal() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = +[](int) { (void)Sent().load(std::memory_order_acquire); };
    sigemptyset(&action.sa_mask);
    m_bInstalled = sigaction(SIGUSR1, &action, &m_saved) == 0;
  }
  ~ScopedInterruptSignal() {
    if (m_bInstalled) sigaction(SIGUSR1, &m_saved, nullptr);
  }
  ScopedInterruptSignal(const ScopedInterruptSignal&) = delete;
  ScopedInterruptSignal& operator=(const ScopedInterruptSignal&) = delete;

  bool Installed() const { return m_bInstalled; }
  static void Interrupt(pthread_t thread) {
    Sent().fetch_add(1, std::memory_order_release);
    pthread_kill(thread, SIGUSR1);
  }

 private:
  static std::atomic<int>& Sent() {
    static std::atomic<int> sent{0};
    return sent;
  }
  struct sigaction m_saved;
  bool m_bInstalled;
};

// Bytes of every value, so that a byte taken for a signed char or a text
// ending at a NUL shows.
inline std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = 0x9e3779b9u;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

inline std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record) {
  std::vector<ClProxyMsgType> types;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received) types.push_back(message->getMsgType());
  return types;
}

class PostOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(hookFolder.path().empty());
    ASSERT_FALSE(list.path().empty());
    for (const char* kind : {"TIMEOUT_DAEMON_REPLY", "TIMEOUT_CLIENT_CONNECT", "TIMEOUT_JOB_START_REPLY"})
      coretest::SetTimeout(kind, 20);
    program = SimPostOpsProgram::Create();
    daemon.SetProgram("PST.EXE", program->Script());
    ASSERT_FALSE(daemon.Start().IsError());
    coretest::FillRecords(daemon.GetPort());
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }

  // init, launch, accept and job start, each of which must succeed.
  void Start(TestPostOps& phase) {
    CWqError result = phase.Init();
    ASSERT_FALSE(result.IsError()) << result.AsString();
    result = phase.launchClientProcess();
    ASSERT_FALSE(result.IsError()) << result.AsString();
    result = phase.acceptClientProcessConnection();
    ASSERT_FALSE(result.IsError()) << result.AsString();
    result = phase.sendJobStart();
    ASSERT_FALSE(result.IsError()) << result.AsString();
  }

  // Destroys the phase (closing its links) and returns what "PST.EXE" took.
  SimPostOpsProgram::Result Finish(std::unique_ptr<TestPostOps>& phase, SimConnectionRecord* record = nullptr) {
    phase.reset();
    EXPECT_TRUE(daemon.WaitForProgram(0, 20));
    if (record) *record = daemon.GetProgramRecord(0);
    return program->GetResult();
  }

  ScopedSettingsRoot settingsRoot;
  coretest::ScopedHookFolder hookFolder;
  coretest::ScopedLogCapture log;
  coretest::ScopedManagerHooks managers;
  ListFolder list;
  std::shared_ptr<SimPostOpsProgram> program;
  SimClientDaemon daemon;  // last: stops before the rest goes
};

}  // namespace postopstest
