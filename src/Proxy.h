// Proxy: the base of every job-phase object. One object serves one phase of
// one job and owns its two links: the daemon link (to the client daemon) and
// the client-program link (the listener that the launched client program
// connects back to, and then the phase's whole exchange).
//
// A host calls, each step only after the one before succeeded: init,
// launchClientProcess, acceptClientProcessConnection, sendJobStart, the
// phase's own exchange, then destroys the object. getClientProcessStatus may
// be called at any time after the launch (it waits until the daemon
// answers, however long), sendSuspendJob at any time after the accept. A
// step called before the link it needs exists fails with ENOTCONN.
//
// init resolves the client from the configuration records (failing clearly
// when a record or a value it needs is missing), picks the data interface
// that the client program is to call back on, connects to the daemon and
// opens the listener. sendJobStart fails when the client reports an empty
// base directory.
//
// IsVTLBackup tells whether a subclient's backup goes to a virtual tape
// library. The hook files "/tmp/failAccept" (end the process at the accept)
// and "/tmp/vtl" (answer true) count only when owned by root or by this
// process's user (ProxyHookFile.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CWqError.h"
#include "ClJobStartMsg.h"
#include "ClProxyClientConnection.h"
#include "ClProxySrvConnection.h"
#include "KXJobTypes.h"
#include "MediaManagerMsgs.h"

class Proxy {
 public:
  Proxy();
  virtual ~Proxy();
  Proxy(const Proxy&) = delete;
  Proxy& operator=(const Proxy&) = delete;

  // The port argument has no effect: the listener takes a port of its own.
  virtual CWqError init(int32_t velliconId, int32_t appId, int32_t clientId, uint64_t jobId, KXBkpLevel level,
                        int64_t jobStartValue, const std::string& clientProgram, const std::string& host,
                        uint16_t port);
  virtual CWqError launchClientProcess();
  virtual CWqError getClientProcessStatus(int& status);
  virtual CWqError acceptClientProcessConnection();
  virtual CWqError sendJobStart();
  virtual CWqError sendSuspendJob();
  // Adds the base job options; a null message adds nothing.
  virtual CWqError setJobOptions(ClJobStartMsg* msg);

  static bool IsVTLBackup(int subclientId, std::vector<MediaManager::LibraryInfo>& libraries);
  // The same; `queryFailed` tells a failed or empty answer of the central
  // server apart from a plain "no".
  static bool IsVTLBackup(int subclientId, std::vector<MediaManager::LibraryInfo>& libraries, bool& queryFailed);

 protected:
  std::unique_ptr<ClProxyClientConnection> m_pClientConnection;  // daemon link
  std::unique_ptr<ClProxySrvConnection> m_pSrvConnection;        // client-program link
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  int32_t m_iClientId;           // as given to init (0: found from the application)
  uint64_t m_ullJobId;
  KXBkpLevel m_eBackupLevel;
  int64_t m_llJobStartValue;     // carried unchanged into the job start
  int32_t m_iClientOSId;         // 49 OpenVMS, 118 IBM i
  std::string m_sClientBaseDir;  // always ends in "/" once known
  std::string m_sClientName;
  std::string m_sProxyClientName;
  std::string m_sClientHost;
  std::string m_sClientProgram;
  int32_t m_iSocket;             // closed by the destructor when set
  uint16_t m_uListenPort;
  std::string m_sListenInterface;  // empty: all interfaces
  int32_t m_iClientProcessId;
  int32_t m_iProcessStatus;

 private:
  // Steps of init: the client's record values, then the data interface.
  CWqError readClientRecords(int32_t clientId, uint16_t& daemonPort, int32_t& proxyClientId);
  void pickListenInterface();
};
