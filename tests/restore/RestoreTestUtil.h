// Shared pieces of the restore tests: the phase with its protected state
// reachable, a fixture that runs it against the simulated daemon and
// "RST.EXE", and a gate that holds the receiver loop at its test seam.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "CProxyFileSystemSendEvents.h"
#include "ClProxyMessages.h"
#include "EventJournal.h"
#include "ISendEventInterface.h"
#include "KXThread.h"
#include "ScopedSettingsRoot.h"
#include "SimClientDaemon.h"
#include "SimRestoreProgram.h"
#include "core/CoreTestUtil.h"
#include "restore/ProxyRestore.h"

namespace restoretest {

const uint64_t kJob = 93;

class TestRestore : public ProxyRestore {
 public:
  using ProxyRestore::handleRestoreMessage;
  using ProxyRestore::kCompletionSite;
  using ProxyRestore::kReceiverSite;
  using ProxyRestore::MessageSite;
  using ProxyRestore::sendUnmodifiedPreHeaders;

  // A file in progress, as the file stream sets it when its header goes out.
  void SetCurrentFile(const std::string& name) {
    currentFileName = name;
    skipFileData = false;
    stampCurrentFile();
  }
  void SetHeaderFlags(uint64_t flags) { headerFlags = flags; }
  void SetHeadName(const std::string& name) { preHeaderHeadName = name; }
  const std::string& HeadName() const { return preHeaderHeadName; }
  bool SkipFileData() const { return skipFileData; }
  bool DiskFull() const { return diskFull.load(); }
  bool ReceiverFailed() const { return receiverFailed.load(); }
  bool HasThread() const { return static_cast<bool>(receiverThread); }
  bool ThreadRunning() const { return receiverThread && receiverThread->threadInProgress(); }
  int StopWriteEnd() const { return stopPipe[1]; }
  int StopReadEnd() const { return stopPipe[0]; }
  size_t StatusCount() {
    auto_lock lock(&statusLock, true);
    return statusList.Size();
  }
  size_t PreHeaderCount() const { return preHeaders.size(); }
  size_t UnmodifiedCount() const { return unmodifiedPreHeaders.size(); }
  size_t ArchiveCount() const { return archiveEntries.size(); }
  size_t CachedTapeItems() const { return tapeRestoreCache.itemCount(); }
  ClProxySrvConnection* ProgramLink() { return m_pSrvConnection.get(); }
  // What init records, for calls made without it.
  void SetJob() { m_ullJobId = kJob; }

  // Handles one message as the site does; the error, `finished` out.
  CWqError Handle(ClProxyMsg& msg, MessageSite site, bool* finishedOut = nullptr) {
    bool finished = false;
    CWqError result = handleRestoreMessage(msg, site, finished);
    if (finishedOut) *finishedOut = finished;
    return result;
  }
};

// Holds the receiver loop at its seam: while armed, the loop stops before
// its next wait until released. Counts both points.
class SeamGate {
 public:
  std::function<void(ProxyRestore::ReceiverPoint)> Seam() {
    return [this](ProxyRestore::ReceiverPoint point) {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (point == ProxyRestore::kAfterMessage) {
        ++m_messages;
      } else {
        ++m_waits;
        if (m_armed) {
          m_held = true;
          m_changed.notify_all();
          m_changed.wait(lock, [this] { return !m_armed; });
          m_held = false;
        }
      }
      m_changed.notify_all();
    };
  }
  void Arm() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
    m_changed.notify_all();
  }
  bool WaitHeld(int seconds = 20) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_held; });
  }
  bool WaitMessages(int count, int seconds = 20) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_messages >= count; });
  }
  bool WaitWaits(int count, int seconds = 20) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_waits >= count; });
  }
  int Messages() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_armed = false;
  bool m_held = false;
  int m_messages = 0;
  int m_waits = 0;
};

// True once `descriptor` is readable (within `seconds`); reads nothing.
inline bool WaitReadable(int descriptor, int seconds = 20) {
  pollfd fd;
  fd.fd = descriptor;
  fd.events = POLLIN;
  fd.revents = 0;
  return ::poll(&fd, 1, seconds * 1000) == 1;
}

// A handler the test scripts: succeed (optionally renaming the drive),
// fail, or block until released.
class ScriptedHandler : public VTLDataHandler {
 public:
  CWqError mountNextVolume(ClTapeInfoMsg* request) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++calls;
    lastBarcode = request->currentTapeBarCode();
    entered = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !block; });
    if (!argumentName.empty()) request->setArgument(argumentName, argumentValue);
    return result;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    block = false;
    m_changed.notify_all();
  }
  bool WaitEntered(int seconds = 20) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(seconds), [this] { return entered; });
  }

  std::atomic<int> calls{0};
  std::string lastBarcode;
  bool entered = false;
  bool block = false;
  CWqError result;
  std::string argumentName, argumentValue;

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
};

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(hookFolder.path().empty());
    for (const char* kind : {"TIMEOUT_DAEMON_REPLY", "TIMEOUT_CLIENT_CONNECT", "TIMEOUT_JOB_START_REPLY",
                             "TIMEOUT_RESTORE_COMPLETE"})
      coretest::SetTimeout(kind, 20);
    EventJournal::Instance().Reset();
    ISendEventInterface::SetInstance(
        boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(kJob, nullptr)));
    ASSERT_FALSE(daemon.Start().IsError());
    coretest::FillRecords(daemon.GetPort());
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), kRestoreXml);
  }
  void TearDown() override {
    KXThread::FailNextStarts(0);
    ClTapeRestoreDataMsg::SetCapacity(0);
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    EventJournal::Instance().Reset();
    RecordRegistry::Instance().Reset();
  }

  // init, launch and accept against `program`.
  std::unique_ptr<TestRestore> Connect(const SimScript& program) {
    daemon.SetProgram(SimRestoreProgram::kCommand, program);
    std::unique_ptr<TestRestore> phase(new TestRestore);
    if (prepare) prepare(*phase);
    CWqError result = phase->init(coretest::kVellicon, coretest::kApp, coretest::kClient, kJob, "127.0.0.1", 0);
    if (!result.IsError()) result = phase->launchClientProcess();
    if (!result.IsError()) result = phase->acceptClientProcessConnection();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Connect, then sendJobStart, which must succeed.
  std::unique_ptr<TestRestore> Started(const SimScript& program) {
    std::unique_ptr<TestRestore> phase = Connect(program);
    if (!phase) return phase;
    CWqError result = phase->sendJobStart();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Destroys the phase and returns what the program received.
  SimConnectionRecord Finish(std::unique_ptr<TestRestore>& phase, size_t program = 0) {
    // Stopped before the derived part goes: the thread calls virtual members.
    if (phase) phase->stopReceiverThread();
    phase.reset();
    EXPECT_TRUE(daemon.WaitForProgram(program, 20));
    return daemon.GetProgramRecord(program);
  }

  static constexpr const char* kRestoreXml =
      "<CNMessage ns=\"12\" id=\"262\"><Field position=\"2\" type=\"objects\">"
      "<CNMessage ns=\"12\" id=\"311\"></CNMessage></Field></CNMessage>";

  ScopedSettingsRoot settingsRoot;
  coretest::ScopedHookFolder hookFolder;
  coretest::ScopedLogCapture log{4};
  coretest::ScopedManagerHooks managers;
  std::function<void(TestRestore&)> prepare;
  SimClientDaemon daemon;  // last: stops before the rest goes
};

inline std::vector<ClProxyMsgType> Types(const SimConnectionRecord& record) {
  return SimRestoreProgram::Types(record);
}

inline size_t Count(const SimConnectionRecord& record, ClProxyMsgType type) {
  size_t count = 0;
  for (const std::shared_ptr<ClProxyMsg>& message : record.received)
    if (message->getMsgType() == type) ++count;
  return count;
}

}  // namespace restoretest
