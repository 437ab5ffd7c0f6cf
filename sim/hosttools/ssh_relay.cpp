// The client machine's login program: sshd runs it (ForceCommand) for every
// login of the test user. It hands $SSH_ORIGINAL_COMMAND and the login's
// standard input to the emulated client machine over the Unix socket named
// by its one argument, writes what the machine answers to its standard
// output and error, and exits with the machine's status (255 when the
// machine cannot be reached or goes away without one).
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "SshRelayWire.h"

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Send(int fd, sshrelay::FrameType type, const std::string& payload) {
  const std::string frame = sshrelay::EncodeFrame(type, payload);
  return WriteAll(fd, frame.data(), frame.size());
}

int Fail(const char* what) {
  std::fprintf(stderr, "ssh relay: %s: %s\n", what, strerror(errno));
  return 255;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ssh_relay SOCKET\n");
    return 255;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (sock < 0) return Fail("socket");
  sockaddr_un address;
  memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  if (strlen(argv[1]) >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "ssh relay: socket path too long\n");
    return 255;
  }
  strcpy(address.sun_path, argv[1]);
  if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return Fail("connect");

  const char* command = getenv("SSH_ORIGINAL_COMMAND");
  const char* user = getenv("USER");
  if (!Send(sock, sshrelay::kUser, user ? user : "") || !Send(sock, sshrelay::kCommand, command ? command : ""))
    return Fail("send");

  bool stdinOpen = true;
  std::string pending;
  char buffer[65536];
  for (;;) {
    pollfd fds[2] = {{sock, POLLIN, 0}, {0, POLLIN, 0}};
    const int count = ::poll(fds, stdinOpen ? 2 : 1, -1);
    if (count < 0) {
      if (errno == EINTR) continue;
      return Fail("poll");
    }
    if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(0, buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        // A machine that has already answered may close before reading all.
        Send(sock, sshrelay::kStdin, std::string(buffer, static_cast<size_t>(n)));
      } else {
        Send(sock, sshrelay::kStdinEnd, "");
        stdinOpen = false;
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(sock, buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        std::fprintf(stderr, "ssh relay: the client machine went away\n");
        return 255;
      }
      pending.append(buffer, static_cast<size_t>(n));
      while (pending.size() >= sshrelay::kHeaderSize) {
        const unsigned char* header = reinterpret_cast<const unsigned char*>(pending.data());
        const uint32_t size = sshrelay::DecodeSize(header);
        if (size > sshrelay::kMaxPayload) {
          std::fprintf(stderr, "ssh relay: frame too large\n");
          return 255;
        }
        if (pending.size() < sshrelay::kHeaderSize + size) break;
        const std::string payload = pending.substr(sshrelay::kHeaderSize, size);
        const unsigned char type = header[0];
        pending.erase(0, sshrelay::kHeaderSize + size);
        if (type == sshrelay::kStdout) {
          if (!WriteAll(1, payload.data(), payload.size())) return Fail("stdout");
        } else if (type == sshrelay::kStderr) {
          WriteAll(2, payload.data(), payload.size());
        } else if (type == sshrelay::kExit) {
          return sshrelay::DecodeStatus(payload);
        }
      }
    }
  }
}
