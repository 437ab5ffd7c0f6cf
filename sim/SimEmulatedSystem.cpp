#include "SimEmulatedSystem.h"

#include <utility>

SimRemoteReply SimEmulatedSystem::Execute(const std::string& command) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_commands.push_back(command);
  const SimRemoteReply reply = Fails(command) ? Failure(command) : Run(command);
  if (m_observer) m_observer(command, reply);
  return reply;
}

SimRemoteReply SimEmulatedSystem::Copy(const std::string& remotePath, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_copies.push_back(remotePath);
  const SimRemoteReply reply = Fails(remotePath) ? CopyFailure(remotePath) : Store(remotePath, bytes);
  if (m_observer) m_observer("copy into " + remotePath + " (" + std::to_string(bytes.size()) + " bytes)", reply);
  return reply;
}

void SimEmulatedSystem::AttachTo(SimClientMachine& machine) {
  machine.AddHandler([this](const SimRemoteCommand& command, SimRemoteReply& reply) {
    if (command.command.compare(0, 4, "scp ") == 0) return false;
    reply = Execute(command.command);
    return true;
  });
  machine.SetCopyHandler([this](const std::string& path, const std::string& content, std::string& error) {
    const SimRemoteReply reply = Copy(path, content);
    error = reply.err;
    while (!error.empty() && error.back() == '\n') error.pop_back();
    return reply.status == 0;
  });
}

void SimEmulatedSystem::SetObserver(Observer observer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_observer = std::move(observer);
}

void SimEmulatedSystem::FailCommands(const std::string& pattern) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failPatterns.push_back(pattern);
}

void SimEmulatedSystem::SetDaemonControl(StartDaemon start, StopDaemon stop) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_start = std::move(start);
  m_stop = std::move(stop);
}

std::vector<std::string> SimEmulatedSystem::Commands() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_commands;
}

std::vector<std::string> SimEmulatedSystem::CopiedPaths() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_copies;
}

bool SimEmulatedSystem::DaemonRunning() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_bDaemonRunning;
}

bool SimEmulatedSystem::StartDaemonLocked(uint16_t port) {
  m_bDaemonRunning = m_start ? m_start(port) : false;
  return m_bDaemonRunning;
}

void SimEmulatedSystem::StopDaemonLocked() {
  if (m_stop) m_stop();
  m_bDaemonRunning = false;
}

bool SimEmulatedSystem::Fails(const std::string& text) const {
  for (const std::string& pattern : m_failPatterns)
    if (text.find(pattern) != std::string::npos) return true;
  return false;
}
