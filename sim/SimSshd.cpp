#include "SimSshd.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "FXErrorUtil.h"
#include "SimSshTools.h"

extern char** environ;

namespace {

const char kFolderPrefix[] = "simsshd.";
// Short enough for an IBM i profile (10 characters) with any pid.
const char kUserPrefix[] = "kx";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string FindProgram(const std::string& name) {
  const char* path = getenv("PATH");
  std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::istringstream list(folders);
  std::string folder;
  while (std::getline(list, folder, ':')) {
    if (folder.empty()) continue;
    const std::string candidate = folder + "/" + name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return std::string();
}

// Runs `words` with no shell: stdin from `input` (or /dev/null), stdout and
// stderr into `output`. The exit status, or -1 when it could not start.
int Run(const std::vector<std::string>& words, const std::string& input, std::string* output) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof(buffer))) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (output) *output = text;
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The user tools fail while another process holds the password files'
// lock (tests run in parallel): try again for a few seconds.
CWqError RunUserTool(const std::vector<std::string>& words, const std::string& input) {
  std::string output;
  int status = -1;
  for (int attempt = 0; attempt < 60; ++attempt) {
    status = Run(words, input, &output);
    if (status == 0) return CWqError::Success();
    if (status < 0) break;
    SleepMs(50);
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "[%s] failed with status %d: %s", words[0].c_str(), status,
                                 output.c_str());
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

// "<prefix><pid><rest>": the pid, or 0.
pid_t PidAfter(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t at = prefix.size();
  pid_t pid = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9') pid = pid * 10 + (name[at++] - '0');
  return pid;
}

// sh's single quotes around `value`.
std::string ShellQuote(const std::string& value) {
  std::string quoted = "'";
  for (char c : value) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

SimSshd::SimSshd() {}

SimSshd::~SimSshd() { Stop(); }

std::string SimSshd::HostToolsFolder() {
#ifdef SIM_HOST_TOOLS_DIR
  return SIM_HOST_TOOLS_DIR;
#else
  return std::string();
#endif
}

bool SimSshd::MustRun() {
  const char* ci = getenv("CI");
  return ci && std::string(ci) == "true";
}

CWqError SimSshd::CheckPrerequisites() {
  if (::geteuid() != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPERM, "sshd and a throwaway user need root (running as uid %d)",
                                   static_cast<int>(::geteuid()));
  const struct {
    std::string* path;
    const char* name;
    const char* package;
  } programs[] = {
      {&m_sshd, "sshd", "openssh-server"},   {&m_ssh, "ssh", "openssh-client"},
      {&m_scp, "scp", "openssh-client"},     {&m_keygen, "ssh-keygen", "openssh-client"},
      {&m_useradd, "useradd", "passwd"},     {&m_userdel, "userdel", "passwd"},
      {&m_chpasswd, "chpasswd", "passwd"},
  };
  for (const auto& program : programs) {
    *program.path = FindProgram(program.name);
    if (program.path->empty())
      return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "%s is missing (package %s)", program.name, program.package);
  }
  if (FindProgram("sshpass").empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "sshpass is missing (package sshpass)");
  const std::string relay = HostToolsFolder() + "/ssh_relay";
  if (HostToolsFolder().empty() || ::access(relay.c_str(), X_OK) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "the ssh relay [%s] was not built", relay.c_str());
  return CWqError::Success();
}

void SimSshd::RemoveLeftovers() {
  const pid_t self = ::getpid();
  if (DIR* dir = ::opendir("/tmp")) {
    std::vector<std::string> stale;
    while (dirent* entry = ::readdir(dir)) {
      const pid_t pid = PidAfter(entry->d_name, kFolderPrefix);
      if (pid > 0 && pid != self && !Alive(pid)) stale.push_back(std::string("/tmp/") + entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& folder : stale) {
      const pid_t sshd = static_cast<pid_t>(std::atoi(ReadAll(folder + "/sshd.pid").c_str()));
      // Only the sshd that ran with this folder's configuration.
      if (sshd > 0 && ReadAll("/proc/" + std::to_string(sshd) + "/cmdline").find(folder + "/") != std::string::npos)
        ::kill(sshd, SIGKILL);
      SimSshTools::RemoveTree(folder);
    }
  }
  std::istringstream passwd(ReadAll("/etc/passwd"));
  std::string line;
  const std::string userdel = FindProgram("userdel");
  while (std::getline(passwd, line)) {
    const std::string name = line.substr(0, line.find(':'));
    const pid_t pid = PidAfter(name, kUserPrefix);
    if (pid <= 0 || pid == self || Alive(pid) || userdel.empty()) continue;
    RunUserTool({userdel, "-f", name}, "");
    SimSshTools::RemoveTree("/home/" + name);
  }
}

CWqError SimSshd::Start(const Options& options) {
  Stop();
  CWqError result = CheckPrerequisites();
  if (result.IsError()) return result.Push(FX_HERE);
  RemoveLeftovers();

  static std::atomic<int> s_count(0);
  const std::string pid = std::to_string(::getpid());
  const std::string n = std::to_string(s_count++);
  m_folder = "/tmp/" + std::string(kFolderPrefix) + pid + "." + n;
  m_user = kUserPrefix + pid + static_cast<char>('a' + std::stoi(n) % 26);
  SimSshTools::RemoveTree(m_folder);
  // Opened to the test user: the relay runs as that user.
  if (::mkdir(m_folder.c_str(), 0755) != 0 || ::chmod(m_folder.c_str(), 0755) != 0) {
    const int err = errno;
    m_folder.clear();
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "Cannot make the sshd folder");
  }
  // sshd refuses to start without its privilege-separation folder.
  if (::mkdir("/run/sshd", 0755) != 0 && errno != EEXIST) {
    const int err = errno;
    Stop();
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "Cannot make /run/sshd");
  }

  std::string output;
  if (Run({m_keygen, "-q", "-t", "ed25519", "-N", "", "-f", m_folder + "/host_key"}, "", &output) != 0) {
    Stop();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "ssh-keygen failed: %s", output.c_str());
  }
  if (!SimSshTools::WriteFile(m_folder + "/relay", ReadAll(HostToolsFolder() + "/ssh_relay"), 0755)) {
    Stop();
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot copy the ssh relay");
  }
  result = RunUserTool({m_useradd, "-M", "-d", HomeFolder(), "-s", "/bin/sh", m_user}, "");
  if (!result.IsError()) {
    m_userMade = true;
    if (options.homeFolder) result = SetHomeFolder(true);
  }
  if (!result.IsError()) result = m_machine.Start(m_folder + "/machine.sock");
  if (!result.IsError()) result = StartSshd();
  if (!result.IsError()) result = WriteClientSide(m_port);
  if (result.IsError()) {
    Stop();
    return result.Push(FX_HERE);
  }
  return CWqError::Success();
}

CWqError SimSshd::StartSshd() {
  const std::string config = m_folder + "/sshd_config";
  const std::string log = m_folder + "/sshd.log";
  for (int attempt = 0; attempt < 3; ++attempt) {
    m_port = FreePort();
    const std::string text = "Port " + std::to_string(m_port) +
                             "\n"
                             "ListenAddress 127.0.0.1\n"
                             "HostKey " + m_folder + "/host_key\n"
                             "PidFile none\n"
                             "UsePAM no\n"
                             "PasswordAuthentication yes\n"
                             "PermitEmptyPasswords no\n"
                             "KbdInteractiveAuthentication no\n"
                             "PubkeyAuthentication no\n"
                             "AuthorizedKeysFile none\n"
                             "PermitRootLogin no\n"
                             "AllowUsers " + m_user + "\n"
                             "ForceCommand " + m_folder + "/relay " + m_folder + "/machine.sock\n"
                             "StrictModes no\n"
                             "UseDNS no\n"
                             "X11Forwarding no\n"
                             "AllowTcpForwarding no\n"
                             "PrintMotd no\n"
                             "MaxStartups 100\n"
                             "LogLevel ERROR\n";
    if (!SimSshTools::WriteFile(config, text, 0644))
      return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write [%s]", config.c_str());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    // sshd re-executes itself for every connection: it needs its full path.
    std::vector<std::string> words = {m_sshd, "-D", "-e", "-f", config};
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return FXErrorUtil::ErrorErrNo(FX_HERE, spawned, "Cannot start [%s]", m_sshd.c_str());
    m_sshdPid = pid;
    SimSshTools::WriteFile(m_folder + "/sshd.pid", std::to_string(pid));

    for (int waited = 0; waited < 10000; waited += 10) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        m_sshdPid = -1;
        break;
      }
      if (Accepts(m_port)) return CWqError::Success();
      SleepMs(10);
    }
    const std::string said = ReadAll(log);
    if (m_sshdPid > 0) {
      ::kill(m_sshdPid, SIGKILL);
      ::waitpid(m_sshdPid, nullptr, 0);
      m_sshdPid = -1;
      return FXErrorUtil::ErrorErrNo(FX_HERE, ETIMEDOUT, "sshd did not listen within 10 seconds: %s", said.c_str());
    }
    if (said.find("Address already in use") == std::string::npos)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "sshd did not start: %s", said.c_str());
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, EADDRINUSE, "sshd found no free port");
}

CWqError SimSshd::WriteClientSide(int port) {
  const std::string config = "Host *\n"
                             "  HostName 127.0.0.1\n"
                             "  Port " + std::to_string(port) + "\n"
                             "  PreferredAuthentications password\n"
                             "  PubkeyAuthentication no\n"
                             "  KbdInteractiveAuthentication no\n"
                             "  NumberOfPasswordPrompts 1\n"
                             "  UserKnownHostsFile /dev/null\n"
                             "  GlobalKnownHostsFile /dev/null\n"
                             "  StrictHostKeyChecking no\n"
                             "  ConnectTimeout 10\n"
                             "  LogLevel ERROR\n";
  const std::string bin = BinFolder();
  const std::string ssh = "#!/bin/sh\n"
                          "# ssh with the test's client configuration.\n"
                          "if [ -n \"${SIM_SSH_RECORDS-}\" ]; then\n"
                          "  i=0\n"
                          "  while [ -e \"$SIM_SSH_RECORDS/ssh.$i\" ]; do i=$((i+1)); done\n"
                          "  printf '%s\\0' \"${SSHPASS-}\" \"$@\" > \"$SIM_SSH_RECORDS/ssh.$i\"\n"
                          "fi\n" +
                          ShellQuote(m_ssh) + " -F " + ShellQuote(ClientConfig()) +
                          " \"$@\"\n"
                          "rc=$?\n"
                          "[ -n \"${SIM_SSH_STATUS-}\" ] && echo \"$rc\" > \"$SIM_SSH_STATUS\"\n"
                          "exit $rc\n";
  // scp starts /usr/bin/ssh unless told otherwise: -S makes it the wrapper.
  const std::string scp = "#!/bin/sh\n"
                          "# scp with the test's client configuration, through the ssh wrapper.\n"
                          "exec " +
                          ShellQuote(m_scp) + " -F " + ShellQuote(ClientConfig()) + " -S " +
                          ShellQuote(bin + "/ssh") + " \"$@\"\n";
  if ((::mkdir(bin.c_str(), 0755) != 0 && errno != EEXIST) ||
      !SimSshTools::WriteFile(ClientConfig(), config, 0644) || !SimSshTools::WriteFile(bin + "/ssh", ssh, 0755) ||
      !SimSshTools::WriteFile(bin + "/scp", scp, 0755))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write the ssh client side under [%s]", m_folder.c_str());
  return CWqError::Success();
}

CWqError SimSshd::SetClientPort(int port) { return WriteClientSide(port ? port : m_port); }

CWqError SimSshd::SetPassword(const std::string& password) {
  if (!m_userMade) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No test user");
  if (password.find_first_of("\r\n") != std::string::npos)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "A password cannot hold a line break");
  const std::string input = m_folder + "/chpasswd.in";
  if (!SimSshTools::WriteFile(input, m_user + ":" + password + "\n", 0600))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write [%s]", input.c_str());
  CWqError result = RunUserTool({m_chpasswd}, input);
  ::unlink(input.c_str());
  if (result.IsError()) return result.Push(FX_HERE);
  return CWqError::Success();
}

CWqError SimSshd::SetHomeFolder(bool present) {
  if (m_user.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No test user");
  if (!present) {
    SimSshTools::RemoveTree(HomeFolder());
    return CWqError::Success();
  }
  passwd entry;
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwnam_r(m_user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No user [%s]", m_user.c_str());
  if ((::mkdir(HomeFolder().c_str(), 0755) != 0 && errno != EEXIST) ||
      ::chown(HomeFolder().c_str(), found->pw_uid, found->pw_gid) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "Cannot make [%s]", HomeFolder().c_str());
  return CWqError::Success();
}

void SimSshd::Stop() {
  if (m_sshdPid > 0) {
    ::kill(m_sshdPid, SIGTERM);
    int waited = 0;
    while (::waitpid(m_sshdPid, nullptr, WNOHANG) == 0) {
      if (waited >= 2000) {
        ::kill(m_sshdPid, SIGKILL);
        ::waitpid(m_sshdPid, nullptr, 0);
        break;
      }
      SleepMs(10);
      waited += 10;
    }
    m_sshdPid = -1;
  }
  m_machine.Stop();
  if (m_userMade) {
    RunUserTool({m_userdel, "-f", m_user}, "");
    m_userMade = false;
  }
  if (!m_user.empty()) SimSshTools::RemoveTree(HomeFolder());
  m_user.clear();
  if (!m_folder.empty()) SimSshTools::RemoveTree(m_folder);
  m_folder.clear();
  m_port = 0;
}
