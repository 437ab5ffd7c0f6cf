// ClClientManager: the deployment manager of one IBM i or OpenVMS client.
// The connector to the client daemon builds one for each managed connect and
// asks it to make the client software present and current (checkAndStart)
// and, when the client host refuses the connection, to start the daemon
// (startClient).
//
// initData loads the client's data once (records, properties, settings):
// credentials, folders, daemon port, the local package folder. Until it has
// run, the other operations see the constructor's values.
//
// Remote commands (ClClientCommands.cpp) run over ssh through the product's
// tools in the base home; no shell on this host reads any value: the user,
// password, host and command each travel as one quoted word, "--" ends the
// options of ssh and of the copy tool, and a host or user that ssh could
// misread is refused (EINVAL) before anything runs. executeAndCheck fails
// with EV_CLIENT_CONNECT_FAILED when the ssh hop itself failed (exit 255,
// could not run, killed at the limit), and otherwise judges the command by
// its output markers.
//
// The daemon's "SERVICE" connection (ClClientService.cpp) answers the
// version query; updateIBMI (ClClientUpdate.cpp) sends an IBM i update
// through it and waits, on the platform clock, for the daemon to come back.
//
// checkAndStart runs the installation check (ClClientCheck.cpp: trusted
// for an interval recorded per client in the settings section
// "ProxyClients/<client name>", under the named lock
// "<client name>_versionCheckLock"), installs a missing IBM i client over ssh
// (ClClientIbmiInstall.cpp), installs or updates an OpenVMS client file by
// file (ClClientInstall.cpp), and for IBM i removes a DR staging folder left
// by a failed DR job once that job has ended (ClClientDRCleanup.cpp).
//
// executeOnClient (ClClientExecute.cpp) runs one command for a host on a
// manager whose data was loaded (EINVAL otherwise, and for a null command;
// nothing runs then and `result` stays as it was). IBM i: the command goes
// through the daemon's "SERVICE" connection after the connect's software
// check and `result` becomes a fixed status text; the answer is awaited
// without a time limit. OpenVMS: the command reaches no shell on this host:
// it is read into words as sh would read it (quotes and backslashes are
// taken away, so a command quoted for the shell arrives the same), nothing
// is expanded, globbed or split at ";", and the words joined by blanks are
// what the client's DCL receives (after "--": ssh never reads them as its
// options); unbalanced quotes fail with EINVAL before anything runs.
// `result` is the standard output, or the error output when that is empty;
// a hop that never reached the client, or a command line still running at
// the limit (FileSystemAgent/nRemoteCommandLimitSeconds, killed with its
// process group), fails with EV_CLIENT_CONNECT_FAILED.
//
// uninstall (ClClientUninstall.cpp) removes the client software for the
// proxy client that manages the client and then deletes the client's
// settings section; a failed step keeps the section. The device's top
// directory is refused as an OpenVMS base folder before anything runs.
//
// Test seam: while hooks are installed (SetHooks), each new manager reports
// itself to them and its check, start and stop answer what the hooks say.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ClClientPlatform.h"
#include "CWqError.h"
#include "EvEvent.h"

class ClClientManager;
class ClProxyClientConnection;
typedef boost::shared_ptr<ClProxyClientConnection> ClProxyClientConnectionPtr;

class ClClientManagerHooks {
 public:
  virtual ~ClClientManagerHooks() {}
  virtual void created(const ClClientManager& manager) {}
  virtual CWqError checkAndStart(const ClClientManager& manager, long long jobId) = 0;
  virtual CWqError startClient(const ClClientManager& manager) = 0;
  virtual CWqError stopClient(const ClClientManager& manager) { return CWqError::Success(); }
};

// One remote command: its text, the text that must appear in its standard
// output, and the text that marks failure (empty: no such test).
struct clientCommand_t {
  std::string command;
  std::string expected;
  std::string failure;

  clientCommand_t() {}
  clientCommand_t(std::string c, std::string e, std::string f)
      : command(std::move(c)), expected(std::move(e)), failure(std::move(f)) {}
  clientCommand_t(const clientCommand_t&) = default;
  clientCommand_t& operator=(const clientCommand_t&) = default;
  clientCommand_t(clientCommand_t&&) = default;
  clientCommand_t& operator=(clientCommand_t&&) = default;
};

// Replaces every occurrence of a non-empty `from` in `text`; inserted text is
// never searched again. Returns `text`.
std::string& strreplace(std::string& text, const std::string& from, const std::string& to);

class ClClientManager {
 public:
  enum eBinaryStatus {
    FILE_ONLY_ON_CLIENT = 0,
    FILE_MISSING_ON_CLIENT = 1,
    FILE_CRC_DIFFERS = 2,
    FILE_GOOD = 3,
  };
  typedef std::map<std::string, std::pair<std::string, eBinaryStatus>> BinaryMap;

  // A manager found through the subclient (client id resolved later).
  ClClientManager(const std::string& host, uint16_t port, int velliconId, int appId);
  // A manager of a known client.
  ClClientManager(const std::string& host, uint16_t port, int clientId);
  virtual ~ClClientManager();
  ClClientManager(const ClClientManager&) = delete;
  ClClientManager& operator=(const ClClientManager&) = delete;

  // Success lets the connect go ahead; a failure ends it.
  CWqError checkAndStart(EvEvent* event, long long jobId);
  // Success means a new connect may succeed; a failure ends the connect.
  CWqError startClient();
  // Stops the client software on the client.
  CWqError stopClient();

  // Whether the client software is present and current; see ClClientCheck.cpp
  // for the results. `event` is not used.
  CWqError isClientInstalledAndUptodate(EvEvent* event, long long jobId);
  // OpenVMS: copies what the client lacks or holds with another CRC, deletes
  // what only the client holds (after the check marked `binaries`). A fresh
  // installation makes the bin folder first; an update stops the daemon.
  CWqError installClinet(bool fresh);
  // Removes a recorded DR staging folder once its job has ended; success
  // when there is nothing to do or the job is still active.
  CWqError CheckAndCleanupDRFolder(bool noManage);

  // Hours between two checks of one client; 5 at load time. Checks of
  // different clients may run at once: the library reads and writes it
  // atomically (a host reads it after its checks).
  static int32_t s_iHourBetweenVersionCheck;
  // Back to the load-time values (the interval, the once-only log line).
  static void ResetVersionCheckState();

  // Loads the client data once; errors as the records and folders give them.
  CWqError initData();
  // "OpenVMS", "iSeries" or "Unknown": the platform folder under "ProxyPackage".
  std::string client_platform() const;

  // Command builders (after initData).
  clientCommand_t client_bin_exists() const;
  clientCommand_t client_create_bin() const;
  clientCommand_t client_kxpkgchk() const;
  clientCommand_t client_stop() const;
  clientCommand_t client_start() const;
  clientCommand_t client_remove_file(const std::string& file) const;
  clientCommand_t client_copy_file(const std::string& file) const;

  // Command lines: `command` run on the client over ssh; a local file copied
  // to `destination` through sshf, or directly (the password then goes to
  // the copy alone, in its environment: executeCopy). EINVAL for a host or
  // user that cannot go on an ssh line.
  CWqError remoteShellLine(const std::string& command, std::string& line) const;
  CWqError wrappedCopyLine(const std::string& localFile, const std::string& destination, std::string& line) const;
  CWqError directCopyLine(const std::string& localFile, const std::string& destination, std::string& line) const;

  // Runs `commandLine` and judges it by the markers of `command`.
  CWqError executeAndCheck(const char* commandLine, const clientCommand_t& command, std::string& output,
                           long errEventId, const std::string& errText);
  // A direct copy: executeAndCheck with "KX_PUTTY_PASS" set for the copy.
  CWqError executeCopy(const std::string& localFile, const clientCommand_t& command, std::string& output,
                       long errEventId, const std::string& errText);

  // Runs `command` on the client and sets `result` (see above).
  CWqError executeOnClient(const char* command, std::string& result);
  // The status texts of an IBM i command that succeeded or failed.
  static const char* const kExecuteSuccessText;
  static const char* const kExecuteFailureText;
  // Removes the client software, then the settings section; plain-integer
  // error 3 for another proxy client id or an unusable base folder.
  CWqError uninstall(unsigned long proxyClientId);
  // OpenVMS: DELETE of the installation tree, and the conditional DELETE of
  // the base folder's directory file; IBM i: the package's uninstall.
  clientCommand_t client_delete_tree() const;
  clientCommand_t client_delete_directory_file(const std::string& directoryFile) const;
  clientCommand_t client_uninstall() const;
  // The base folder's directory file (DKA0:[APP.CLIENT] gives
  // DKA0:[APP]CLIENT.DIR;1); plain-integer error 3 when the base has no "[".
  CWqError client_directory_file(std::string& directoryFile) const;

  // Marks `binaries` against the local OpenVMS package (pkgcrc32). A local
  // file without a plain name is left out (logged).
  CWqError updateClientBinaryList();
  // A plain OpenVMS file name: letters, digits, "$", "_", "-" and at most one
  // "."; every key of `binaries` is one, since it may become a copy
  // destination or a DELETE target on the client.
  static bool isPlainFileName(const std::string& name);

  // The daemon's version through its "SERVICE" connection.
  CWqError quickVersionCheck(const std::string& expectedVersion, bool& reached, bool& equal,
                             std::string& clientVersion);
  // Stores a reported operating-system version; always succeeds.
  CWqError updateOSVersion(const std::string& osVersion);
  // A newly connected daemon link for the caller (nothing sent on it).
  CWqError getNewClientConnection(ClProxyClientConnectionPtr& connection);
  // Sends the IBM i package through the daemon and waits for it to return.
  CWqError updateIBMI(long long jobId);

  // Settings value ("FileSystemAgent") with the seconds a local command line
  // may run before it is killed; 1800 when absent or 0.
  static const char* const kCommandLimitSetting;

  const std::string& getHost() const { return host; }
  uint16_t getPort() const { return port; }
  int getVelliconId() const { return velliconId; }
  int getAppId() const { return appId; }
  int getClientId() const { return clientId; }
  int getOsId() const { return osId; }
  const std::string& getClientName() const { return clientName; }
  const std::string& getUser() const { return user; }
  const std::string& getClientBaseFolder() const { return clientBaseFolder; }
  const std::string& getLocalBaseHome() const { return localBaseHome; }
  const std::string& getLocalPackageFolder() const { return localPackageFolder; }
  const std::string& getSubsystemDesc() const { return subsystemDesc; }
  const std::string& getJobQueue() const { return jobQueue; }
  int getJobPriority() const { return jobPriority; }
  int getRunPriority() const { return runPriority; }
  bool getCreateJobQueue() const { return createJobQueue; }
  const std::string& getIbmiUserProfile() const { return ibmiUserProfile; }
  int getProxyClientId() const { return proxyClientId; }
  bool isInitialized() const { return initialized; }
  bool isUpdateBlocked() const { return updateBlocked; }
  bool hasPassword() const { return !password.empty(); }
  const PlatformDefine& getPlatform() const { return *platform; }
  BinaryMap& getBinaries() { return binaries; }

  // Installs hooks for the managers built from now on; null removes them.
  static void SetHooks(std::shared_ptr<ClClientManagerHooks> hooks);

 private:
  CWqError loadProperties(class ClientProperties& properties);
  CWqError runAndCheck(const std::string& commandLine, const std::vector<std::pair<std::string, std::string>>& env,
                       const clientCommand_t& command, std::string& output, long errEventId,
                       const std::string& errText);
  CWqError checkSshTarget() const;
  // The seconds a local command line may run (kCommandLimitSetting), for
  // the text of a line killed at that limit.
  static unsigned long commandLimitSeconds();
  // Why a command line's hop never reached the client (empty: it did), from
  // KxProcess's result; and the EV_CLIENT_CONNECT_FAILED error saying so.
  static std::string hopFailure(int status, const std::string& error);
  static CWqError hopError(const FXCodeLocation& location, const std::string& why);
  CWqError executeOnIBMi(const char* command, std::string& result);
  CWqError executeOnOpenVMS(const char* command, std::string& result);
  // Raises an info event with `host` as argument (dropped, and logged, when
  // no event sender is installed).
  void raiseInfoEvent(uint32_t eventId, long long jobId) const;
  // Sends `event` as it is (info or critical); dropped and logged without an
  // event sender.
  void sendEvent(const CWqError& event, long long jobId, bool critical) const;
  CWqError checkOpenVMS(long long jobId);
  // Loads the client's file list (KXOV_PKGCRC32.COM output) into `binaries`;
  // false when no valid line or no KXOV_PKGCRC32.EXE was listed.
  bool loadClientList(const std::string& output);
  CWqError checkIBMi(long long jobId, const std::string& expectedVersion, uint64_t next, const std::string& section,
                     bool& completed);
  CWqError installIBMi(long long jobId, uint64_t next, const std::string& probeText);
  // One step of the IBM i first installation; an error is the installation's.
  CWqError installStep(const std::string& command, const std::string& expected, const std::string& failure,
                       const std::string& stepText);

  int osId;
  BinaryMap binaries;
  // The local package's file names on disk, by their upper-case key.
  std::map<std::string, std::string> localNames;
  std::unique_ptr<PlatformDefine> platform;
  std::string host;
  std::string clientBaseFolder;
  std::string localBaseHome;
  std::string localPackageFolder;
  std::string password;  // the decrypted password as it is (quoted where used)
  std::string user;      // the user name as it is (quoted where used)
  std::string clientName;
  uint16_t port;
  int velliconId;
  int appId;
  int clientId;
  int proxyClientId;
  bool initialized;
  bool updateBlocked;
  std::string subsystemDesc;
  std::string jobQueue;
  int jobPriority;
  int runPriority;
  bool createJobQueue;
  std::string ibmiUserProfile;
  std::shared_ptr<ClClientManagerHooks> m_hooks;  // those in force when built
};
