#include "SimDaemon.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "ClProxyConnection.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "SimPeer.h"

SimDaemon::SimDaemon() : m_uPort(0), m_bReserved(false), m_bStopped(false) {}

SimDaemon::~SimDaemon() { Stop(); }

CWqError SimDaemon::Reserve() {
  if (m_listener.IsValid() || m_acceptThread.joinable())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Simulated daemon already reserved or started");
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName(m_sBindAddress, address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(m_uBindPort);
  if (!result.IsError()) result = m_listener.Create(AF_INET);
  if (!result.IsError()) result = m_listener.Bind(address);
  CWqIPAddr bound;
  if (!result.IsError()) result = m_listener.GetLocalAddress(bound);
  if (result.IsError()) {
    m_listener.Clear();
    result.Push(FX_HERE, "Simulated daemon cannot bind");
    return result;
  }
  m_uPort = bound.GetPortNumber();
  m_bReserved = true;
  return CWqError::Success();
}

CWqError SimDaemon::Start() {
  if ((m_listener.IsValid() && !m_bReserved) || m_acceptThread.joinable())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBUSY, "Simulated daemon already started");
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bStopped) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon was stopped");
  }
  CWqError result = m_stop.Status();
  if (result.IsError()) return result;

  if (!m_bReserved) result = Reserve();
  if (!result.IsError()) result = m_listener.Listen(16);
  if (result.IsError()) {
    m_listener.Clear();
    m_bReserved = false;
    result.Push(FX_HERE, "Simulated daemon cannot listen");
    return result;
  }
  m_bReserved = false;
  m_acceptThread = std::thread(&SimDaemon::AcceptLoop, this);
  return CWqError::Success();
}

void SimDaemon::AddScript(SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_scripts.push_back(std::move(script));
}

void SimDaemon::SetDefaultScript(SimScript script) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_defaultScript = std::move(script);
}

size_t SimDaemon::GetConnectionCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_slots.size();
}

bool SimDaemon::WaitForAccepted(size_t count, int seconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_slots.size() >= count; });
}

bool SimDaemon::WaitForConnection(size_t index, int seconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  // Real time on purpose: the simulated side does not follow the proxy's
  // clock.
  return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] {
    return index < m_slots.size() && m_slots[index]->recorder->IsFinished();
  });
}

SimConnectionRecord SimDaemon::GetRecord(size_t index) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index >= m_slots.size()) return SimConnectionRecord();
  return m_slots[index]->recorder->Snapshot();
}

CWqError SimDaemon::GetAcceptError() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_acceptError;
}

void SimDaemon::Notify() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_changed.notify_all();
}

void SimDaemon::AcceptLoop() {
  for (;;) {
    pollfd fds[2];
    fds[0].fd = m_listener.GetSocketDescriptor();
    fds[0].events = POLLIN;
    fds[0].revents = 0;
    fds[1].fd = m_stop.WaitDescriptor();
    fds[1].events = POLLIN;
    fds[1].revents = 0;
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      int errNo = errno;
      std::lock_guard<std::mutex> lock(m_mutex);
      m_acceptError = FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "poll failed: %s", std::strerror(errNo));
      break;
    }
    if (m_stop.IsFired()) break;
    if (!(fds[0].revents & (POLLIN | POLLERR | POLLHUP))) continue;

    std::unique_ptr<ClProxyConnection> connection(new ClProxyConnection());
    CWqError result = m_listener.Accept(connection->getConnectionSocket());
    if (result.IsError()) {
      FX_LOG(-1, "Simulated daemon stops accepting: %s", result.AsString().c_str());
      std::lock_guard<std::mutex> lock(m_mutex);
      m_acceptError = result;
      break;
    }
    CWqIPAddr peer;
    if (!connection->getConnectionSocket().GetPeerAddress(peer).IsError()) connection->setRemoteHost(peer.AsString());
    int wake = fcntl(connection->getConnectionSocket().GetSocketDescriptor(), F_DUPFD_CLOEXEC, 0);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bStopped) {
      if (wake >= 0) close(wake);
      break;  // the connection closes with its object
    }
    SimScript script = m_defaultScript;
    if (!m_scripts.empty()) {
      script = std::move(m_scripts.front());
      m_scripts.pop_front();
    }
    std::unique_ptr<Slot> slot(new Slot());
    slot->recorder = std::make_shared<SimRecorder>([this] { Notify(); });
    slot->wakeDescriptor = wake;
    Slot& served = *slot;
    m_slots.push_back(std::move(slot));
    served.thread = std::thread(&SimDaemon::Serve, this, std::ref(served), std::move(connection), std::move(script));
    m_changed.notify_all();
  }
}

void SimDaemon::Serve(Slot& slot, std::unique_ptr<ClProxyConnection> connection, SimScript script) {
  SimPeer peer(std::move(connection), *slot.recorder, m_stop, [&slot] {
    std::lock_guard<std::mutex> lock(slot.wakeMutex);
    if (slot.wakeDescriptor >= 0) close(slot.wakeDescriptor);
    slot.wakeDescriptor = -1;
  });
  peer.Run(script);
}

void SimDaemon::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bStopped = true;
  }
  m_stop.Fire();
  if (m_acceptThread.joinable()) m_acceptThread.join();
  // No slot is added any more. Interrupt sends that wait for the proxy to
  // read; every other wait of a peer watches the stop signal.
  std::vector<Slot*> slots;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const std::unique_ptr<Slot>& slot : m_slots) {
      slots.push_back(slot.get());
      std::lock_guard<std::mutex> wakeLock(slot->wakeMutex);
      if (slot->wakeDescriptor >= 0) shutdown(slot->wakeDescriptor, SHUT_RDWR);
    }
  }
  for (Slot* slot : slots)
    if (slot->thread.joinable()) slot->thread.join();
  m_listener.Clear();
}
