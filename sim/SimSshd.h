// SimSshd: a real OpenSSH server on loopback whose one user's logins end in
// an emulated client machine (SimClientMachine) in this process.
//
// Start() makes, under /tmp/simsshd.<pid>.<n> (opened to the test user):
//   host_key        an ed25519 host key from ssh-keygen
//   relay           the ssh relay (sim/hosttools), sshd's ForceCommand
//   machine.sock    the machine's socket, which the relay connects to
//   sshd_config     127.0.0.1 and a free port, UsePAM no, password login
//                   only, AllowUsers the test user, ForceCommand the relay
//   ssh_config      the client side: every host goes to 127.0.0.1 and the
//                   port, password login, no known-hosts file, no host key
//                   check, one password prompt (a wrong one fails at once)
//   bin/ssh, bin/scp  wrappers that add "-F ssh_config" (scp also makes ssh
//                   the wrapper): put bin first on PATH. When SIM_SSH_RECORDS
//                   names a folder, bin/ssh records its call there
//                   (ssh.<n>: SSHPASS and the arguments, NUL-separated);
//                   when SIM_SSH_STATUS names a file, it writes ssh's exit
//                   status there (a tool tells a failed hop by it: 255).
// and a throwaway user kx<pid><letter> (at most 10 characters, an IBM i
// profile's length; shell /bin/sh, home /home/<user>,
// made only on request: an OpenVMS machine has one, an IBM i profile has
// none, so sshd's "Could not chdir to home directory" line appears), whose
// password SetPassword() sets with chpasswd. sshd's privilege-separation
// folder is made when missing.
//
// Stop() (and the destructor) kills sshd by its pid and removes the user,
// the home and the folder. Start() first removes what a killed process
// left: folders and users whose pid is no longer alive, and their sshd.
//
// Start() fails, saying why, where sshd cannot run: not root, a program
// missing (openssh-server, openssh-client, sshpass, the user tools), the
// relay not built, or sshd not starting. Tests skip on that, and fail under
// CI=true (SimSshd::MustRun()).
//
// The example host uses it the same way: Start(), SetPassword(), client
// records with host anything, user User() and that password, bin first on
// the tools' PATH, then answer on Machine().
#pragma once

#include <sys/types.h>

#include <string>

#include "CWqError.h"
#include "SimClientMachine.h"

class SimSshd {
 public:
  struct Options {
    bool homeFolder = false;  // make /home/<user>
  };

  SimSshd();
  ~SimSshd();
  SimSshd(const SimSshd&) = delete;
  SimSshd& operator=(const SimSshd&) = delete;

  CWqError Start(const Options& options);
  void Stop();
  bool Running() const { return m_sshdPid > 0; }

  // The test user's password, as chpasswd takes it (no newline).
  CWqError SetPassword(const std::string& password);
  CWqError SetHomeFolder(bool present);
  // Points the client configuration at `port` (0: sshd's own), e.g. a
  // closed port for the failure cases.
  CWqError SetClientPort(int port);

  const std::string& User() const { return m_user; }
  int Port() const { return m_port; }
  const std::string& Folder() const { return m_folder; }
  std::string BinFolder() const { return m_folder + "/bin"; }
  std::string ClientConfig() const { return m_folder + "/ssh_config"; }
  std::string HomeFolder() const { return "/home/" + m_user; }
  SimClientMachine& Machine() { return m_machine; }

  // Where the host tools (ssh_relay, pkgcrc32) were built; empty if unknown.
  static std::string HostToolsFolder();
  // Whether a failure to start must fail the test rather than skip it.
  static bool MustRun();

 private:
  CWqError CheckPrerequisites();
  CWqError StartSshd();
  CWqError WriteClientSide(int port);
  static void RemoveLeftovers();

  SimClientMachine m_machine;
  std::string m_folder;
  std::string m_user;
  int m_port = 0;
  pid_t m_sshdPid = -1;
  bool m_userMade = false;
  std::string m_sshd, m_ssh, m_scp, m_keygen, m_useradd, m_userdel, m_chpasswd;
};
