#include "SimClientMachine.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "FXErrorUtil.h"
#include "hosttools/SshRelayWire.h"

// One relay connection: the frames in, the login's standard input as a byte
// stream, and the answer out.
class SimClientMachine::Session {
 public:
  explicit Session(int fd) : m_fd(fd) {}

  bool ReadFrame(unsigned char& type, std::string& payload) {
    for (;;) {
      if (m_buffer.size() >= sshrelay::kHeaderSize) {
        const unsigned char* header = reinterpret_cast<const unsigned char*>(m_buffer.data());
        const uint32_t size = sshrelay::DecodeSize(header);
        if (size > sshrelay::kMaxPayload) return false;
        if (m_buffer.size() >= sshrelay::kHeaderSize + size) {
          type = header[0];
          payload = m_buffer.substr(sshrelay::kHeaderSize, size);
          m_buffer.erase(0, sshrelay::kHeaderSize + size);
          return true;
        }
      }
      char chunk[65536];
      const ssize_t n = ::recv(m_fd, chunk, sizeof(chunk), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      m_buffer.append(chunk, static_cast<size_t>(n));
    }
  }

  // Exactly `size` bytes of standard input; false when it ends first.
  bool ReadStdin(size_t size, std::string& out) {
    while (m_stdin.size() < size)
      if (!FillStdin()) return false;
    out = m_stdin.substr(0, size);
    m_stdin.erase(0, size);
    return true;
  }
  // One line of standard input without its "\n"; false at its end.
  bool ReadStdinLine(std::string& line) {
    size_t end;
    while ((end = m_stdin.find('\n')) == std::string::npos)
      if (!FillStdin()) return false;
    line = m_stdin.substr(0, end);
    m_stdin.erase(0, end + 1);
    return true;
  }

  void Out(const std::string& data) { Send(sshrelay::kStdout, data); }
  void Err(const std::string& data) { Send(sshrelay::kStderr, data); }
  void Exit(int status) {
    Send(sshrelay::kExit, sshrelay::EncodeStatus(status));
    // The relay ends on the status; wait for that, so that input still on
    // its way cannot turn the close into a reset the relay would see first.
    unsigned char type;
    std::string payload;
    while (ReadFrame(type, payload)) {
    }
  }

 private:
  bool FillStdin() {
    unsigned char type;
    std::string payload;
    while (!m_stdinEnded) {
      if (!ReadFrame(type, payload)) return false;
      if (type == sshrelay::kStdinEnd) m_stdinEnded = true;
      if (type == sshrelay::kStdin) {
        m_stdin += payload;
        return true;
      }
    }
    return false;
  }
  void Send(sshrelay::FrameType type, const std::string& payload) {
    if (type != sshrelay::kExit && payload.empty()) return;
    const std::string frame = sshrelay::EncodeFrame(type, payload);
    size_t done = 0;
    while (done < frame.size()) {
      const ssize_t n = ::send(m_fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  int m_fd;
  std::string m_buffer;
  std::string m_stdin;
  bool m_stdinEnded = false;
};

namespace {

const std::string kAck(1, '\0');

// "scp [-options] [--] PATH": the option letters and the path as it stands.
bool ParseScp(const std::string& command, std::string& flags, std::string& path) {
  if (command.compare(0, 4, "scp ") != 0) return false;
  size_t at = 4;
  for (;;) {
    while (at < command.size() && command[at] == ' ') ++at;
    if (at >= command.size() || command[at] != '-') break;
    const size_t end = std::min(command.find(' ', at), command.size());
    const std::string option = command.substr(at, end - at);
    at = end;
    if (option == "--") {
      while (at < command.size() && command[at] == ' ') ++at;
      break;
    }
    flags += option.substr(1);
  }
  path = command.substr(at);
  return !path.empty() && (flags.find('t') != std::string::npos || flags.find('f') != std::string::npos);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

SimClientMachine::SimClientMachine() {}

SimClientMachine::~SimClientMachine() { Stop(); }

CWqError SimClientMachine::Start(const std::string& socketPath) {
  Stop();
  sockaddr_un address;
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENAMETOOLONG, "The socket path [%s] is too long", socketPath.c_str());
  std::strcpy(address.sun_path, socketPath.c_str());
  ::unlink(socketPath.c_str());
  if (::pipe(m_wake) != 0) return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "Cannot make a pipe");
  m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::chmod(socketPath.c_str(), 0666) != 0 || ::listen(m_listenFd, 64) != 0) {
    const int err = errno;
    Stop();
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "Cannot listen on [%s]", socketPath.c_str());
  }
  m_socketPath = socketPath;
  m_acceptThread = std::thread(&SimClientMachine::AcceptLoop, this);
  return CWqError::Success();
}

void SimClientMachine::Stop() {
  if (m_acceptThread.joinable()) {
    const char byte = 0;
    while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    m_acceptThread.join();
  }
  std::vector<std::thread> sessions;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int fd : m_sessionFds) ::shutdown(fd, SHUT_RDWR);
    sessions.swap(m_sessions);
  }
  for (std::thread& session : sessions) session.join();
  for (int* fd : {&m_listenFd, &m_wake[0], &m_wake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!m_socketPath.empty()) ::unlink(m_socketPath.c_str());
  m_socketPath.clear();
}

void SimClientMachine::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessionFds.insert(fd);
    m_sessions.emplace_back(&SimClientMachine::RunSession, this, fd);
  }
}

void SimClientMachine::RunSession(int fd) {
  Session session(fd);
  SimRemoteCommand command;
  bool haveCommand = false;
  unsigned char type;
  std::string payload;
  while (!haveCommand && session.ReadFrame(type, payload)) {
    if (type == sshrelay::kUser) command.user = payload;
    if (type == sshrelay::kCommand) {
      command.command = payload;
      haveCommand = true;
    }
  }
  if (haveCommand) {
    std::vector<CommandHandler> handlers;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_received.push_back(command);
      handlers = m_handlers;
    }
    SimRemoteReply reply;
    bool answered = false;
    for (const CommandHandler& handler : handlers)
      if ((answered = handler(command, reply))) break;
    std::string flags, path;
    if (!answered && ParseScp(command.command, flags, path)) {
      const int status = flags.find('t') != std::string::npos
                             ? CopyIn(session, path, flags.find_first_of("dr") != std::string::npos)
                             : CopyOut(session, path);
      session.Exit(status);
    } else {
      if (!answered) reply = Answer(command);
      session.Out(reply.out);
      session.Err(reply.err);
      session.Exit(reply.status);
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sessionFds.erase(fd);
  ::close(fd);
}

SimRemoteReply SimClientMachine::Answer(const SimRemoteCommand& command) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& rule : m_rules)
    if (command.command.find(rule.first) != std::string::npos) return rule.second;
  return m_default;
}

// The sink side of the legacy copy protocol: acknowledge, then take "C"
// (a file), "D"/"E" (into and out of a folder) and "T" (times) records.
int SimClientMachine::CopyIn(Session& session, const std::string& target, bool folderTarget) {
  std::vector<std::string> folders;
  session.Out(kAck);
  std::string line;
  while (session.ReadStdinLine(line)) {
    if (line.empty()) break;
    const char kind = line[0];
    if (kind == '\1' || kind == '\2') return 1;
    if (kind == 'T') {
      session.Out(kAck);
      continue;
    }
    if (kind == 'E') {
      if (!folders.empty()) folders.pop_back();
      session.Out(kAck);
      continue;
    }
    unsigned mode = 0;
    unsigned long long size = 0;
    int nameAt = 0;
    if ((kind != 'C' && kind != 'D') || std::sscanf(line.c_str() + 1, "%o %llu %n", &mode, &size, &nameAt) < 2 ||
        nameAt <= 0) {
      session.Out("\1scp: protocol error: " + line + "\n");
      return 1;
    }
    const std::string name = line.substr(1 + static_cast<size_t>(nameAt));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
      session.Out("\1scp: unexpected file name: " + name + "\n");
      return 1;
    }
    std::string folder = target;
    for (const std::string& sub : folders) folder = Join(folder, sub);
    bool intoFolder = folderTarget || !folders.empty() || target.back() == '/';
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      intoFolder = intoFolder || m_folders.count(target) != 0;
    }
    const std::string destination = intoFolder ? Join(folder, name) : target;
    if (kind == 'D') {
      folders.push_back(name);
      AddFolder(destination);
      session.Out(kAck);
      continue;
    }
    session.Out(kAck);
    std::string content, end;
    if (size > sshrelay::kMaxPayload * 8ULL || !session.ReadStdin(static_cast<size_t>(size), content) ||
        !session.ReadStdin(1, end))
      return 1;
    CopyHandler copyHandler;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      copyHandler = m_copyHandler;
    }
    std::string error;
    if (copyHandler && !copyHandler(destination, content, error)) {
      session.Out("\1" + error + "\n");
      return 1;
    }
    if (!copyHandler) PutFile(destination, content);
    session.Out(kAck);
  }
  return 0;
}

// The source side: wait for the sink's go, send the one file asked for.
int SimClientMachine::CopyOut(Session& session, const std::string& path) {
  std::string ack, content;
  if (!session.ReadStdin(1, ack)) return 1;
  if (!GetFile(path, content)) {
    session.Out("\1scp: " + path + ": No such file or directory\n");
    return 1;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  session.Out("C0644 " + std::to_string(content.size()) + " " + name + "\n");
  if (!session.ReadStdin(1, ack) || ack != kAck) return 1;
  session.Out(content + kAck);
  if (!session.ReadStdin(1, ack) || ack != kAck) return 1;
  return 0;
}

void SimClientMachine::AddHandler(CommandHandler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handlers.push_back(std::move(handler));
}

void SimClientMachine::SetCopyHandler(CopyHandler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_copyHandler = std::move(handler);
}

void SimClientMachine::ClearHandlers() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handlers.clear();
}

void SimClientMachine::AddCommandReply(const std::string& pattern, const SimRemoteReply& reply) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rules.emplace_back(pattern, reply);
}

void SimClientMachine::ClearCommandReplies() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rules.clear();
}

void SimClientMachine::SetDefaultReply(const SimRemoteReply& reply) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_default = reply;
}

void SimClientMachine::PutFile(const std::string& path, const std::string& content) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_files[path] = content;
}

bool SimClientMachine::GetFile(const std::string& path, std::string& content) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_files.find(path);
  if (found == m_files.end()) return false;
  content = found->second;
  return true;
}

std::map<std::string, std::string> SimClientMachine::Files() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_files;
}

void SimClientMachine::AddFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_folders.insert(path);
}

std::vector<SimRemoteCommand> SimClientMachine::Received() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

std::vector<std::string> SimClientMachine::Commands() const {
  std::vector<std::string> commands;
  for (const SimRemoteCommand& command : Received()) commands.push_back(command.command);
  return commands;
}

void SimClientMachine::ClearReceived() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_received.clear();
}

void SimClientMachine::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handlers.clear();
  m_copyHandler = nullptr;
  m_rules.clear();
  m_default = SimRemoteReply();
  m_files.clear();
  m_folders.clear();
  m_received.clear();
}
