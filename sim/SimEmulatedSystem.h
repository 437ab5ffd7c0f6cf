// SimEmulatedSystem: a client's operating system as the far end of an ssh hop sees it.
// A command arrives as the one text ssh carried (nothing expanded on the
// proxy host); the machine answers with its two output streams and an exit
// status. A copy arrives as the remote path and the file's bytes. Every
// command and copy is recorded as received, in order.
//
// The machines keep their state in memory and start or stop the client
// daemon through the control the test or example host installs, so a
// daemon that the client software starts is a simulated daemon in the same
// process. All members may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "SimClientMachine.h"

class SimEmulatedSystem {
 public:
  // `start` gets the daemon's port and says whether the daemon now runs.
  using StartDaemon = std::function<bool(uint16_t port)>;
  using StopDaemon = std::function<void()>;

  SimEmulatedSystem() = default;
  virtual ~SimEmulatedSystem() = default;
  SimEmulatedSystem(const SimEmulatedSystem&) = delete;
  SimEmulatedSystem& operator=(const SimEmulatedSystem&) = delete;

  SimRemoteReply Execute(const std::string& command);
  SimRemoteReply Copy(const std::string& remotePath, const std::string& bytes);

  // Every later command or copy whose text holds `pattern` fails the way
  // this machine's system reports such a step, and changes nothing.
  void FailCommands(const std::string& pattern);
  void SetDaemonControl(StartDaemon start, StopDaemon stop);
  // Puts this system behind `machine`'s ssh hop: every command but scp's
  // own, and every copy. The system must outlive the machine's sessions.
  void AttachTo(SimClientMachine& machine);
  // Told each command and copy as it arrives, with the reply (a watcher
  // that prints the session).
  using Observer = std::function<void(const std::string& what, const SimRemoteReply& reply)>;
  void SetObserver(Observer observer);

  std::vector<std::string> Commands() const;
  std::vector<std::string> CopiedPaths() const;
  bool DaemonRunning() const;

 protected:
  // Called with m_mutex held.
  virtual SimRemoteReply Run(const std::string& command) = 0;
  virtual SimRemoteReply Store(const std::string& remotePath, const std::string& bytes) = 0;
  virtual SimRemoteReply Failure(const std::string& command) const = 0;
  virtual SimRemoteReply CopyFailure(const std::string& remotePath) const = 0;
  bool StartDaemonLocked(uint16_t port);
  void StopDaemonLocked();

  mutable std::mutex m_mutex;

 private:
  bool Fails(const std::string& text) const;

  std::vector<std::string> m_failPatterns;
  std::vector<std::string> m_commands;
  std::vector<std::string> m_copies;
  Observer m_observer;
  StartDaemon m_start;
  StopDaemon m_stop;
  bool m_bDaemonRunning = false;
};
