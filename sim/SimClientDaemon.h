// SimClientDaemon: the simulated daemon of a client machine, as a job phase
// meets it. On each connection it serves requests until the proxy closes
// the link or the daemon stops:
//
//   launch (ClLaunchCmdMsg, ClLaunchCmdDIPMsg): answers LAUNCH_RESPONSE_MSG
//     with the configured process id. When that id is above 0 it starts the
//     program that the command names (SetProgram): a thread that connects
//     back to the listening address of the request (the interface of a
//     ClLaunchCmdDIPMsg, else the daemon link's peer address) and runs the
//     program's script, as SimPeer does. A command that names no program is
//     answered with process id -1 (the launch failed).
//   process status (ClGetProcessStatusMsg): runs the next status script
//     (AddStatusScript), else the default one (SetStatusScript; until set,
//     it answers status kDefaultStatus).
//   anything else is recorded and left unanswered.
//
// Once a version text is set (SetVersionReply), a launch of "SERVICE" opens
// the daemon's service link, as on a client machine: it is not answered and
// starts no program (nor is it listed with the launches), and a
// VERSION_REQUEST_MSG is answered with CLIENT_VERSION_MSG carrying the text.
//
// Told otherwise, the daemon refuses connections (Reserve without Start:
// a closed port), stays silent on a launch, answers it with a bad process
// id, or closes the link on it. Connections, launches and programs are
// recorded for tests. Stop (also run by the destructor) ends every
// connection and program and joins their threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CWqError.h"
#include "SimDaemon.h"
#include "SimRecord.h"
#include "SimScript.h"
#include "SimStopSignal.h"

class SimPeer;

class SimClientDaemon {
 public:
  enum LaunchAnswer {
    kAnswerProcessId,  // answer the process id (and start the program)
    kStaySilent,       // read the request, answer nothing
    kCloseLink,        // close the link on the request
  };

  // One launch request as the daemon received it.
  struct Launch {
    std::string command;
    bool withInterface = false;
    std::string interface;
    uint16_t port = 0;
    int32_t processId = 0;  // answered (0 when not answered)
    int program = -1;       // index of the started program, -1 when none
  };

  static constexpr int32_t kDefaultProcessId = 4242;
  static constexpr int32_t kDefaultStatus = 1;

  SimClientDaemon();
  ~SimClientDaemon();
  SimClientDaemon(const SimClientDaemon&) = delete;
  SimClientDaemon& operator=(const SimClientDaemon&) = delete;

  // A port that refuses connections until Start.
  CWqError Reserve();
  CWqError Start();
  uint16_t GetPort() const { return m_daemon.GetPort(); }

  // The script that the program named `command` runs once connected.
  void SetProgram(const std::string& command, SimScript script);
  void SetLaunchAnswer(LaunchAnswer answer, int32_t processId = kDefaultProcessId);
  void AddStatusScript(SimScript script);
  void SetStatusScript(SimScript script);
  // A script that answers one status request with `status`.
  static SimScript StatusReply(int32_t status);

  // The version text of the service link ("5:20:OSVERSION=V7R4M0").
  void SetVersionReply(const std::string& text);
  // Service links opened and version requests answered so far.
  size_t GetServiceLinkCount() const;
  size_t GetVersionRequestCount() const;

  std::vector<Launch> GetLaunches() const;
  // The daemon connections, as SimDaemon records them.
  size_t GetConnectionCount() const { return m_daemon.GetConnectionCount(); }
  bool WaitForAccepted(size_t count, int seconds) { return m_daemon.WaitForAccepted(count, seconds); }
  SimConnectionRecord GetConnectionRecord(size_t index) const { return m_daemon.GetRecord(index); }
  bool WaitForConnection(size_t index, int seconds) { return m_daemon.WaitForConnection(index, seconds); }

  // Programs, in launch order. A program that could not connect back has
  // the connect failure as its record's failure.
  size_t GetProgramCount() const;
  bool WaitForProgram(size_t index, int seconds);
  SimConnectionRecord GetProgramRecord(size_t index) const;

  void Stop();

 private:
  struct Program {
    std::thread thread;
    std::shared_ptr<SimRecorder> recorder;
    std::mutex wakeMutex;
    int wakeDescriptor = -1;  // a second descriptor of the socket, to interrupt sends
  };

  CWqError Serve(SimPeer& peer);
  CWqError OnLaunch(SimPeer& peer, const ClProxyMsg& message);
  CWqError OnStatus(SimPeer& peer);
  CWqError OnVersion(SimPeer& peer);
  // Starts a program thread; its index.
  int StartProgram(const std::string& host, uint16_t port, SimScript script);
  void RunProgram(Program& program, std::string host, uint16_t port, SimScript script);
  void Notify();

  SimDaemon m_daemon;
  SimStopSignal m_programStop;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<std::string, SimScript> m_programScripts;
  LaunchAnswer m_launchAnswer;
  int32_t m_launchProcessId;
  std::deque<SimScript> m_statusScripts;
  SimScript m_defaultStatusScript;
  std::vector<Launch> m_launches;
  std::vector<std::unique_ptr<Program>> m_programs;
  bool m_bStopped;
  bool m_bHaveVersion = false;
  std::string m_sVersionReply;
  size_t m_uServiceLinks = 0;
  size_t m_uVersionRequests = 0;
};
