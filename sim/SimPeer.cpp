#include "SimPeer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int ClampMs(int64_t ms) { return ms > INT_MAX ? INT_MAX : static_cast<int>(ms); }

}  // namespace

SimPeer::SimPeer(std::unique_ptr<ClProxyConnection> connection, SimRecorder& recorder, const SimStopSignal& stop,
                 std::function<void()> releaseWake)
    : m_connection(std::move(connection)), m_recorder(recorder), m_stop(stop), m_releaseWake(std::move(releaseWake)) {}

SimPeer::~SimPeer() { ReleaseWake(); }

void SimPeer::ReleaseWake() {
  if (m_releaseWake) {
    m_releaseWake();
    m_releaseWake = nullptr;
  }
}

CWqError SimPeer::Receive(const std::vector<ClProxyMsgType>& types, int seconds,
                          std::shared_ptr<ClProxyMsg>* received) {
  const int64_t deadlineMs = seconds > 0 ? NowMs() + static_cast<int64_t>(seconds) * 1000 : 0;
  for (;;) {
    if (m_stop.IsFired()) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
    ClProxyMsg* raw = nullptr;
    // Take what has arrived; a frame still in transit stays in the link.
    CWqError result = m_connection->recvMessage(raw, -1);
    if (!result.IsError()) {
      std::shared_ptr<ClProxyMsg> message(raw);
      m_recorder.AddReceived(message);
      if (received) *received = message;
      if (types.empty()) return CWqError::Success();
      for (ClProxyMsgType type : types)
        if (type == message->getMsgType()) return CWqError::Success();
      return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Simulated client expected another message than type 0x%04x",
                                     static_cast<unsigned>(message->getMsgType()));
    }
    if (!FXErrorUtil::IsErrNo(result, ETIME)) return result;

    int waitMs = -1;
    if (seconds > 0) {
      int64_t leftMs = deadlineMs - NowMs();
      if (leftMs <= 0) return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "No message within %d seconds", seconds);
      waitMs = ClampMs(leftMs);
    }
    pollfd fds[2];
    fds[0].fd = m_connection->getConnectionSocket().GetSocketDescriptor();
    fds[0].events = POLLIN;
    fds[0].revents = 0;
    fds[1].fd = m_stop.WaitDescriptor();
    fds[1].events = POLLIN;
    fds[1].revents = 0;
    if (poll(fds, 2, waitMs) < 0 && errno != EINTR) {
      int errNo = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "poll failed: %s", std::strerror(errNo));
    }
  }
}

CWqError SimPeer::Send(ClProxyMsg& message) { return m_connection->sendMessage(&message); }

CWqError SimPeer::SendRaw(const std::vector<uint8_t>& bytes) {
  const int descriptor = m_connection->getConnectionSocket().GetSocketDescriptor();
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    int errNo = n < 0 ? errno : EIO;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Raw send failed after %zu of %zu bytes: %s", sent, bytes.size(),
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

bool SimPeer::WaitSilently(int64_t milliseconds) {
  const int64_t deadlineMs = NowMs() + (milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    if (m_stop.IsFired()) return false;
    int waitMs = -1;
    if (milliseconds >= 0) {
      int64_t leftMs = deadlineMs - NowMs();
      if (leftMs <= 0) return true;
      waitMs = ClampMs(leftMs);
    }
    pollfd stop;
    stop.fd = m_stop.WaitDescriptor();
    stop.events = POLLIN;
    stop.revents = 0;
    poll(&stop, 1, waitMs);
  }
}

void SimPeer::CloseOrderly() {
  CWqSocket& socket = m_connection->getConnectionSocket();
  if (!socket.IsValid()) return;
  // Unread input would turn the close into a reset: drop it first.
  uint8_t sink[4096];
  while (recv(socket.GetSocketDescriptor(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  (void)socket.Shutdown(SHUT_RDWR);
}

void SimPeer::Abort() {
  CWqSocket& socket = m_connection->getConnectionSocket();
  if (!socket.IsValid()) return;
  // The last descriptor must go for the reset to leave.
  ReleaseWake();
  linger abortive;
  abortive.l_onoff = 1;
  abortive.l_linger = 0;
  setsockopt(socket.GetSocketDescriptor(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  (void)socket.Close();
}

CWqError SimPeer::RunStep(const SimStep& step) {
  switch (step.kind) {
    case SimStep::kExpect:
      return Receive(step.types, step.seconds);
    case SimStep::kReply:
      if (!step.message) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Reply step without a message");
      return Send(*step.message);
    case SimStep::kSilent:
      if (!WaitSilently(step.milliseconds))
        return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
      return CWqError::Success();
    case SimStep::kSendRaw:
      return SendRaw(step.bytes);
    case SimStep::kClose:
      CloseOrderly();
      return CWqError::Success();
    case SimStep::kReset:
      Abort();
      return CWqError::Success();
    case SimStep::kCall:
      if (!step.action) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Call step without an action");
      return step.action(*this);
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unknown step kind %d", static_cast<int>(step.kind));
}

CWqError SimPeer::RunSteps(const SimScript& script) {
  for (const SimStep& step : script.Steps()) {
    CWqError result = RunStep(step);
    if (result.IsError()) return result;
    if (step.kind == SimStep::kClose || step.kind == SimStep::kReset) break;
  }
  return CWqError::Success();
}

void SimPeer::Run(const SimScript& script) {
  bool ended = false;
  const std::vector<SimStep>& steps = script.Steps();
  for (size_t i = 0; i < steps.size() && !ended; ++i) {
    CWqError result = RunStep(steps[i]);
    if (result.IsError()) {
      result.Push(FX_HERE, "Step %zu of the simulated client's script failed", i);
      FX_LOG(1, "%s", result.AsString().c_str());
      m_recorder.SetFailure(result);
      CloseOrderly();
      ended = true;
      break;
    }
    m_recorder.StepDone();
    if (steps[i].kind == SimStep::kClose || steps[i].kind == SimStep::kReset) ended = true;
  }
  if (!ended) {
    // Record what else arrives until the proxy closes or the daemon stops.
    // A message that does not decode is recorded as nothing and skipped;
    // a broken link ends the wait.
    for (;;) {
      CWqError result = Receive(std::vector<ClProxyMsgType>(), 0);
      if (!result.IsError()) continue;
      if (FXErrorUtil::IsErrNo(result, EPROTO) && m_connection->getConnectionSocket().IsValid()) continue;
      break;
    }
  }
  ReleaseWake();
  (void)m_connection->getConnectionSocket().Close();
  m_recorder.Finish();
}

bool SimLinkEnded(const CWqError& error) {
  return FXErrorUtil::IsErrNo(error, ENOTCONN) || FXErrorUtil::IsErrNo(error, ECONNRESET) ||
         FXErrorUtil::IsErrNo(error, EPIPE) || FXErrorUtil::IsErrNo(error, ECANCELED) ||
         FXErrorUtil::IsErrNo(error, EBADF);
}
