#include "SimClientDaemon.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>

#include "ClBasicMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyConnection.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"

SimClientDaemon::SimClientDaemon()
    : m_launchAnswer(kAnswerProcessId),
      m_launchProcessId(kDefaultProcessId),
      m_defaultStatusScript(StatusReply(kDefaultStatus)),
      m_bStopped(false) {
  m_daemon.SetDefaultScript(SimScript().Call([this](SimPeer& peer) { return Serve(peer); }));
}

SimClientDaemon::~SimClientDaemon() { Stop(); }

CWqError SimClientDaemon::Reserve() {
  CWqError result = m_programStop.Status();
  if (!result.IsError()) result = m_daemon.Reserve();
  return result;
}

CWqError SimClientDaemon::Start() {
  CWqError result = m_programStop.Status();
  if (!result.IsError()) result = m_daemon.Start();
  return result;
}

void SimClientDaemon::SetProgram(const std::string& command, SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_programScripts[command] = std::move(script);
}

void SimClientDaemon::SetLaunchAnswer(LaunchAnswer answer, int32_t processId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_launchAnswer = answer;
  m_launchProcessId = processId;
}

void SimClientDaemon::AddStatusScript(SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_statusScripts.push_back(std::move(script));
}

void SimClientDaemon::SetStatusScript(SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_defaultStatusScript = std::move(script);
}

SimScript SimClientDaemon::StatusReply(int32_t status) {
  return SimScript().Reply(std::make_shared<ClProcessStatusResponseMsg>(status));
}

void SimClientDaemon::SetVersionReply(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sVersionReply = text;
  m_bHaveVersion = true;
}

size_t SimClientDaemon::GetServiceLinkCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_uServiceLinks;
}

size_t SimClientDaemon::GetVersionRequestCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_uVersionRequests;
}

CWqError SimClientDaemon::OnVersion(SimPeer& peer) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bHaveVersion) return CWqError::Success();  // not a request this daemon serves
    text = m_sVersionReply;
    ++m_uVersionRequests;
  }
  ClBlobMsg reply(CLIENT_VERSION_MSG, ClBlobMsg::Copy, text.data(), static_cast<uint32_t>(text.size()));
  return peer.Send(reply);
}

std::vector<SimClientDaemon::Launch> SimClientDaemon::GetLaunches() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_launches;
}

size_t SimClientDaemon::GetProgramCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_programs.size();
}

bool SimClientDaemon::WaitForProgram(size_t index, int seconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Real time on purpose: the simulated side does not follow the proxy's
  // clock.
  return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] {
    return index < m_programs.size() && m_programs[index]->recorder->IsFinished();
  });
}

SimConnectionRecord SimClientDaemon::GetProgramRecord(size_t index) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index >= m_programs.size()) return SimConnectionRecord();
  return m_programs[index]->recorder->Snapshot();
}

void SimClientDaemon::Notify() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_changed.notify_all();
}

CWqError SimClientDaemon::Serve(SimPeer& peer) {
  for (;;) {
    std::shared_ptr<ClProxyMsg> message;
    CWqError result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &message);
    if (result.IsError()) {
      // A message that does not decode is skipped, as a daemon would.
      if (FXErrorUtil::IsErrNo(result, EPROTO) && peer.Connection().getConnectionSocket().IsValid()) continue;
      // The proxy closed the link, or the daemon stops: the work is done.
      if (FXErrorUtil::IsErrNo(result, ENOTCONN) || FXErrorUtil::IsErrNo(result, ECONNRESET) ||
          FXErrorUtil::IsErrNo(result, ECANCELED))
        return CWqError::Success();
      return result;
    }
    switch (message->getMsgType()) {
      case LAUNCH_CMD_MSG:
      case LAUNCH_CMD_DIP_MSG:
        result = OnLaunch(peer, *message);
        break;
      case GET_PROCESS_STATUS_MSG:
        result = OnStatus(peer);
        break;
      case VERSION_REQUEST_MSG:
        result = OnVersion(peer);
        break;
      default:
        break;  // recorded; not a request this daemon serves
    }
    if (result.IsError()) return result;
  }
}

CWqError SimClientDaemon::OnLaunch(SimPeer& peer, const ClProxyMsg& message) {
  const ClLaunchCmdMsg* request = dynamic_cast<const ClLaunchCmdMsg*>(&message);
  if (!request) return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Launch request of an unexpected class");
  if (request->getCommand() == "SERVICE") {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bHaveVersion) {
      ++m_uServiceLinks;
      return CWqError::Success();  // the service link: the launch is not answered
    }
  }
  Launch launch;
  launch.command = request->getCommand();
  launch.port = request->getPort();
  if (const ClLaunchCmdDIPMsg* withInterface = dynamic_cast<const ClLaunchCmdDIPMsg*>(request)) {
    launch.withInterface = true;
    launch.interface = withInterface->getInterface();
  }

  LaunchAnswer answer;
  int32_t processId;
  bool haveProgram;
  SimScript script;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    answer = m_launchAnswer;
    processId = m_launchProcessId;
    auto found = m_programScripts.find(launch.command);
    haveProgram = found != m_programScripts.end();
    if (haveProgram) script = found->second;
  }

  if (answer == kAnswerProcessId) {
    if (processId >= 1 && !haveProgram) processId = -1;
    if (processId >= 1) {
      const std::string host = launch.withInterface ? launch.interface : peer.Connection().remoteHost();
      launch.program = StartProgram(host, launch.port, std::move(script));
    }
    launch.processId = processId;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_launches.push_back(launch);
    m_changed.notify_all();
  }

  switch (answer) {
    case kStaySilent:
      return CWqError::Success();
    case kCloseLink:
      peer.CloseOrderly();
      return CWqError::Success();
    case kAnswerProcessId:
      break;
  }
  ClLaunchCmdResponseMsg reply(processId);
  return peer.Send(reply);
}

CWqError SimClientDaemon::OnStatus(SimPeer& peer) {
  SimScript script;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_statusScripts.empty()) {
      script = std::move(m_statusScripts.front());
      m_statusScripts.pop_front();
    } else {
      script = m_defaultStatusScript;
    }
  }
  return peer.RunSteps(script);
}

int SimClientDaemon::StartProgram(const std::string& host, uint16_t port, SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bStopped) return -1;
  std::unique_ptr<Program> program(new Program());
  program->recorder = std::make_shared<SimRecorder>([this] { Notify(); });
  Program& started = *program;
  m_programs.push_back(std::move(program));
  started.thread = std::thread(&SimClientDaemon::RunProgram, this, std::ref(started), host, port, std::move(script));
  m_changed.notify_all();
  return static_cast<int>(m_programs.size() - 1);
}

void SimClientDaemon::RunProgram(Program& program, std::string host, uint16_t port, SimScript script) {
  std::unique_ptr<ClProxyConnection> connection(new ClProxyConnection());
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName(host, address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(port);
  if (!result.IsError()) result = connection->getConnectionSocket().Create(AF_INET);
  if (!result.IsError()) result = connection->getConnectionSocket().Connect(address);
  if (result.IsError()) {
    result.Push(FX_HERE, "Simulated client program cannot connect back to %s:%u", host.c_str(),
                static_cast<unsigned>(port));
    program.recorder->SetFailure(result);
    program.recorder->Finish();
    return;
  }
  connection->setRemoteHost(host);
  {
    std::lock_guard<std::mutex> lock(program.wakeMutex);
    program.wakeDescriptor = fcntl(connection->getConnectionSocket().GetSocketDescriptor(), F_DUPFD_CLOEXEC, 0);
    // Stop may have passed this program by before the descriptor was there.
    if (m_programStop.IsFired() && program.wakeDescriptor >= 0) shutdown(program.wakeDescriptor, SHUT_RDWR);
  }
  SimPeer peer(std::move(connection), *program.recorder, m_programStop, [&program] {
    std::lock_guard<std::mutex> lock(program.wakeMutex);
    if (program.wakeDescriptor >= 0) close(program.wakeDescriptor);
    program.wakeDescriptor = -1;
  });
  peer.Run(script);
}

void SimClientDaemon::Stop() {
  // The daemon first: no launch starts a program after it.
  m_daemon.Stop();
  std::vector<Program*> programs;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopped = true;
    for (const std::unique_ptr<Program>& program : m_programs) programs.push_back(program.get());
  }
  m_programStop.Fire();
  for (Program* program : programs) {
    std::lock_guard<std::mutex> lock(program->wakeMutex);
    if (program->wakeDescriptor >= 0) shutdown(program->wakeDescriptor, SHUT_RDWR);
  }
  for (Program* program : programs)
    if (program->thread.joinable()) program->thread.join();
}
