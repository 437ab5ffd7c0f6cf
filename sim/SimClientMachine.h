// SimClientMachine: the client machine at the far end of a real ssh hop, in
// the test process. sshd runs the ssh relay (sim/hosttools/ssh_relay) for
// every login; the relay hands the login's command ($SSH_ORIGINAL_COMMAND),
// standard input, output, error and exit status to this object over a Unix
// socket (frames in hosttools/SshRelayWire.h).
//
// For each command the machine
//   - records it as received (Commands(): the text, nothing expanded);
//   - asks the command handlers, in the order they were added: the first
//     that takes the command gives the reply. Deployment work adds the
//     OpenVMS and IBM i command sets here, and a handler may drive the
//     in-process simulated daemon (start it, stop it) before it answers;
//   - else speaks OpenSSH's legacy copy protocol for "scp -t PATH" (a copy
//     to the machine, kept in the file store) and "scp -f PATH" (a copy
//     from the store);
//   - else answers with the first scripted rule whose pattern the command
//     holds, else with the default reply (empty, status 0).
// Standard input of a handled or scripted command is read and dropped.
//
// Thread-safe: every session runs on a thread of its own; Stop() ends them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CWqError.h"

struct SimRemoteReply {
  std::string out;
  std::string err;
  int status = 0;
};

struct SimRemoteCommand {
  std::string user;     // the login's user name
  std::string command;  // exactly as sshd got it
};

class SimClientMachine {
 public:
  // Takes the command (fills `reply`, returns true) or leaves it to the next.
  using CommandHandler = std::function<bool(const SimRemoteCommand& command, SimRemoteReply& reply)>;

  SimClientMachine();
  ~SimClientMachine();
  SimClientMachine(const SimClientMachine&) = delete;
  SimClientMachine& operator=(const SimClientMachine&) = delete;

  // Listens on `socketPath` (a former socket file goes first), open to
  // every user: the relay runs as the test user.
  CWqError Start(const std::string& socketPath);
  // Ends the sessions and closes the socket; safe to call twice.
  void Stop();

  void AddHandler(CommandHandler handler);
  // Takes each copied file instead of the store: false refuses the copy
  // with `error` (the copy tool prints it and fails).
  using CopyHandler = std::function<bool(const std::string& path, const std::string& content, std::string& error)>;
  void SetCopyHandler(CopyHandler handler);
  void ClearHandlers();
  // The reply of the commands that hold `pattern`, before the default one.
  void AddCommandReply(const std::string& pattern, const SimRemoteReply& reply);
  void ClearCommandReplies();
  void SetDefaultReply(const SimRemoteReply& reply);

  // The file store of the copies ("scp -t" writes, "scp -f" reads). A copy
  // into a folder of the store (AddFolder) or a path ending in "/" keeps
  // the source's name under it.
  void PutFile(const std::string& path, const std::string& content);
  bool GetFile(const std::string& path, std::string& content) const;
  std::map<std::string, std::string> Files() const;
  void AddFolder(const std::string& path);

  std::vector<SimRemoteCommand> Received() const;
  std::vector<std::string> Commands() const;
  void ClearReceived();
  // Back to a new machine's state: no handlers, rules, files or records.
  void Reset();

 private:
  class Session;
  void AcceptLoop();
  void RunSession(int fd);
  SimRemoteReply Answer(const SimRemoteCommand& command);
  int CopyIn(Session& session, const std::string& target, bool folderTarget);
  int CopyOut(Session& session, const std::string& path);

  mutable std::mutex m_mutex;
  std::vector<CommandHandler> m_handlers;
  CopyHandler m_copyHandler;
  std::vector<std::pair<std::string, SimRemoteReply>> m_rules;
  SimRemoteReply m_default;
  std::map<std::string, std::string> m_files;
  std::set<std::string> m_folders;
  std::vector<SimRemoteCommand> m_received;
  std::set<int> m_sessionFds;
  std::vector<std::thread> m_sessions;

  std::string m_socketPath;
  int m_listenFd = -1;
  int m_wake[2] = {-1, -1};
  std::thread m_acceptThread;
};
