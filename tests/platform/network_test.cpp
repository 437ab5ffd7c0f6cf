// The platform network connection over loopback: a connect and a send keep
// the caller's limit against a listener that never accepts and a peer that
// never reads; the frame reader keeps a frame that arrives in pieces.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CKxNetwork.h"
#include "CNMessageBase.h"
#include "FXErrorUtil.h"
#include "KxNetFrame.h"
#include "KxXdr.h"
#include "ScopedSettingsRoot.h"

namespace {

const char kHost[] = "localhost";
const char kService[] = "NetworkTestService";

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// A loopback listener on a free port, registered as kService.
struct Listener {
  int fd = -1;
  uint16_t port = 0;

  explicit Listener(int backlog) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
      return;
    port = ntohs(address.sin_port);
    CKxNetwork::RegisterService(kHost, kService, port);
  }
  ~Listener() {
    if (fd >= 0) ::close(fd);
  }
};

// Connects without waiting; true when the connection completed within a
// short while (the listener's queue had room).
bool ConnectCompletes(uint16_t port, int& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
  pollfd entry{fd, POLLOUT, 0};
  return ::poll(&entry, 1, 300) == 1;
}

TEST(NetworkLimitTest, ConnectToAListenerThatNeverAccepts) {
  ScopedSettingsRoot root;
  Listener listener(0);
  ASSERT_NE(0, listener.port);
  // Fill the accept queue: a connect beyond it is never answered.
  std::vector<int> fillers;
  for (int i = 0; i < 16; ++i) {
    int fd = -1;
    const bool completed = ConnectCompletes(listener.port, fd);
    fillers.push_back(fd);
    if (!completed) break;
  }
  ASSERT_LT(fillers.size(), 16u) << "the listener's queue never filled";

  CKxNetwork network;
  bool flag = false;
  const auto start = std::chrono::steady_clock::now();
  CWqError result = network.Attach_RemoteService(kHost, kService, "caller", 1, flag);
  const int64_t elapsed = ElapsedMs(start);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIMEDOUT)) << result.AsString();
  EXPECT_NE(std::string::npos, result.AsString().find("within 1000 ms")) << result.AsString();
  EXPECT_GE(elapsed, 900);
  EXPECT_LT(elapsed, 4000);
  EXPECT_FALSE(network.IsConnected());
  for (int fd : fillers) ::close(fd);
}

// Accepts one connection, answers the attach, then reads nothing more
// until told to stop.
class SilentPeer {
 public:
  explicit SilentPeer(int listener) : m_thread([this, listener] { Serve(listener); }) {}
  ~SilentPeer() {
    m_stop = true;
    m_thread.join();
  }

 private:
  void Serve(int listener) {
    pollfd entry{listener, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1) return;
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    KxNetFrameReader reader;
    uint32_t type = 0;
    std::vector<uint8_t> body;
    bool timedOut = false;
    if (!reader.Read(fd, 5000, type, body, timedOut).IsError()) {
      std::vector<uint8_t> reply;
      KxXdrWriter(reply).PutInt32(0);
      KxNetWriteFrame(fd, KXNET_ATTACH_REPLY_MSG, reply.data(), reply.size(), 5000);
    }
    while (!m_stop) ::poll(nullptr, 0, 10);
    ::close(fd);
  }

  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

TEST(NetworkLimitTest, SendToAPeerThatNeverReads) {
  ScopedSettingsRoot root;
  Listener listener(4);
  ASSERT_NE(0, listener.port);
  SilentPeer peer(listener.fd);

  CKxNetwork network;
  bool flag = false;
  ASSERT_FALSE(network.Attach_RemoteService(kHost, kService, "caller", 5, flag).IsError());
  CNMessageBase message(1, 2);
  message.setstring(1, 1, std::string(60000, 'x'));
  // The buffers on both sides fill; the send that finds no room fails
  // within its second and closes the link.
  CWqError result;
  int64_t lastMs = 0;
  for (int i = 0; i < 2000 && !result.IsError(); ++i) {
    const auto start = std::chrono::steady_clock::now();
    result = network.SendXMLMessage(message, 0, 1, flag);
    lastMs = ElapsedMs(start);
  }
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_LT(lastMs, 4000);
  EXPECT_FALSE(network.IsConnected());
}

// Writes `bytes` to `fd` (one end of a socket pair).
void Feed(int fd, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd, bytes.data(), bytes.size()));
}

std::vector<uint8_t> Frame(uint32_t type, const std::string& body) {
  std::vector<uint8_t> frame(kKxNetHeaderSize);
  KxNetEncodeHeader(type, static_cast<uint32_t>(body.size()), frame.data());
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

TEST(NetFrameReaderTest, PiecesAndLimits) {
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
  KxNetFrameReader reader;
  uint32_t type = 0;
  std::vector<uint8_t> body;
  bool timedOut = false;
  const std::vector<uint8_t> frame = Frame(0x1234, "hello");

  // A header split in two, each piece followed by a time-out that keeps it;
  // then the body in two.
  Feed(pair[1], std::vector<uint8_t>(frame.begin(), frame.begin() + 3));
  CWqError result = reader.Read(pair[0], 0, type, body, timedOut);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME));
  EXPECT_TRUE(timedOut);
  Feed(pair[1], std::vector<uint8_t>(frame.begin() + 3, frame.begin() + 10));
  result = reader.Read(pair[0], 50, type, body, timedOut);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME));
  Feed(pair[1], std::vector<uint8_t>(frame.begin() + 10, frame.end()));
  ASSERT_FALSE(reader.Read(pair[0], 1000, type, body, timedOut).IsError());
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(0x1234u, type);
  EXPECT_EQ("hello", std::string(body.begin(), body.end()));

  // An empty body, then a length over the limit: refused before anything is
  // allocated for it.
  Feed(pair[1], Frame(7, ""));
  ASSERT_FALSE(reader.Read(pair[0], 1000, type, body, timedOut).IsError());
  EXPECT_EQ(7u, type);
  EXPECT_TRUE(body.empty());
  std::vector<uint8_t> huge(kKxNetHeaderSize);
  KxNetEncodeHeader(8, kKxNetMaxBody + 1, huge.data());
  Feed(pair[1], huge);
  result = reader.Read(pair[0], 1000, type, body, timedOut);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EPROTO)) << result.AsString();
  EXPECT_FALSE(timedOut);

  // The peer gone inside a frame.
  reader.Reset();
  Feed(pair[1], std::vector<uint8_t>(frame.begin(), frame.begin() + 9));
  ::close(pair[1]);
  result = reader.Read(pair[0], 1000, type, body, timedOut);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOTCONN));
  EXPECT_NE(std::string::npos, result.AsString().find("inside a frame"));
  ::close(pair[0]);
}

TEST(NetFrameWriterTest, APeerThatNeverReadsEndsTheWriteAtTheLimit) {
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
  const std::vector<uint8_t> body(kKxNetMaxBody, 0x5a);
  CWqError result;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 1000 && !result.IsError(); ++i)
    result = KxNetWriteFrame(pair[0], 9, body.data(), body.size(), 300);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();
  EXPECT_LT(ElapsedMs(start), 3000);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(KxNetWriteFrame(pair[0], 9, body.data(), body.size() + 1, 300), EMSGSIZE));
  ::close(pair[0]);
  ::close(pair[1]);
}

}  // namespace
