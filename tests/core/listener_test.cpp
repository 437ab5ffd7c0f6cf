// The listening connection: port ranges (each candidate tried once, the upper
// bound never, invalid ranges falling back to a port the system chooses),
// fixed ports, binding without listening, and the accept wait.
#include <arpa/inet.h>
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "ClProxySrvConnection.h"
#include "CoreTestUtil.h"
#include "ScopedSettingsRoot.h"

using namespace coretest;

namespace {

// Sockets bound (not listening) to ports of all interfaces, so that the
// listener cannot bind them; closed at the end of the scope.
class HeldPorts {
 public:
  ~HeldPorts() { Release(); }
  // Finds `count` consecutive free ports below the ephemeral range and holds
  // those whose offset `hold` says.
  bool Find(int count, const std::vector<bool>& hold) {
    for (int tries = 0; tries < 200; ++tries) {
      Release();
      base = 20000 + std::rand() % 12000;
      bool allFree = true;
      std::vector<int> probes;
      for (int i = 0; i < count && allFree; ++i) {
        int fd = BindAny(base + i);
        if (fd < 0) allFree = false;
        else probes.push_back(fd);
      }
      for (size_t i = 0; i < probes.size(); ++i) {
        if (allFree && hold[i]) m_fds.push_back(probes[i]);
        else ::close(probes[i]);
      }
      if (allFree) return true;
    }
    return false;
  }
  void Release() {
    for (int fd : m_fds) ::close(fd);
    m_fds.clear();
  }
  static int BindAny(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  int base = 0;

 private:
  std::vector<int> m_fds;
};

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

uint16_t BoundPort(ClProxySrvConnection& listener) {
  CWqIPAddr local;
  if (listener.getProxySocket().GetLocalAddress(local).IsError()) return 0;
  return local.GetPortNumber();
}

int ReuseAddress(ClProxySrvConnection& listener) {
  int value = -1;
  socklen_t length = sizeof value;
  ::getsockopt(listener.getProxySocket().GetSocketDescriptor(), SOL_SOCKET, SO_REUSEADDR, &value, &length);
  return value;
}

CWqError ConnectTo(ClProxyConnection& link, uint16_t port) {
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(port);
  if (!result.IsError()) result = link.getConnectionSocket().Create(AF_INET);
  if (!result.IsError()) result = link.getConnectionSocket().Connect(address);
  return result;
}

std::set<int> PeekedPorts(const ScopedLogCapture& log) {
  std::set<int> ports;
  for (const std::string& line : log.Lines())
    if (line.rfind("Peek port ", 0) == 0) ports.insert(std::atoi(line.c_str() + 10));
  return ports;
}

class ListenerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(settingsRoot.path().empty()); }
  void SetRange(const std::string& range) { SetString("ProxyClients", "dynamicPortRange", range); }

  ScopedSettingsRoot settingsRoot;
  ScopedLogCapture log{3};
};

TEST_F(ListenerTest, WithoutRangeTheSystemChoosesAPortAndAPeerGetsIn) {
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer(0).IsError());
  const uint16_t port = BoundPort(listener);
  EXPECT_NE(0, port);
  EXPECT_EQ(0, ReuseAddress(listener));
  EXPECT_FALSE(log.Has("Using ports"));
  EXPECT_FALSE(log.Has("Peek port"));
  EXPECT_FALSE(log.Has("Using port "));

  // A peer that connected before the accept is taken at once, even without a limit.
  ClProxyConnection peer;
  ASSERT_FALSE(ConnectTo(peer, port).IsError());
  ASSERT_FALSE(listener.acceptClient(0).IsError());
  EXPECT_TRUE(listener.getConnectionSocket().IsValid());
  EXPECT_TRUE(log.Has("Connected from client:127.0.0.1:"));
  EXPECT_TRUE(log.Has(" on port " + std::to_string(port) + " socket:"));
}

TEST_F(ListenerTest, RangeOfThreeTriesExactlyThoseThreeOnceEach) {
  HeldPorts held;
  ASSERT_TRUE(held.Find(4, {true, true, true, false}));
  const int from = held.base;
  SetRange(std::to_string(from) + "-" + std::to_string(from + 3));
  const size_t descriptorsBefore = OpenDescriptors();
  {
    ClProxySrvConnection listener;
    CWqError result = listener.initServer(0);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EADDRINUSE)) << result.AsString();
    EXPECT_NE(std::string::npos, Texts(result).find("Failed to bind socket"));
    EXPECT_TRUE(log.Has("Using ports " + std::to_string(from) + "-" + std::to_string(from + 3) +
                        " to establish connection from client."));
    EXPECT_EQ((std::set<int>{from, from + 1, from + 2}), PeekedPorts(log));
    EXPECT_EQ(3u, log.Count("Peek port "));
    EXPECT_EQ(3u, log.Count("Calling bind for port "));
    // Only the last attempt's socket is left, for the owner to close.
    EXPECT_LE(OpenDescriptors(), descriptorsBefore + 1);
  }
  EXPECT_EQ(descriptorsBefore, OpenDescriptors());
}

TEST_F(ListenerTest, RangeFindsItsOneFreePort) {
  HeldPorts held;
  ASSERT_TRUE(held.Find(3, {true, false, true}));
  const int from = held.base;
  SetRange(std::to_string(from) + "-" + std::to_string(from + 3));
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer(0).IsError());
  EXPECT_EQ(from + 1, BoundPort(listener));
  EXPECT_EQ(0, ReuseAddress(listener));
  std::set<int> peeked = PeekedPorts(log);
  EXPECT_EQ(1u, peeked.count(from + 1));
  for (int port : peeked) EXPECT_TRUE(port >= from && port < from + 3) << port;
  EXPECT_TRUE(log.Has("Using port " + std::to_string(from + 1) + " to establish connection."));
}

TEST_F(ListenerTest, InvalidRangesFallBackToAPortTheSystemChooses) {
  const char* kNotTwoNumbers = "Port range value for dynamicPortRange is invalid. Use <from>-<to>.";
  const char* kOutOfBounds = "From minimal is 1, and To maximum is 65535.";
  struct Case {
    const char* range;
    const char* line;  // null: no line
  } cases[] = {
      {"5003-5000", kOutOfBounds}, {"0-100", kOutOfBounds},   {"5000-70000", kOutOfBounds},
      {"5000-5000", kOutOfBounds}, {"ports", kNotTwoNumbers}, {"5000", kNotTwoNumbers},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    log.Clear();
    SetRange(c.range);
    ClProxySrvConnection listener;
    ASSERT_FALSE(listener.initServer(0).IsError());
    EXPECT_NE(0, BoundPort(listener));
    EXPECT_EQ(0, ReuseAddress(listener));
    EXPECT_FALSE(log.Has("Peek port"));
    EXPECT_FALSE(log.Has("Using ports"));
    if (c.line) {
      ASSERT_EQ(1u, log.Count(kNotTwoNumbers));
      EXPECT_TRUE(log.Has(c.line));
    } else {
      EXPECT_FALSE(log.Has(kNotTwoNumbers));
    }
  }
}

TEST_F(ListenerTest, FixedPortIgnoresTheRangeAndReusesTheAddress) {
  HeldPorts held;
  ASSERT_TRUE(held.Find(1, {false}));
  const uint16_t port = static_cast<uint16_t>(held.base);
  SetRange("1000-1010");
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer("127.0.0.1", port).IsError());
  EXPECT_EQ(port, BoundPort(listener));
  EXPECT_EQ(1, ReuseAddress(listener));
  EXPECT_FALSE(log.Has("Using ports"));
  EXPECT_TRUE(log.Has("Using port " + std::to_string(port) + " to establish connection."));

  // The port is taken now: one attempt, which fails.
  log.Clear();
  ClProxySrvConnection second;
  CWqError result = second.initServer("127.0.0.1", port);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EADDRINUSE)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("Failed to bind socket"));
  EXPECT_EQ(1u, log.Count("Calling bind for port "));
}

TEST_F(ListenerTest, BacklogZeroBindsWithoutListening) {
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer(static_cast<uint16_t>(0), static_cast<uint16_t>(0)).IsError());
  const uint16_t port = BoundPort(listener);
  ASSERT_NE(0, port);
  ClProxyConnection peer;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(ConnectTo(peer, port), ECONNREFUSED));
}

TEST_F(ListenerTest, AcceptWithoutAPeerEndsWithError62) {
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer("127.0.0.1", 0).IsError());
  CWqError result = listener.acceptClient(1);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 62)) << result.AsString();
  EXPECT_NE(std::string::npos, Texts(result).find("no connection request received from the client"));
  EXPECT_FALSE(listener.getConnectionSocket().IsValid());
}

std::atomic<int> g_signals(0);
void CountSignal(int) { ++g_signals; }

TEST_F(ListenerTest, SignalDuringTheAcceptWaitRestartsItWithTheFullTime) {
  // No SA_RESTART: the wait itself sees the interruption.
  struct sigaction action = {}, previous = {};
  action.sa_handler = CountSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(0, ::sigaction(SIGUSR1, &action, &previous));
  g_signals = 0;
  ClProxySrvConnection listener;
  ASSERT_FALSE(listener.initServer("127.0.0.1", 0).IsError());
  const pthread_t waiter = ::pthread_self();
  const auto start = std::chrono::steady_clock::now();
  std::thread alarm([waiter] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ::pthread_kill(waiter, SIGUSR1);
  });
  CWqError result = listener.acceptClient(1);
  const auto waited = std::chrono::steady_clock::now() - start;
  alarm.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 62)) << result.AsString();
  EXPECT_EQ(1, g_signals.load());
  // The signal came after 0.4 s; a full second more was waited after it.
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
}

TEST_F(ListenerTest, AcceptWithoutListeningSocketLogsTheAssumptionAndFails) {
  ClProxySrvConnection listener;
  CWqError result = listener.acceptClient(0);  // would block for ever on a listener
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EBADF)) << result.AsString();
  EXPECT_TRUE(log.Has("proxyListenSocket.GetSocketDescriptor() >= 0"));
}

}  // namespace
