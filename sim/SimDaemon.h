// SimDaemon: the simulated client daemon. Listens on 127.0.0.1 on a port the
// system chooses, accepts connections on its own thread and serves each on
// a thread of its own with a SimPeer that follows a script.
//
// Connections take the scripts given with AddScript in the order they are
// accepted; once those are used, the default script (empty unless set: the
// peer only records what arrives). Tests read what each connection received
// through GetRecord, by accept order.
//
// Stop (also run by the destructor) closes the listener, interrupts every
// wait and send of the peers and joins all threads; it never waits for a
// script to run out.
//
// Reserve binds the port without listening: until Start, a connect to it is
// refused, as when the daemon on a client machine is down.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CWqError.h"
#include "CWqSocket.h"
#include "ClProxyConnection.h"
#include "SimRecord.h"
#include "SimScript.h"
#include "SimStopSignal.h"

class SimDaemon {
 public:
  SimDaemon();
  ~SimDaemon();
  SimDaemon(const SimDaemon&) = delete;
  SimDaemon& operator=(const SimDaemon&) = delete;

  // The loopback address and port to bind instead of 127.0.0.1 on a port
  // the system chooses (port 0); before Reserve or Start.
  void SetBindAddress(const std::string& address, uint16_t port = 0) {
    m_sBindAddress = address;
    m_uBindPort = port;
  }

  // Binds 127.0.0.1 on a port the system chooses, without listening.
  // EBUSY when already reserved or started.
  CWqError Reserve();
  // Binds (unless reserved), listens and starts accepting. EBUSY when
  // already started.
  CWqError Start();
  uint16_t GetPort() const { return m_uPort; }

  void AddScript(SimScript script);
  void SetDefaultScript(SimScript script);

  size_t GetConnectionCount() const;
  // Waits until at least `count` connections have been accepted, at most
  // `seconds`; false when fewer have been by then.
  bool WaitForAccepted(size_t count, int seconds);
  // Waits until connection `index` (accept order, from 0) has been accepted
  // and has finished, at most `seconds`; false when it has not by then.
  bool WaitForConnection(size_t index, int seconds);
  // What connection `index` received so far; an empty record when there is
  // no such connection yet.
  SimConnectionRecord GetRecord(size_t index) const;
  // The failure that ended the accept thread, success while it runs.
  CWqError GetAcceptError() const;

  void Stop();

 private:
  // One accepted connection, seen from the daemon.
  struct Slot {
    std::thread thread;
    std::shared_ptr<SimRecorder> recorder;
    std::mutex wakeMutex;
    int wakeDescriptor = -1;  // a second descriptor of the socket, to interrupt sends
  };

  void AcceptLoop();
  void Serve(Slot& slot, std::unique_ptr<ClProxyConnection> connection, SimScript script);
  void Notify();

  SimStopSignal m_stop;
  CWqSocket m_listener;
  uint16_t m_uPort;
  std::string m_sBindAddress = "127.0.0.1";
  uint16_t m_uBindPort = 0;
  bool m_bReserved;
  std::thread m_acceptThread;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<SimScript> m_scripts;
  SimScript m_defaultScript;
  std::vector<std::unique_ptr<Slot>> m_slots;
  CWqError m_acceptError;
  bool m_bStopped;
};
