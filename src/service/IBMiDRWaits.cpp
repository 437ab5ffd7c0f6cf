// The waits for the IBM i client to go down after the DR start and to come
// back after its save. Times come from the platform clock, so tests run them
// on a virtual one.
#include <cerrno>
#include <cstdint>
#include <memory>

#include "ClProxyClientConnection.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXThread.h"
#include "IBMiDRClientConnection.h"
#include "KXJobControl.h"

namespace {

const char kNotStopped[] = "KXD was not stopped by DR backup command. Failing the phase";
const char kNotBack[] = "KXD didn't started after DR backup job";

int64_t Now() { return FXGetClock().UnixTime(); }

}  // namespace

CWqError IBMiDRClientConnectionInterface::waitForServiceGoDown() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  const int64_t minutes = static_cast<int64_t>(m_ptrConfiguration->getDelayBeforeShutDown()) + 10;
  const int64_t deadline = Now() + minutes * 60;
  bool stopped = false;
  FX_LOG(0, "Wait for services to go down, or maximum of %d minutes", static_cast<int>(minutes));
  while (Now() < deadline) {
    FXThread::Sleep(60000);
    std::unique_ptr<ClProxyClientConnection> probe(new ClProxyClientConnection());
    probe->setDisconnectOnDelete(true);
    CWqError result = probe->connectToClient(
        m_ptrConfiguration->getClientName(), static_cast<uint16_t>(m_ptrConfiguration->getClientPort()),
        m_iVelliconId, m_iAppId, static_cast<int32_t>(m_ulClientId), true);
    if (!result.IsError()) continue;
    FX_LOG(1, "We can't connect to client. KXD stopped by backup command.");
    FX_LOG(0, "Delay 2 minutes before moving to next phase.");
    FXThread::Sleep(120000);
    stopped = true;
    break;
  }
  if (stopped) return CWqError::Success();
  FX_LOG(-1, "%s", kNotStopped);
  RaisePendingCause(EV_DR_SERVICES_NOT_STOPPED);
  return FXErrorUtil::ErrorErrNo(FX_HERE, EAGAIN, "%s", kNotStopped);
}

CWqError IBMiDRClientConnectionInterface::waitForServiceComeUp() {
  if (!m_ptrConfiguration) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "DR connection not configured");
  const int64_t start = Now();
  const int64_t deadline = start + (static_cast<int64_t>(m_ptrConfiguration->getMaxJobDuration()) + 15) * 60;
  int64_t nextAttempt = start + 60;
  bool attempted = false;
  bool connected = false;
  FX_LOG(0, "Waiting for client to start after IPL (remaining wait time is %d minutes).",
         static_cast<int>((deadline - Now()) / 60));
  for (;;) {
    // A deadline before the first attempt still gets one: success means a
    // connection the next step can use.
    if (Now() >= deadline && attempted) break;
    if (m_pJobCtrlClient && m_pJobCtrlClient->checkQuitFlag()) return FXErrorUtil::ErrorInt(FX_HERE, DR_ERROR_RETRY_LATER);
    if (nextAttempt - Now() < 1 || (Now() >= deadline && !attempted)) {
      if (m_ptrClientConnection) {
        m_ptrClientConnection->getConnectionSocket().Shutdown(2);
        m_ptrClientConnection->getConnectionSocket().Close();
        DropConnection();
      }
      FX_LOG(0, "Attempting connect to client...");
      attempted = true;
      CWqError result = connectToClientService();
      if (!result.IsError()) {
        FX_LOG(0, "client KXD is back");
        connected = true;
        break;
      }
      FX_LOG(3, "connectToClient failed. %s", result.AsString().c_str());
      nextAttempt = Now() + 60;
      FX_LOG(0, "Waiting for client to start after IPL (remaining wait time is %d minutes).",
             static_cast<int>((deadline - Now()) / 60));
      continue;
    }
    FXThread::Sleep(10000);
  }
  if (connected) return CWqError::Success();
  FX_LOG(-1, "%s", kNotBack);
  ScheduleCleanup();
  RaisePendingCause(EV_DR_CLIENT_NOT_BACK);
  return FXErrorUtil::ErrorErrNo(FX_HERE, EAGAIN, "%s", kNotBack);
}
