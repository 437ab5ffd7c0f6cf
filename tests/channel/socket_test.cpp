// The platform's socket classes as the connection code relies on them:
// errno-kind failures with the system's number, and waits that tell a
// time-out and an interruption apart.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "CWqIPAddr.h"
#include "CWqSocket.h"
#include "CWqSocketSelector.h"
#include "FXErrorUtil.h"

namespace {

// A socket bound to 127.0.0.1 on a port the system picks.
CWqError BindLoopback(CWqSocket& socket, CWqIPAddr& bound) {
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = socket.Create(AF_INET);
  if (!result.IsError()) result = socket.Bind(address);
  if (!result.IsError()) result = socket.GetLocalAddress(bound);
  return result;
}

TEST(SocketTest, RefusedConnectCarriesErrno111) {
  // Bound but not listening: a connect to it is refused at once.
  CWqSocket bound;
  CWqIPAddr address;
  CWqError result = BindLoopback(bound, address);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  CWqSocket client;
  ASSERT_FALSE(client.Create(AF_INET).IsError());
  result = client.Connect(address);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, 111)) << result.AsString();
  EXPECT_FALSE(client.Close().IsError());
  EXPECT_FALSE(client.IsValid());
  EXPECT_FALSE(bound.Close().IsError());
}

TEST(SocketTest, AddressResolutionAndItsFailures) {
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("localhost", address, AF_INET);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(address.GetAddressFamily(), AF_INET);
  EXPECT_EQ(address.AsString(), "127.0.0.1");
  ASSERT_FALSE(address.SetPortNumber(9401).IsError());
  EXPECT_EQ(address.GetPortNumber(), 9401);

  result = CWqIPAddr::GetByName("", address, AF_INET);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
  EXPECT_EQ(address.GetPortNumber(), 9401) << "a failed resolve leaves the address alone";
  EXPECT_TRUE(FXErrorUtil::IsErrNo(CWqIPAddr().SetPortNumber(1), EINVAL));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(address.SetPortNumber(65536), EINVAL));
}

TEST(SocketTest, OperationsOnAnOpenSocketThatWouldDropItsDescriptorAreRefused) {
  CWqSocket socket;
  ASSERT_FALSE(socket.Create(AF_INET).IsError());
  CWqSocket copy = socket;
  EXPECT_TRUE(copy == socket);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(socket.Create(AF_INET), EBUSY));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(socket.AttachConnectedSocket(CWqSocketDescriptor(0)), EBUSY));
  EXPECT_EQ(socket.GetSocketDescriptor(), copy.GetSocketDescriptor());
  socket.Clear();
  EXPECT_FALSE(socket.IsValid());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(socket.Shutdown(2), EBADF));
}

extern "C" void IgnoreAlarm(int) {}

TEST(SocketTest, SelectorTellsReadableTimedOutAndInterruptedApart) {
  CWqSocket listener;
  CWqIPAddr address;
  ASSERT_FALSE(BindLoopback(listener, address).IsError());
  ASSERT_FALSE(listener.Listen(5).IsError());

  CWqSocketSelector selector;
  selector.SetReadSocket(listener);
  selector.SetExceptionSocket(listener);
  bool timedOut = false;
  CWqError result = selector.Select(0, &timedOut);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(timedOut);
  result = selector.Select(0);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ETIME)) << result.AsString();

  // A repeating timer makes sure a signal lands while the wait runs.
  struct sigaction action, previous;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = IgnoreAlarm;  // no SA_RESTART: the wait must see EINTR
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval every20ms = {{0, 20000}, {0, 20000}}, off = {{0, 0}, {0, 0}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every20ms, nullptr), 0);
  result = selector.Select(30, &timedOut);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EINTR)) << result.AsString();

  CWqSocket client;
  ASSERT_FALSE(client.Create(AF_INET).IsError());
  ASSERT_FALSE(client.Connect(address).IsError());
  result = selector.Select(10, &timedOut);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(selector.IsReadSelected(listener));
  EXPECT_FALSE(selector.IsExceptionSelected(listener));
  ASSERT_EQ(selector.GetReadSelected().size(), 1u);
  EXPECT_TRUE(selector.GetReadSelected()[0] == listener);

  CWqSocket accepted;
  result = listener.Accept(accepted);
  ASSERT_FALSE(result.IsError()) << result.AsString();
  CWqIPAddr peer, local;
  ASSERT_FALSE(accepted.GetPeerAddress(peer).IsError());
  ASSERT_FALSE(client.GetLocalAddress(local).IsError());
  EXPECT_TRUE(peer == local);

  CWqSocket closed;
  selector.ClearAll();
  selector.SetReadSocket(closed);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(selector.Select(1), EBADF));

  accepted.Clear();
  client.Clear();
  listener.Clear();
}

}  // namespace
